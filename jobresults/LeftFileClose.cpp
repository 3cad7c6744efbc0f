// CloseLeftFile: under the writer's lock, the file judged by the strict
// check, then ended from behind its last whole record by the writer's own
// protocol (FinishLeftAt), and synced.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "jobresults/JobResultsRecovery.h"
#include "jobresults/JobResultsWriterState.h"
#include "jobresults/detail/AppendProtocol.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/WriterLock.h"

namespace jobresults {
namespace {

CloseResult Outcome(CloseOutcome outcome, int errorNumber) {
    CloseResult result;
    result.outcome = outcome;
    result.errorNumber = errorNumber;
    return result;
}

FileCheck ReadFailed(int error) {
    FileCheck failed;
    failed.error = error != 0 ? error : EIO;
    return failed;
}

// The check of the file, and where the walk over the writer's layout
// finds its end: behind the last whole record, where the writer's last
// finished append left the trailer. The check judges; the walk, which
// goes on behind damage, is asked only about a sound file, and must agree
// with the check before anything is written at its end.
FileCheck Judge(int fd, std::uint64_t& trailer) {
    const FileCheck check = CheckResultsFile(fd);
    if (!check.sound() || check.ending == FileEnding::kSaved) return check;
    JobResultsRecovery walk;
    if (!walk.open(fd)) return ReadFailed(walk.errorNumber());
    for (JobResultsRecovery::Found found = walk.next(); found != JobResultsRecovery::Found::kEnd;
         found = walk.next()) {
        if (found == JobResultsRecovery::Found::kReadFailed) {
            return ReadFailed(walk.errorNumber());
        }
    }
    // The file changed between the two reads (no writer of this library
    // changes it while the lock is held).
    if (walk.ending() != check.ending) return ReadFailed(ESTALE);
    trailer = walk.offset();
    return check;
}

// Under the lock: judged, then ended when it is sound and not saved.
CloseResult CloseLocked(int fd) {
    std::uint64_t trailer = 0;
    CloseResult result;
    result.check = Judge(fd, trailer);
    if (result.check.error != 0) {
        result.outcome = CloseOutcome::kReadFailed;
        result.errorNumber = result.check.error;
    } else if (result.check.damaged()) {
        result.outcome = CloseOutcome::kDamaged;
    } else if (result.check.ending == FileEnding::kSaved) {
        result.outcome = CloseOutcome::kAlreadySaved;
    } else {
        const FinishOutcome finish = FinishLeftAt(fd, static_cast<off64_t>(trailer), true);
        if (finish.error != 0) {
            result.outcome =
                finish.syncFailed ? CloseOutcome::kSyncFailed : CloseOutcome::kFinishFailed;
            result.errorNumber = finish.error;
        }
    }
    return result;
}

}  // namespace

CloseResult CloseLeftFile(int fd) {
    if (fd < 0) return Outcome(CloseOutcome::kOpenFailed, EBADF);
    if (const int error = FileWindow::RegularFileError(fd)) {
        return Outcome(CloseOutcome::kOpenFailed, error);
    }
    if (const int error = TakeWriterLock(fd)) {
        return Outcome(error == EAGAIN ? CloseOutcome::kWriterAlive : CloseOutcome::kLockFailed,
                       error);
    }
    const CloseResult result = CloseLocked(fd);
    ReleaseWriterLock(fd);
    return result;
}

CloseResult CloseLeftFile(const std::string& path) {
    int fd;
    do {
        fd = open64(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Outcome(CloseOutcome::kOpenFailed, errno);
    const CloseResult result = CloseLeftFile(fd);
    ::close(fd);  // releases the lock too
    return result;
}

}  // namespace jobresults
