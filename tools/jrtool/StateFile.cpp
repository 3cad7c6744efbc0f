#include "jrtool/StateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>

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

std::uint64_t Checksum(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash;
}

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
        // The name, not the random one tried, so that a failure that
        // comes again reads the same.
        error = WithReason("cannot create a file beside " + path, errno);
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

std::string SealState(const std::string& text) {
    std::size_t lines = 0;
    for (const char c : text) lines += c == '\n' ? 1 : 0;
    return text + StateLine({"end", std::to_string(lines), std::to_string(Checksum(text))});
}

bool CheckWritable(const std::string& path, std::string& error) {
    std::string probe = path + ".XXXXXX";
    const int fd = mkostemp(&probe[0], O_CLOEXEC);
    if (fd < 0) {
        error = WithReason("cannot write " + path, errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

std::optional<std::vector<std::string>> ReadStateLines(const std::string& path,
                                                       const std::string& kind, std::string& error,
                                                       bool& broken) {
    broken = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return std::vector<std::string>();
        error = WithReason("cannot read " + path, errno);
        return std::nullopt;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    if (text.compare(0, kind.size() + 1, kind + '\n') != 0) {
        error =
            path + " is not a state file of this command (its first line is not '" + kind + "')";
        return std::nullopt;
    }
    // The check line is the last; all before it must give the same line.
    const auto lastStart = text.size() < 2 ? std::string::npos : text.rfind('\n', text.size() - 2);
    const std::string body = text.substr(0, lastStart == std::string::npos ? 0 : lastStart + 1);
    if (text.empty() || text.back() != '\n' || lastStart == std::string::npos ||
        SealState(body) != text) {
        broken = true;
        error = path +
                " is cut short or damaged (its last line, the check of the lines before "
                "it, does not match them)";
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::istringstream rest(body.substr(kind.size() + 1));
    for (std::string line; std::getline(rest, line);) lines.push_back(line);
    return lines;
}

}  // namespace jrtool
