// Scratch files for the tests and the fuzz targets alike: a private
// temporary directory, whole-file reads and writes, and descriptor counts
// that show a leak. Header only, so that the fuzz build can use it too.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_SCRATCH_H
#define CIJOBRESULTS_TESTS_SUPPORT_SCRATCH_H

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace testsupport {

// Names of the entries of a directory, sorted; none if it cannot be read.
inline std::vector<std::string> DirectoryEntries(const std::string& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(path, error), end; !error && entry != end;
         entry.increment(error)) {
        names.push_back(entry->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes.
class ScratchDir {
public:
    ScratchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cijobresults-XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr) m_path = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool Ok() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    std::vector<std::string> Entries() const { return DirectoryEntries(m_path); }
    // Removes everything in the directory, keeping the directory.
    void Clear() const {
        std::error_code ignored;
        for (const std::string& name : Entries())
            std::filesystem::remove_all(m_path + "/" + name, ignored);
    }

private:
    std::string m_path;
};

// The file's bytes; empty if it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// A new file with these bytes in place of any old one (a new file rather
// than a truncated one: ext4 flushes a file rewritten after truncation when
// it is closed, which is slow). Returns whether every byte was written.
inline bool WriteWholeFile(const std::string& path, std::string_view bytes) {
    unlink(path.c_str());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
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
    // Less the one the listing itself holds open.
    return static_cast<int>(DirectoryEntries("/proc/self/fd").size()) - 1;
}

}  // namespace testsupport

#endif  // CIJOBRESULTS_TESTS_SUPPORT_SCRATCH_H
