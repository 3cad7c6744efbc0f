// What changed in a file since a reading: the listing shows the size, the
// modification time and the identity; the status change time comes on top.
#include <sys/stat.h>

#include "jobresults/JobResultsProgress.h"

namespace jobresults {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// A reading before saw the file: it read up to a point, or found it damaged.
bool ReadBefore(const FileProgress& progress, const ResultsFile& file) {
    return progress.identity == file.identity &&
           (progress.point.offset > 0 || progress.state == FileState::kDamaged);
}

}  // namespace

std::int64_t StatusChangeNanoseconds(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return 0;
    return static_cast<std::int64_t>(status.st_ctim.tv_sec) * kNanosecondsPerSecond +
           status.st_ctim.tv_nsec;
}

void MarkDamaged(FileProgress& progress, const ResultsFile& file) {
    progress.identity = file.identity;
    progress.size = file.size;
    progress.modifiedNanoseconds = file.modifiedNanoseconds;
    progress.state = FileState::kDamaged;
}

bool UnchangedSince(const FileProgress& progress, const ResultsFile& file) {
    return ReadBefore(progress, file) && progress.size > 0 && progress.point.offset <= file.size &&
           progress.size == file.size && progress.modifiedNanoseconds == file.modifiedNanoseconds;
}

FileChange ChangeSince(const FileProgress& progress, const ResultsFile& file,
                       std::int64_t statusChangeNow) {
    const std::int64_t before = progress.statusChangeNanoseconds;
    if (!ReadBefore(progress, file) || before == 0 || statusChangeNow == 0) {
        return FileChange::kChanged;
    }
    if (UnchangedSince(progress, file) && before == statusChangeNow) return FileChange::kUnchanged;
    // Appends change both times and leave the bytes read as they were (the
    // resume point's fingerprint checks them). The reader judges the new
    // part, but passes over bytes between records and behind the end: a
    // file that no longer ends as a writer leaves it is judged whole.
    if (file.size > progress.size && file.ending != FileEnding::kNeither) return FileChange::kGrew;
    return FileChange::kChanged;
}

}  // namespace jobresults
