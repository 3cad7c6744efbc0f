// Coming back to job results files across runs: what an earlier reading of
// a file saw, what changed in the file since, and reading only what it
// gained. A program that watches a directory name (a metrics exporter, a
// shipper of records) keeps one FileProgress per file, stores it however
// it likes, and hands it back on its next run:
//
//   jobresults::FileProgress progress = Load(file.identity);
//   const auto change = jobresults::ChangeSince(
//       progress, file, jobresults::StatusChangeNanoseconds(file.path));
//   if (change != jobresults::FileChange::kUnchanged) {
//       const jobresults::ProgressOutcome outcome = jobresults::ReadOn(
//           file, change, progress, [&](const JobResults& record, std::uint64_t offset) {...});
//       if (outcome.problem != jobresults::ProgressProblem::kNone) ...  // outcome.check
//   }
//   Store(progress);
//
// A file is known by its identity (device, inode, birth time), never by its
// name, which a later file may take. Every reading is strict: a file is
// judged as CheckResultsFile judges it. No function throws but for running
// out of memory.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSPROGRESS_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSPROGRESS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jobresults/JobResultsCheck.h"
#include "jobresults/JobResultsFiles.h"
#include "jobresults/JobResultsReader.h"
#include "jobresults/JobResultsRecord.h"
#include "xml/LibraryExport.h"

namespace jobresults {

// How a reading left a file: open (its writer may append more), saved, or
// damaged (refused from some byte on, or it could not be read).
enum class FileState { kOpen, kSaved, kDamaged };

// What a reading of a file saw, enough to go on behind it. Plain data: the
// caller keeps and stores it; a default one stands for a file not read.
struct FileProgress {
    FileIdentity identity;
    std::uint64_t size = 0;  // as listed before the reading
    std::int64_t modifiedNanoseconds = 0;
    ResumePoint point;  // behind the last complete record read
    // Of the file's bytes up to the end of its first record: with the
    // identity, what names the file for good (0 before a record was read).
    std::uint64_t firstRecord = 0;
    FileState state = FileState::kOpen;
    // The status change time (ctime) when the file was read, for
    // ChangeSince; 0 when not known. Set by the caller, who takes it
    // before the reading.
    std::int64_t statusChangeNanoseconds = 0;
    // When the file was last read whole; 0 for never. Set by the caller.
    std::int64_t verifiedNanoseconds = 0;
};

enum class FileChange {
    kUnchanged,  // as the reading before left it: no need to open it
    kGrew,       // grew, and ends as a writer leaves it: read on behind the point
    kChanged,    // new, or changed otherwise: read whole, judged from its start
};

// The status change time of the file at `path` in nanoseconds; 0 when it
// cannot be had (the file went, say). No call sets it to a chosen time, so
// it shows a write that puts the modification time back (touch -d, a copy
// that keeps times).
CIJOBRESULTS_API std::int64_t StatusChangeNanoseconds(const std::string& path);

// Read already, and unchanged since as the listing sees it (identity, size,
// modification time). A file shorter than the point read to is not: after
// a power loss its size and times can be those it had when it was listed,
// while the records read behind them are gone.
CIJOBRESULTS_API bool UnchangedSince(const FileProgress& progress, const ResultsFile& file);

// What changed in `file`, listed now with status change time
// `statusChangeNow` (0: not known), since `progress`. Without both status
// change times a file counts as changed. Damage that shows neither in the
// listing nor in the status change time, such as a disk giving back other
// bytes, is left to verification (PickForVerification).
CIJOBRESULTS_API FileChange ChangeSince(const FileProgress& progress, const ResultsFile& file,
                                        std::int64_t statusChangeNow);

enum class ProgressProblem {
    kNone,
    kDamaged,  // refused while it stood still: check says where and what
    kFailed,   // a system call failed: check.error; the progress stays
};

// The outcome of one ReadOn call. Plain data.
struct ProgressOutcome {
    std::uint64_t records = 0;  // handed to the visitor
    // The file was not the one read before (rewritten, replaced, or damaged
    // in front of the point).
    bool replaced = false;
    ProgressProblem problem = ProgressProblem::kNone;
    // The verdict of the reading, as the check of the file (records counted
    // from where the reading began).
    FileCheck check;
    // For kFailed: the reader's message (JobResultsReader::errorMessage).
    std::string message;
};

using ProgressVisitor = std::function<void(const JobResults& record, std::uint64_t offset)>;

// Hands `visit` the records of `file` behind `progress`, each with the
// offset where it begins, and moves the progress behind them.
//
// kGrew: goes on behind the progress's point once the point's fingerprint
// shows the bytes in front of it unchanged; when they are not, the file is
// read from its start, every record visited, and `replaced` set.
//
// Otherwise: reads the file whole from its start. The records in front of
// the point were counted before: they are passed over once the fingerprint
// matches, and the records behind the point are visited. When it does not
// match, the reading stops with `replaced` set and nothing visited behind,
// as the caller holds records the file no longer has; the progress stays.
//
// A file refused while it changes is taken for a writer at work and stays
// open, to be read on (its size 0, so that it counts as changed); refused
// while it stands still, it is damaged.
CIJOBRESULTS_API ProgressOutcome ReadOn(const ResultsFile& file, FileChange change,
                                        FileProgress& progress, const ProgressVisitor& visit);

// ReadOn one record at a time, for a caller that pulls records (an
// iterator, say) rather than being handed them: the same records, offsets,
// outcome and progress. It works on a copy of the progress, which holds
// the new place once Next has returned false; a reading dropped before
// that leaves the caller's progress as it was.
class CIJOBRESULTS_API ProgressReading {
public:
    ProgressReading(const ResultsFile& file, FileChange change, const FileProgress& progress);
    ~ProgressReading();
    ProgressReading(const ProgressReading&) = delete;
    ProgressReading& operator=(const ProgressReading&) = delete;

