// The writer's append protocol (docs/FORMAT.md, "The append protocol"):
// writing a job results file with POSIX calls so that it is a complete
// document at every moment: after each append, after a failed append, and
// at any point where the process may be killed.
//
// Layout between appends: header, records, trailer "</Root>" at the end of
// the file, file position on the trailer's first byte.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_APPENDPROTOCOL_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_APPENDPROTOCOL_H

#include <sys/types.h>

#include <string>

namespace jobresults {

// Writes all size bytes at offset, going on after short counts and EINTR.
// Returns 0, or the errno of the call that failed.
int WriteAllAt(int fd, const char* data, size_t size, off64_t offset);

// ftruncate with EINTR retried. Returns 0 or errno.
int TruncateTo(int fd, off64_t size);

// The directory that holds dir\base_<seconds>.xml: on POSIX the backslash
// is part of the name, so it is everything up to the path's last "/".
std::string HoldingDirectory(const std::string& path);

struct CreatedFile {
    int fd = -1;             // -1 when creation failed
    std::string path;        // the name it has or will get, or the last one tried
    bool anonymous = false;  // not yet in the directory: NameCreatedFile links it
    int error = 0;           // errno of the failed creation or naming
};

// Creates the file that becomes dir\base_<seconds>.xml. Where the file
// system allows, the file is created without a name in the directory that
// will hold it, so that no name ever shows it before its first write;
// NameCreatedFile then links it. Elsewhere the name is created exclusively
// at once (never an existing file), trying the following seconds a bounded
// number of times when it is taken.
CreatedFile CreateJobResultsFile(const std::string& dirName, const std::string& baseName,
                                 long long seconds);

// Gives an anonymous file its name: the name in created.path, or when that
// is taken the following seconds', a bounded number of times; never an
// existing file. Returns 0, or the errno of the failure (created.error too).
int NameCreatedFile(CreatedFile& created, const std::string& dirName, const std::string& baseName,
                    long long seconds);

enum class AppendStatus {
    kDone,         // record written, position on the new trailer
    kWriteFailed,  // nothing changed: file and position as before the call
    kAbandoned,    // the file is complete but cannot be continued safely
    kSeekFailed,   // record written, but the position could not be moved
    kNoPosition,   // the position could not be learned: nothing written
    kSyncFailed,   // the record was taken back, but the file's syncs are no longer trusted
};

struct AppendOutcome {
    AppendStatus status;
    int error;        // errno of the failure, 0 when done
    off64_t trailer;  // where the trailer stands after the call
};

// Writes data (one record followed by the trailer) over the trailer at the
// current position. The old trailer stays intact until the new one is on
// disk. data is modified during the call and restored before it returns.
// When durable, the record is synced before the call returns. One sync
// cannot order the record's pages against the file's new size, so a power
// loss during the call may tear the end (docs/FORMAT.md, "Torn states"); a second sync per
// append would rule that out at twice the cost.
AppendOutcome AppendOverTrailer(int fd, char* data, size_t size, bool durable);

struct FinishOutcome {
    int error = 0;            // errno of the failure, 0 when finished
    bool syncFailed = false;  // the failure was a sync's, not a write's
};

// Replaces the trailer at offset trailer with the final end tag and cuts the
// file behind it. After a failed write the file is still a complete
// document, and calling again with the same offset finishes it exactly.
// When durable, the finished file is synced before the call returns.
FinishOutcome FinishAt(int fd, off64_t trailer, bool durable = false);

// Ends a file whose writer is gone, as its save would have, where the
// writer's last append left the trailer at offset trailer (behind the last
// whole record). What the writer may have left behind that trailer, an
// unfinished append or save, goes first, the way the writer itself takes
// back a failed append. Every state a kill can leave on the way is one the
// readers accept (see the definition). The caller holds the writer's lock.
FinishOutcome FinishLeftAt(int fd, off64_t trailer, bool durable);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_APPENDPROTOCOL_H
