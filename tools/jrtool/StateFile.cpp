#include "jrtool/StateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "jrtool/Files.h"
#include "jrtool/Input.h"

namespace jrtool {

namespace {

bool WriteAndSync(int fd, const std::string& text) {
    return WriteAll(fd, text.data(), text.size()) && fsync(fd) == 0;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string StateLine(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
        if (!line.empty()) line += '\t';
        line += EscapeTsvValue(field);
    }
    return line + '\n';
}

std::vector<std::string> StateFields(const std::string& line) {
    std::vector<std::string> fields = SplitTsvLine(line);
    for (std::string& field : fields) field = UnescapeTsvValue(field);
    return fields;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode,
                 std::string& error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        error = WithReason("cannot create " + temporary, errno);
        return false;
    }
    const mode_t mask = umask(0);
    umask(mask);
    const bool written = fchmod(fd, mode & ~mask) == 0 && WriteAndSync(fd, text);
    const int writeError = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        error = WithReason("cannot write " + path, written ? errno : writeError);
        unlink(temporary.c_str());
        return false;
    }
    // The rename is durable once the directory is synced.
    const int directory = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
    return true;
}

std::optional<std::vector<std::string>> ReadStateLines(const std::string& path,
                                                       const std::string& kind,
                                                       std::string& error) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return lines;
        error = WithReason("cannot read " + path, errno);
        return std::nullopt;
    }
    std::string line;
    if (!std::getline(in, line) || line != kind) {
        error =
            path + " is not a state file of this command (its first line is not '" + kind + "')";
        return std::nullopt;
    }
    while (std::getline(in, line)) lines.push_back(line);
    if (in.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return lines;
}

}  // namespace jrtool