    // The next record behind the progress into `record`, with the offset
    // where it begins: true; false once the reading is over, and from then
    // on.
    bool Next(JobResults& record, std::uint64_t& offset);
    bool Over() const;
    // Final once the reading is over.
    const ProgressOutcome& Outcome() const;
    // Its firstRecord is set once a record was handed out; the rest moves
    // once the reading is over.
    const FileProgress& Progress() const;
    // The progress a reading that stopped behind the last record handed
    // out would leave, for a caller that keeps its place in the middle of
    // a file (a shipper whose consumer took part of it): read on (kGrew)
    // from it, the file gives the records behind that one. It counts as
    // changed (its size 0), as the file holds more than was read. Before
    // the first record and once the reading is over, Progress().
    FileProgress ProgressSoFar() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Takes `file`, as listed, for damaged in `progress`: for a caller that
// could not read it (ReadOn's kFailed leaves the progress as it was) and
// waits for it to change before it tries again, so that a failure is said
// once.
CIJOBRESULTS_API void MarkDamaged(FileProgress& progress, const ResultsFile& file);

// An unchanged file that may be verified (read whole) in this run.
struct VerifyCandidate {
    std::int64_t verifiedNanoseconds = 0;  // when it was last read whole; 0 for never
    std::uint64_t size = 0;
    std::size_t index = 0;  // the caller's, handed back when picked
};

// The candidates to read whole in this run: those verified longest ago
// first (the earlier index first among equals), as many as `budget` bytes
// hold, but at least one unless the budget is 0, so that a file larger
// than the budget comes in turn too. A file that does not fit ends the
// picking, so that no smaller one behind it goes first: every file comes
// in turn within two full rotations.
CIJOBRESULTS_API std::vector<std::size_t> PickForVerification(
    std::vector<VerifyCandidate> candidates, std::uint64_t budget);

// How a run reads one listed file.
struct PlannedReading {
    FileChange change = FileChange::kChanged;
    bool verifying = false;  // unchanged, and picked to be read whole
    // The file's status change time, taken before the reading (0: not
    // known), for the caller to keep in the progress once the file is read.
    std::int64_t statusChangeNanoseconds = 0;
};

// The progress kept of a listed file; nullptr for a file not read before.
using ProgressLookup = std::function<const FileProgress*(const ResultsFile& file)>;

// How a run reads each of `listed`: by what changed since the progress
// kept (a file without one as changed), and of the unchanged files, those
// that PickForVerification picks on `budget` are read whole.
CIJOBRESULTS_API std::vector<PlannedReading> PlanReadings(const std::vector<ResultsFile>& listed,
                                                          const ProgressLookup& kept,
                                                          std::uint64_t budget);

// --- the files of a directory name read so far ------------------------------

// A file read before, as a caller that comes back to a directory name keeps
// it: the name it had when it was read last (a later file may take that
// name) and its creation second, with its progress.
struct KnownFile {
    std::string fileName;
    long long createdSeconds = 0;
    FileProgress progress;
};

// The files read so far, by identity, never by name.
using KnownFiles = std::map<FileIdentity, KnownFile>;

// The entry of the listed `file`, made when it is new, with its name and
// creation second as listed. An entry of another file under the same name
// is dropped first: the file it stood for went.
CIJOBRESULTS_API KnownFile& KnownEntry(KnownFiles& known, const ResultsFile& file);

// Drops the entries of the files that `listed` lacks (they went while
// nobody looked); true when every entry was listed.
CIJOBRESULTS_API bool KeepListed(KnownFiles& known, const std::vector<ResultsFile>& listed);

// Drops the entries under the name `fileName`; true when there was one.
CIJOBRESULTS_API bool ForgetFileName(KnownFiles& known, const std::string& fileName);

// The entry of the file with the inode `inode`; nullptr when there is none.
CIJOBRESULTS_API const KnownFile* FindByInode(const KnownFiles& known, std::uint64_t inode);

// The entry of the file last read under the name `fileName`; nullptr when
// there is none.
CIJOBRESULTS_API const KnownFile* FindByName(const KnownFiles& known, const std::string& fileName);

// How a directory name's files stand, for a caller that reports on them.
struct FilesOverview {
    // By FileState (open, saved, damaged); a listed file not known is in
    // none, a file that could not be read at all is damaged.
    std::size_t byState[3] = {};
    std::vector<std::string> damaged;  // whole paths, sorted
    long long newestCreated = 0;       // of the listed files; 0 for none
    long long oldestOpenCreated = 0;   // of the open files; 0 for none

