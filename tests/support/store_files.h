// Helpers for the job results store tests: scratch directories, whole-file
// reads and writes, and reading a job results file back record by record.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_STORE_FILES_H
#define CIJOBRESULTS_TESTS_SUPPORT_STORE_FILES_H

#include <string>
#include <vector>

#include "jobresults/cijobresults.h"

namespace storetest {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return m_sPath; }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> Entries() const;

private:
    std::string m_sPath;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// The path of the only job results file the store in dirName has created
// ("<dirName>\ci_push_<seconds>.xml"); empty unless there is exactly one.
std::string OnlyJobResultsFile(const ScratchDir& dir, const std::string& prefix);

// The file name a reader passes for a created file: what follows the
// backslash.
std::string ReaderName(const std::string& path);

struct ReadBack {
    int openResult = 0;
    std::vector<JobResults> records;
    int lastResult = 0;  // result of the last getNextJobResult
    std::string errorMsg;
};

// Opens dir\fileName and reads records until getNextJobResult stops.
ReadBack ReadAllRecords(const std::string& dir, const std::string& fileName);

bool SameRecord(const JobResults& a, const JobResults& b);

// Number of descriptors open in this process.
int OpenDescriptorCount();

// count, or the smaller count when the tests run under valgrind, where
// repeating the same work only costs time.
int Repetitions(int count, int underValgrind);

}  // namespace storetest

#endif  // CIJOBRESULTS_TESTS_SUPPORT_STORE_FILES_H
