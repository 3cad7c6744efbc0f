#include "jobresults/JobResultsReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "jobresults/detail/Durability.h"

namespace jobresults {

namespace {

// A temporary name beside `path`, opened; -1 with errno set on failure.
int CreateBeside(const std::string& path, std::string& temporary) {
    temporary = path + ".XXXXXX";
    return mkostemp(&temporary[0], O_CLOEXEC);
}

// The text in the file and on the disk, with `mode` less the umask.
int Fill(int fd, std::string_view text, mode_t mode) {
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, mode & ~mask) != 0) return errno;
    if (const int failed = WriteFully(fd, text.data(), text.size())) return failed;
    return fsync(fd) == 0 ? 0 : errno;
}

}  // namespace

int WriteFully(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        if (written == 0) return EIO;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

ReplaceOutcome ReplaceFileDurably(const std::string& path, std::string_view text, mode_t mode) {
    std::string temporary;
    const int fd = CreateBeside(path, temporary);
    if (fd < 0) return {ReplaceStep::kCreate, errno};
    int error = Fill(fd, text, mode);
    close(fd);
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return {ReplaceStep::kWrite, error};
    }
    // The rename is durable once the directory is synced.
    SyncHoldingDirectory(path);
    return {};
}

int CheckReplaceable(const std::string& path) {
    std::string probe;
    const int fd = CreateBeside(path, probe);
    if (fd < 0) return errno;
    close(fd);
    unlink(probe.c_str());
    return 0;
}

}  // namespace jobresults
