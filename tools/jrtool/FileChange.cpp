#include "jrtool/FileChange.h"

#include <sys/stat.h>

namespace jrtool {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

}  // namespace

std::optional<std::int64_t> StatusChangeNanoseconds(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return std::nullopt;
    return static_cast<std::int64_t>(status.st_ctim.tv_sec) * kNanosecondsPerSecond +
           status.st_ctim.tv_nsec;
}

Reading ReadingFor(const FileProgress& progress, std::optional<std::int64_t> changedBefore,
                   const jobresults::ResultsFile& file, std::optional<std::int64_t> changedNow) {
    const bool readBefore = progress.identity == file.identity &&
                            (progress.point.offset > 0 || progress.state == FileState::kDamaged);
    if (!readBefore || !changedBefore || !changedNow) return Reading::kWhole;
    if (progress.Unchanged(file) && *changedBefore == *changedNow) return Reading::kUnchanged;
    // Appends change both times and leave the bytes read as they were (the
    // resume point's fingerprint checks them). The reader judges the new
    // part, but passes over bytes between records and behind the end: a
    // file that no longer ends as a writer leaves it is judged whole.
    if (file.size > progress.size && file.ending != jobresults::FileEnding::kNeither) {
        return Reading::kReadOn;
    }
    return Reading::kWhole;
}

}  // namespace jrtool
