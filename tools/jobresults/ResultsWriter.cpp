#include "jobresults/ResultsWriter.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

namespace jobresults {

namespace {

bool Exists(const std::string& path) {
    std::error_code failure;
    return std::filesystem::exists(path, failure);
}

std::string PathAt(const std::string& dirName, long long seconds) {
    return ResultsFilePath{dirName, ResultsFileName(seconds)}.WholePath();
}

long long Now() { return static_cast<long long>(std::time(nullptr)); }

// The store names a file after the second of its creation and opens an
// existing file of that name without truncating it. Waiting until the name
// for the current second is free keeps it from writing into a file that is
// already there, such as the damaged file a salvage reads. Gives up after a
// few seconds, since a file named after a time to come is no collision that
// waiting resolves.
bool WaitForFreeName(const std::string& dirName) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (!Exists(PathAt(dirName, Now()))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace

ResultsWriter::ResultsWriter(std::string dirName) : dirName_(std::move(dirName)) {}

bool ResultsWriter::Add(const JobResults& record) {
    if (!Created()) return AddFirst(record);
    if (store_.addJobResult(record) != 1) {
        error_ = StoreError();
        return false;
    }
    return true;
}

// The store does not report the name it gives the file, only that it is
// named after the second of its creation: the first append is bracketed by
// two clock readings, and the new file is the one named after a second in
// between.
bool ResultsWriter::AddFirst(const JobResults& record) {
    // createJobResults appends to the directory name, so it runs only once.
    if (!directorySet_ && store_.createJobResults(dirName_) != 1) {
        error_ = StoreError();
        return false;
    }
    directorySet_ = true;
    if (!WaitForFreeName(dirName_)) {
        error_ = "a job results file for the current time already exists: " +
                 PathAt(dirName_, Now());
        return false;
    }
    const long long before = Now();
    if (store_.addJobResult(record) != 1) {
        error_ = StoreError();
        return false;
    }
    const long long after = Now();
    for (long long second = before; second <= after && createdPath_.empty(); ++second) {
        if (Exists(PathAt(dirName_, second))) createdPath_ = PathAt(dirName_, second);
    }
    if (createdPath_.empty()) {
        error_ = "the store reported success but no file named " + PathAt(dirName_, before) +
                 " exists";
        return false;
    }
    return true;
}

bool ResultsWriter::Save() {
    if (store_.saveJobResults() != 1) {
        error_ = StoreError();
        return false;
    }
    return true;
}

std::string ResultsWriter::StoreError() const {
    if (store_.m_nErrno > 0) return store_.m_sErrorMsg + ": " + std::strerror(store_.m_nErrno);
    return store_.m_sErrorMsg;
}

}  // namespace jobresults
