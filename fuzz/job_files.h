// Job results files in a private temporary directory, for the store targets
// and the seed corpus generator.
//
// The store names a file  dirName + "\\" + fileName ; on POSIX the backslash
// is part of the file name. With dirName = <temp dir>/jr the files are
// "jr\<name>" inside the temporary directory.
#ifndef CIJOBRESULTS_FUZZ_JOB_FILES_H
#define CIJOBRESULTS_FUZZ_JOB_FILES_H

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace jobfiles {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/cijobresults-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~TempDir() {
        if (m_path.empty()) return;
        for (const std::string& name : Names()) unlink((m_path + "/" + name).c_str());
        rmdir(m_path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }
    // The directory name to hand to the store.
    std::string StoreDir() const { return m_path + "/jr"; }
    // Full path of the store's file fileName.
    std::string StorePath(const std::string& fileName) const {
        return StoreDir() + "\\" + fileName;
    }

    // Names of the entries of the directory, "." and ".." left out.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        DIR* dir = opendir(m_path.c_str());
        if (dir == nullptr) return names;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
        return names;
    }

    // The store file names (the part after "jr\"), in directory order.
    std::vector<std::string> StoreFiles() const {
        std::vector<std::string> files;
        const std::string prefix = "jr\\";
        for (const std::string& name : Names()) {
            if (name.compare(0, prefix.size(), prefix) == 0)
                files.push_back(name.substr(prefix.size()));
        }
        return files;
    }

    void RemoveAll() const {
        for (const std::string& name : Names()) unlink((m_path + "/" + name).c_str());
    }

private:
    std::string m_path;
};

inline bool WriteFile(const std::string& path, std::string_view bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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

inline bool ReadFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    ssize_t count;
    while ((count = read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<size_t>(count));
    close(fd);
    return count == 0;
}

// The lowest free descriptor number: a descriptor leaked since the last
// call shows up as a higher number.
inline int LowestFreeDescriptor() {
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) close(fd);
    return fd;
}

}  // namespace jobfiles

#endif  // CIJOBRESULTS_FUZZ_JOB_FILES_H
