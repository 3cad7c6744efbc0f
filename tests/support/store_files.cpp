#include "support/store_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace storetest {

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/cijr_store_XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) m_sPath = pattern;
}

ScratchDir::~ScratchDir() {
    if (m_sPath.empty()) return;
    for (const std::string& name : Entries()) unlink((m_sPath + "/" + name).c_str());
    rmdir(m_sPath.c_str());
}

std::vector<std::string> ScratchDir::Entries() const {
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

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    // A new file rather than a truncated one: ext4 flushes a file rewritten
    // after truncation when it is closed, which is slow.
    unlink(path.c_str());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

std::string OnlyJobResultsFile(const ScratchDir& dir, const std::string& prefix) {
    const std::vector<std::string> names = dir.Entries();
    if (names.size() != 1 || names[0].compare(0, prefix.size(), prefix) != 0) return "";
    return dir.Path() + "/" + names[0];
}

std::string ReaderName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

ReadBack ReadAllRecords(const std::string& dir, const std::string& fileName) {
    ReadBack back;
    CCIJobResults reader;
    back.openResult = reader.openJobResults(dir, fileName);
    if (back.openResult == 1) {
        for (;;) {
            JobResults record;
            back.lastResult = reader.getNextJobResult(record);
            if (back.lastResult == -1) break;
            back.records.push_back(record);
            if (back.lastResult == 0) break;
        }
    }
    back.errorMsg = reader.m_sErrorMsg;
    return back;
}

bool SameRecord(const JobResults& a, const JobResults& b) {
    return a.ClientName == b.ClientName && a.Url == b.Url && a.BackupJobId == b.BackupJobId &&
           a.ErrorString == b.ErrorString && a.Size == b.Size;
}

int OpenDescriptorCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;  // the directory stream's own descriptor
}

int Repetitions(int count, int underValgrind) {
    const char* flag = std::getenv("CIJOBRESULTS_UNDER_VALGRIND");
    return flag != nullptr && std::string(flag) == "1" ? underValgrind : count;
}

}  // namespace storetest
