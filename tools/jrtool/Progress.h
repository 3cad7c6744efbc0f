// Coming back to job results files: what an earlier reading of a file saw,
// and reading only the records that the file gained since, for the commands
// that watch a directory (metrics, follow).
//
// A job results file only grows while its writer appends, so the bytes in
// front of the last complete record read stay as they were: a later reading
// goes on behind that record. A file that shrank, changed its inode or was
// rewritten in place is read again from its start.
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
// damaged (the reader refuses it from some byte on).
enum class FileState { kOpen, kSaved, kDamaged };

const char* FileStateName(FileState state);
std::optional<FileState> FileStateFromName(const std::string& name);

// A file as stat sees it.
struct FileStamp {
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;

    bool operator==(const FileStamp& other) const {
        return inode == other.inode && size == other.size && mtimeNs == other.mtimeNs;
    }
};

// nullopt when the path names no regular file.
std::optional<FileStamp> StampOf(const std::string& path);

// What a reading of a file saw, enough to go on behind it.
struct FileProgress {
    FileStamp stamp;                // before the reading
    std::uint64_t resume = 0;       // behind the last complete record read
    std::uint64_t rootContent = 0;  // behind Root's start tag; 0 before any reading
    FileState state = FileState::kOpen;

    // One line of a state file, after the file name: the numbers and the
    // state, separated by tabs.
    std::vector<std::string> Fields() const;
    // From the fields that Fields() gave; nullopt when they do not fit.
    static std::optional<FileProgress> FromFields(const std::vector<std::string>& fields,
                                                  std::size_t first);
};

enum class Change {
    kNone,      // the same bytes as at the reading
    kGrown,     // the same file, longer or touched: read on behind `resume`
    kReplaced,  // another file, or one that shrank: read from the start
};

Change ChangeSince(const FileProgress& progress, const FileStamp& now);

// The outcome of one ReadNewRecords call.
struct ReadOutcome {
    std::size_t records = 0;
    // Empty unless the file is damaged or could not be read: then the
    // reason, "damaged at byte N: ..." for refused content.
    std::string problem;
};

using RecordVisitor = std::function<void(const JobResults& record, std::uint64_t offset)>;

// Hands `visit` every record of `file` that lies behind progress.resume
// (every record when nothing was read before), each with the offset where
// it begins, and moves `progress` behind them. `stamp` is what stat gave
// just before. On refused content the state becomes kDamaged; on a failed
// system call the state stays as it was and the problem says why. For a
// file that ChangeSince calls replaced, start from a fresh FileProgress.
ReadOutcome ReadNewRecords(const ResultsFilePath& file, const FileStamp& stamp,
                           FileProgress& progress, const RecordVisitor& visit);

}  // namespace jrtool

#endif