    std::size_t InState(FileState state) const { return byState[static_cast<std::size_t>(state)]; }
};

// The overview of the files `listed` by what `known` holds of them, with
// `unreadable` (whole paths of files that could not be read at all).
CIJOBRESULTS_API FilesOverview OverviewOfFiles(const std::vector<ResultsFile>& listed,
                                               const KnownFiles& known,
                                               const std::vector<std::string>& unreadable);

// The progress kept in `known`, for PlanReadings; `known` must outlive it.
CIJOBRESULTS_API ProgressLookup LookupIn(const KnownFiles& known);

// --- keeping progress between runs ----------------------------------------

// The word for a state: "open", "saved" or "damaged".
CIJOBRESULTS_API const char* FileStateName(FileState state);

// A file's progress as text fields (decimal numbers, then the state's
// word), for a caller that keeps it in a file of its own, and back from
// the fields at `first` on (false when they do not fit). With `times`, the
// status change time (empty when not known) and the last verification
// follow; a caller's older files may lack them, so with `times`
// ProgressFromFields takes both forms.
CIJOBRESULTS_API std::vector<std::string> ProgressFields(const FileProgress& progress, bool times);
CIJOBRESULTS_API bool ProgressFromFields(const std::vector<std::string>& fields, std::size_t first,
                                         bool times, FileProgress& progress);

// A known file as text fields: its name, with `times` its creation second,
// then its progress's fields (ProgressFields with `times`); and back from
// the fields at `first` on, taking both forms of the progress as
// ProgressFromFields does (false when they do not fit).
CIJOBRESULTS_API std::vector<std::string> KnownFileFields(const KnownFile& file, bool times);
CIJOBRESULTS_API bool KnownFileFromFields(const std::vector<std::string>& fields, std::size_t first,
                                          bool times, KnownFile& file);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSPROGRESS_H
