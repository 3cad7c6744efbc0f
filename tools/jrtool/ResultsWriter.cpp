#include "jrtool/ResultsWriter.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace jrtool {

namespace {

bool Exists(const std::string& path) {
    std::error_code failure;
    return std::filesystem::exists(path, failure);
}

std::string PathAt(const std::string& dirName, long long seconds) {
    return ResultsFilePath{dirName, ResultsFileName(seconds)}.WholePath();
}

// How many seconds past the start of the first append the new file's name
// may lie: the append itself and any names the store skipped as taken.
constexpr std::size_t kNameLookahead = 64;

long long Now() { return static_cast<long long>(std::time(nullptr)); }

// The store names a file after the second of its creation; its interface
// does not promise what it does when a file of that name is already there.
// Waiting until the name for the current second is free keeps such a file,
// say the damaged file that a salvage reads, out of its way. Gives up after
// a few seconds: a file named after a time to come is not a clash that
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
// named after the second of its creation, or a later one when that name is
// taken. The names that exist before the first append are noted, and the new
// file is the one that appears among the seconds from then on.
bool ResultsWriter::AddFirst(const JobResults& record) {
    // createJobResults appends to the directory name, so it runs only once.
    if (!directorySet_ && store_.createJobResults(dirName_) != 1) {
        error_ = StoreError();
        return false;
    }
    directorySet_ = true;
    if (!WaitForFreeName(dirName_)) {
        error_ =
            "a job results file for the current time already exists: " + PathAt(dirName_, Now());
        return false;
    }
    const long long before = Now();
    const std::vector<bool> takenBefore = TakenNames(before);
    if (store_.addJobResult(record) != 1) {
        error_ = StoreError();
        return false;
    }
    const std::vector<bool> takenAfter = TakenNames(before);
    for (std::size_t i = 0; i < takenAfter.size() && createdPath_.empty(); ++i) {
        if (takenAfter[i] && !takenBefore[i]) createdPath_ = PathAt(dirName_, before + i);
    }
    if (createdPath_.empty()) {
        error_ = "the store reported success, but no new file named " + PathAt(dirName_, before) +
                 " or after it exists";
        return false;
    }
    return true;
}

// Which of the names for the seconds from `first` on exist.
std::vector<bool> ResultsWriter::TakenNames(long long first) const {
    std::vector<bool> taken(kNameLookahead);
    for (std::size_t i = 0; i < taken.size(); ++i) {
        taken[i] = Exists(PathAt(dirName_, first + static_cast<long long>(i)));
    }
    return taken;
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

}  // namespace jrtool
