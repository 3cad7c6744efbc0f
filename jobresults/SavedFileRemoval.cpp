// RemoveSavedFile: under a share of the writer's lock, the file judged by
// the strict check, its path checked to still name it, then unlinked.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "jobresults/JobResultsRetention.h"
#include "jobresults/detail/Durability.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/WriterLock.h"

namespace jobresults {
namespace {

RemoveResult Outcome(RemoveOutcome outcome, int errorNumber) {
    RemoveResult result;
    result.outcome = outcome;
    result.errorNumber = errorNumber;
    return result;
}

// Whether `path` still names the file fd is open on: a file put in its
// place after the judging is not the one judged.
bool StillNamed(int fd, const std::string& path) {
    struct stat opened;
    struct stat named;
    return fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Under the shared lock: judged, then removed when saved and sound.
RemoveResult RemoveLocked(int fd, const std::string& path, bool judgeOnly) {
    RemoveResult result;
    result.check = CheckResultsFile(fd);
    if (result.check.error != 0) {
        result.outcome = RemoveOutcome::kReadFailed;
        result.errorNumber = result.check.error;
    } else if (result.check.damaged()) {
        result.outcome = RemoveOutcome::kDamaged;
    } else if (result.check.ending != FileEnding::kSaved) {
        result.outcome = RemoveOutcome::kNotSaved;
    } else if (!StillNamed(fd, path)) {
        result.outcome = RemoveOutcome::kReplaced;
    } else if (judgeOnly) {
        return result;
    } else if (unlink(path.c_str()) != 0) {
        result.outcome = RemoveOutcome::kRemoveFailed;
        result.errorNumber = errno;
    } else if (const int error = SyncHoldingDirectory(path)) {
        result.outcome = RemoveOutcome::kSyncFailed;
        result.errorNumber = error;
    }
    return result;
}

}  // namespace

RemoveResult RemoveSavedFile(const std::string& path, bool judgeOnly) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Outcome(RemoveOutcome::kOpenFailed, errno);
    RemoveResult result;
    if (const int error = FileWindow::RegularFileError(fd)) {
        result = Outcome(RemoveOutcome::kOpenFailed, error);
    } else if (const int locked = ShareWriterLock(fd)) {
        result = Outcome(
            locked == EAGAIN ? RemoveOutcome::kWriterAlive : RemoveOutcome::kLockFailed, locked);
    } else {
        result = RemoveLocked(fd, path, judgeOnly);
    }
    ::close(fd);  // releases the lock too
    return result;
}

}  // namespace jobresults
