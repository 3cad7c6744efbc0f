// Whether a job results file still has a writer, and how a file whose
// writer is gone is ended.
//
// A writer holds a lock on its file from its creation until it saves or
// closes it; the kernel drops the lock when the writer's process dies. A
// file that ends in the trailer of an append (FileEnding::kOpen) or in an
// unfinished write (kWriting) with no writer holding it was left by a
// writer that was killed: no writer ever opens an existing file again, so
// nothing will append to it or save it. CloseLeftFile saves it.
//
//   const jobresults::WriterProbe probe = jobresults::ProbeWriter(path);
//   if (probe.error != 0) ...      // could not be opened or tested
//   else if (probe.alive) ...      // a writer holds it
//
// Probing never blocks and never disturbs a writer: the lock is tested,
// not taken. Probe before reading a file: a file found without a writer
// and then read open stays open. On a file system that keeps no locks a
// probe fails, and so does every close.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSWRITERSTATE_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSWRITERSTATE_H

#include <cstdint>
#include <string>

#include "jobresults/JobResultsCheck.h"
#include "xml/LibraryExport.h"

namespace jobresults {

struct WriterProbe {
    int error = 0;       // errno of a failed open or test; alive is false then
    bool alive = false;  // a writer (or a close) holds the file
};

// Probes the file at `path` (opened read-only, without blocking).
CIJOBRESULTS_API WriterProbe ProbeWriter(const std::string& path);
// Probes the file `fd` is open on. A lock held through fd's own open file
// description does not count: a writer probing its own descriptor finds
// no other writer.
CIJOBRESULTS_API WriterProbe ProbeWriter(int fd);

enum class CloseOutcome {
    kClosed,        // saved now: the final end tag written and synced
    kAlreadySaved,  // it ends in the final end tag: nothing changed
    kWriterAlive,   // refused: a writer (or another close) holds it
    kDamaged,       // refused: damaged (check says where); salvage it
    kOpenFailed,    // it could not be opened for writing, or is no file
    kLockFailed,    // the lock could not be taken (errorNumber)
    kReadFailed,    // reading it to judge it failed; nothing changed
    kFinishFailed,  // the end could not be written; it is still complete
    kSyncFailed,    // written, but syncing it failed
};

struct CloseResult {
    CloseOutcome outcome = CloseOutcome::kClosed;
    int errorNumber = 0;  // errno of the failed call, 0 when none
    FileCheck check;      // the file as it was found, under the lock
    bool ok() const {
        return outcome == CloseOutcome::kClosed || outcome == CloseOutcome::kAlreadySaved;
    }
};

// Saves the file at `path` whose writer is gone, as the writer's own save
// would have: every record it holds stays, and so do its name, inode and
// creation time. The writer's lock is taken for the whole close, so a
// writer, a second close or a salvage cannot work on it meanwhile. A kill
// at any moment leaves a file every reader accepts with the same records,
// open or saved; a close run again finishes it.
CIJOBRESULTS_API CloseResult CloseLeftFile(const std::string& path);
// The same on the file `fd` is open on for reading and writing; the lock
// is taken through fd and released before the call returns, so fd must not
// be a writer's own.
CIJOBRESULTS_API CloseResult CloseLeftFile(int fd);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSWRITERSTATE_H
