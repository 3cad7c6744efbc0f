// Coming back to job results files: what an earlier reading of a file saw,
// and reading only the records that the file gained since, for the commands
// that watch a directory (metrics, follow).
//
// A file is known by its identity (device, inode, birth time), never by its
// name, which a later file may take. The reader goes on behind the last
// record read once it has checked that the file is still the one read; a
// file replaced or rewritten is read again from its start.
#ifndef JRTOOL_PROGRESS_H
#define JRTOOL_PROGRESS_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jrtool/Files.h"

namespace jrtool {

// How the reader left a file: open (its writer may append more), saved, or
// damaged (the reader refuses it from some byte on, or it cannot be read).
enum class FileState { kOpen, kSaved, kDamaged };

const char* FileStateName(FileState state);

// What a reading of a file saw, enough to go on behind it.
struct FileProgress {
    jobresults::FileIdentity identity;
    std::uint64_t size = 0;  // as listed before the reading
    std::int64_t modifiedNs = 0;
    jobresults::ResumePoint point;  // behind the last complete record read
    // Of the file's bytes up to the end of its first record: with the
    // identity, what names the file in keys (0 before a record was read).
    std::uint64_t firstRecord = 0;
    FileState state = FileState::kOpen;

    // Read already, and unchanged since as the listing sees it. A file
    // shorter than the point read to is not: after a power loss its size
    // and times can be those it had when it was listed, while the records
    // read behind them are gone.
    bool Unchanged(const jobresults::ResultsFile& file) const;

    // The fields of a state file line, and back (nullopt when they do not
    // fit).
    std::vector<std::string> Fields() const;
    static std::optional<FileProgress> FromFields(const std::vector<std::string>& fields,
                                                  std::size_t first);
};

// The outcome of one ReadNewRecords call.
struct ReadOutcome {
    std::size_t records = 0;
    // The file was not the one read before: read from its start.
    bool replaced = false;
    // Empty unless the file is damaged or could not be read: then the
    // reason, "damaged at byte N: ..." for refused content.
    std::string problem;
};

using RecordVisitor = std::function<void(const JobResults& record, std::uint64_t offset)>;

// Hands `visit` every record of `file` behind the progress (every record of
// a file not read before, or replaced), each with the offset where it
// begins, and moves `progress` behind them. A file refused while it changes
// is taken for a writer at work and stays open, to be read on; refused
// while it stands still, it is damaged. On a failed system call the
// progress stays and the problem says why.
ReadOutcome ReadNewRecords(const jobresults::ResultsFile& file, FileProgress& progress,
                           const RecordVisitor& visit);

// The state of a file the reader accepted to its end: saved when the
// reading ended in a save (then it holds every record read), else open.
FileState AcceptedState(const jobresults::FileCheck& check);

// Whether the file is still as the listing saw it: a file refused while it
// changes is a writer at work, not damage.
bool SameAsListed(const jobresults::ResultsFile& file);

}  // namespace jrtool

#endif
