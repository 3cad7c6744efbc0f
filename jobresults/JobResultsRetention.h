// Removing a job results file that is done with: saved by its writer and
// read sound. What keeps a file for a reader that has not read it yet (a
// follow state, say) is the caller's to judge before the call.
//
//   const jobresults::RemoveResult removed = jobresults::RemoveSavedFile(path);
//   if (removed.outcome == jobresults::RemoveOutcome::kRemoved) ...
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSRETENTION_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSRETENTION_H

#include <string>

#include "jobresults/JobResultsCheck.h"
#include "xml/LibraryExport.h"

namespace jobresults {

enum class RemoveOutcome {
    kRemoved,       // gone, and its directory synced
    kNotSaved,      // kept: open, or left by a writer that is gone
    kDamaged,       // kept: check finds damage; salvage it first
    kWriterAlive,   // kept: a writer, a close or a salvage holds it
    kOpenFailed,    // it could not be opened, or is no regular file
    kLockFailed,    // the writer's lock could not be tested (errorNumber)
    kReadFailed,    // reading it to judge it failed
    kReplaced,      // kept: the path names another file than the one judged
    kRemoveFailed,  // unlink failed (errorNumber)
    kSyncFailed,    // removed, but syncing its directory failed
};

struct RemoveResult {
    RemoveOutcome outcome = RemoveOutcome::kRemoved;
    int errorNumber = 0;  // errno of the failed call, 0 when none
    FileCheck check;      // the file as it was judged
};

// Removes the file at `path` when it is saved and sound, holding a share
// of the writer's lock while it judges and removes it, so that no close
// or salvage works on it meanwhile. The removal is one unlink: a kill at
// any moment leaves the file whole or gone. The directory is synced, so
// that a removal reported stays done after a power loss. With `judgeOnly`
// the file is judged alike and left: kRemoved then says it would go.
CIJOBRESULTS_API RemoveResult RemoveSavedFile(const std::string& path, bool judgeOnly = false);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSRETENTION_H
