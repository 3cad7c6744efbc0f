// The check of a job results file: whether it is exactly as a writer of
// this library leaves it, and if not, where the damage begins, what it is
// and how long it runs. Every program judges a file by this one verdict:
// `jobresults check`, the tool's other commands and the Python module
// read with JobResultsReader's strict verdict, which is this check made
// while the records are read.
//
//   const jobresults::FileCheck check = jobresults::CheckResultsFile(path);
//   if (check.error != 0) ...             // could not be opened or read
//   else if (check.damaged()) ...         // check.damageOffset, damageLength
//   else ...                              // check.records, check.ending
//
// Only the bytes in front of the damage are judged: a salvage, not the
// check, looks behind it. Memory: a block or two of the file, or one
// record when that is larger, whatever the file holds.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSCHECK_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSCHECK_H

#include <cstdint>
#include <string>

#include "jobresults/JobResultsEnding.h"
#include "xml/LibraryExport.h"

namespace jobresults {

enum class DamageKind {
    kNone,
    kStray,  // bytes that no writer leaves there
    kCut,    // the file stops where a record or an end tag should follow
};

struct FileCheck {
    int error = 0;  // errno of a failed open or read; nothing below holds then
    DamageKind damage = DamageKind::kNone;
    // Sound: kSaved, kOpen or kWriting (a writer at work, or killed in the
    // middle of a write, which its next open of the file does not repair
    // but every reader accepts). Damaged: kCut.
    FileEnding ending = FileEnding::kCut;
    std::uint64_t records = 0;       // sound records, all of them in front of the damage
    std::uint64_t damageOffset = 0;  // the first damaged byte
    // The damaged stretch's bytes (up to the next record, or the end of the
    // file); for a cut file, the bytes from where it stops (0, or a part of
    // the header).
    std::uint64_t damageLength = 0;
    bool damaged() const { return damage != DamageKind::kNone; }
    bool sound() const { return error == 0 && damage == DamageKind::kNone; }
};

// Checks the file at `path` (opened without blocking; only regular files
// are read: EISDIR for a directory, EINVAL for anything else).
CIJOBRESULTS_API FileCheck CheckResultsFile(const std::string& path);
// Checks the regular file `fd` is open on, from its start, with pread: the
// descriptor's offset stays and it is never closed.
CIJOBRESULTS_API FileCheck CheckResultsFile(int fd);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSCHECK_H
