// How a metrics run with --state reads a file that an earlier run read:
// not at all while nothing shows a change, on behind the last record read
// when it grew, else again from its start. The listing shows the size, the
// modification time and the identity; the status change time (ctime) comes
// on top, as no call sets it to a chosen time: a write that puts the
// modification time back (touch -d, a copy that keeps times) still shows.
// Damage that shows in none of them, such as a disk giving back other
// bytes, is left to the files verified on a budget (VerifyBudget.h).
#ifndef JRTOOL_FILECHANGE_H
#define JRTOOL_FILECHANGE_H

#include <cstdint>
#include <optional>
#include <string>

#include "jrtool/Progress.h"

namespace jrtool {

enum class Reading {
    kUnchanged,  // as the run before left it: not opened
    kReadOn,     // grew, and ends as a writer leaves it: read on behind the last record read
    kWhole,      // new, or changed otherwise: read from its start, judged as check judges it
};

// The status change time of the file at `path` in nanoseconds; nullopt when
// it cannot be had (the file went, say), which counts as a change.
std::optional<std::int64_t> StatusChangeNanoseconds(const std::string& path);

// How to read `file`, which a run before read to `progress` when the file's
// status change time was `changedBefore` (nullopt: not known, as in a state
// written before it was kept) and is `changedNow`.
Reading ReadingFor(const FileProgress& progress, std::optional<std::int64_t> changedBefore,
                   const jobresults::ResultsFile& file, std::optional<std::int64_t> changedNow);

}  // namespace jrtool

#endif
