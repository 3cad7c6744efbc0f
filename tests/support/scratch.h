// Scratch files for the tests and the fuzz targets alike: a private
// temporary directory, whole-file reads and writes, and descriptor counts
// that show a leak. Header only, so that the fuzz build can use it too.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_SCRATCH_H
#define CIJOBRESULTS_TESTS_SUPPORT_SCRATCH_H

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace testsupport {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes.
class ScratchDir {
public:
    ScratchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cijobresults-XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr) m_sPath = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!m_sPath.empty()) std::filesystem::remove_all(m_sPath, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool Ok() const { return !m_sPath.empty(); }
    const std::string& Path() const { return m_sPath; }

    // Names of the entries in the directory, sorted.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        DIR* dir = opendir(m_sPath.c_str());
        if (dir == nullptr) return names;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    // Removes everything in the directory, keeping the directory.
    void Clear() const {
        std::error_code ignored;
        for (const std::string& name : Entries()) {
            std::filesystem::remove_all(m_sPath + "/" + name, ignored);
        }
    }

private:
    std::string m_sPath;
};

// The file's bytes; empty if it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    char buffer[65536];
    ssize_t count;
    while ((count = read(fd, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<size_t>(count));
    }
    close(fd);
    return bytes;
}

// A new file with these bytes in place of any old one (a new file rather
// than a truncated one: ext4 flushes a file rewritten after truncation when
// it is closed, which is slow). Returns whether every byte was written.
inline bool WriteWholeFile(const std::string& path, std::string_view bytes) {
    unlink(path.c_str());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count <= 0) break;
        done += static_cast<size_t>(count);
    }
    close(fd);
    return done == bytes.size();
}

// The descriptor the next open will get: a descriptor leaked since an
// earlier call shows up as a higher number.
inline int LowestFreeDescriptor() {
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) close(fd);
    return fd;
}

// Number of descriptors open in this process.
inline int OpenDescriptorCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;  // the directory stream's own descriptor
}

}  // namespace testsupport

#endif  // CIJOBRESULTS_TESTS_SUPPORT_SCRATCH_H
