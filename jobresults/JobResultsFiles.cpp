// Listing the files of a directory name: one pass over the host directory,
// each file looked at through one descriptor, so that its size, identity
// and ending belong together.
#include "jobresults/JobResultsFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "jobresults/JobResultsNames.h"
#include "jobresults/detail/FileWindow.h"

namespace jobresults {
namespace {

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::int64_t Nanoseconds(const struct statx_timestamp& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The ending of the file `fd` is open on, `size` bytes long.
FileEnding EndingAt(int fd, std::uint64_t size) {
    char tail[kFinalEndTag.size()];
    const auto wanted = static_cast<size_t>(std::min<std::uint64_t>(size, sizeof tail));
    ssize_t count;
    do {
        count = pread64(fd, tail, wanted, static_cast<off64_t>(size - wanted));
    } while (count < 0 && errno == EINTR);
    if (count != static_cast<ssize_t>(wanted)) return FileEnding::kNeither;
    const std::string_view last(tail, wanted);
    if (EndsWith(last, kFinalEndTag)) return FileEnding::kSaved;
    return EndsWith(last, kTrailer) ? FileEnding::kOpen : FileEnding::kNeither;
}

// statx of the file `fd` is open on; false for anything but a regular file.
bool Describe(int fd, ResultsFile& file) {
    struct statx status {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &status) != 0 ||
        !S_ISREG(status.stx_mode)) {
        return false;
    }
    file.size = status.stx_size;
    file.modifiedNanoseconds = Nanoseconds(status.stx_mtime);
    file.identity.device = (std::uint64_t{status.stx_dev_major} << 32) | status.stx_dev_minor;
    file.identity.inode = status.stx_ino;
    if (status.stx_mask & STATX_BTIME)
        file.identity.birthNanoseconds = Nanoseconds(status.stx_btime);
    return true;
}

// Looks at the entry `entry` of the open directory; false when it is no
// regular file, or went.
bool LookAt(int directory, const char* entry, ResultsFile& file) {
    int fd;
    do {
        fd = openat(directory, entry, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    const bool regular = Describe(fd, file);
    if (regular) file.ending = EndingAt(fd, file.size);
    close(fd);
    return regular;
}

}  // namespace

FileEnding EndingOfFile(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) return FileEnding::kNeither;
    return EndingAt(fd, static_cast<std::uint64_t>(status.st_size));
}

int DescribeResultsFile(const std::string& dirName, const std::string& fileName,
                        ResultsFile& file) {
    file = ResultsFile();
    if (!ParseResultsFileName(fileName, file.createdSeconds)) return ENOENT;
    file.fileName = fileName;
    file.path = JoinResultsPath(dirName, fileName);
    errno = ENOENT;
    return LookAt(AT_FDCWD, file.path.c_str(), file) ? 0 : errno;
}

int LineOfOffset(int fd, std::uint64_t offset, std::uint64_t& line) {
    if (const int notRegular = FileWindow::RegularFileError(fd)) return notRegular;
    char buffer[65536];
    line = 1;
    for (std::uint64_t at = 0; at < offset;) {
        const auto wanted =
            static_cast<size_t>(std::min<std::uint64_t>(offset - at, sizeof buffer));
        const ssize_t count = pread64(fd, buffer, wanted, static_cast<off64_t>(at));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) return ESPIPE;
        line += static_cast<std::uint64_t>(std::count(buffer, buffer + count, '\n'));
        at += static_cast<std::uint64_t>(count);
    }
    return 0;
}

int LineOfOffset(const std::string& path, std::uint64_t offset, std::uint64_t& line) {
    const int fd = FileWindow::OpenToRead(path);
    if (fd < 0) return errno;
    const int failure = LineOfOffset(fd, offset, line);
    close(fd);
    return failure;
}

int ListResultsFiles(const std::string& dirName, std::vector<ResultsFile>& files) {
    files.clear();
    const HostLocation location = LocateOnHost(dirName);
    DIR* const directory = opendir(location.directory.c_str());
    if (directory == nullptr) return errno;
    int failure = 0;
    for (;;) {
        errno = 0;
        const dirent* const entry = readdir(directory);
        if (entry == nullptr) {
            failure = errno;
            break;
        }
        ResultsFile file;
        std::string_view name;
        if (!ParseHostEntry(location, entry->d_name, name, file.createdSeconds) ||
            !LookAt(dirfd(directory), entry->d_name, file)) {
            continue;
        }
        file.fileName = std::string(name);
        file.path = JoinResultsPath(dirName, file.fileName);
        files.push_back(std::move(file));
    }
    closedir(directory);
    if (failure != 0) {
        files.clear();
        return failure;
    }
    std::sort(files.begin(), files.end(), OlderFirst);
    return 0;
}

}  // namespace jobresults
