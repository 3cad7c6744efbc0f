// In place, the damaged file gets a second name first and the copy then
// replaces the first one in a single rename: a stop before it leaves the
// damaged file under both names, a stop after it the copy under the
// file's name; the copy's temporary name is never listed. The directory is
// synced between the link and the rename: a power loss may otherwise keep
// the rename and lose the link, and with it the damaged file.
#include "jobresults/detail/RescuePlacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "jobresults/JobResultsNames.h"

namespace jobresults {

namespace {

// Syncs a file, or a directory after renames in it; errno on failure.
int Sync(const std::string& path, int flags) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) return errno;
    const int failure = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return failure;
}

// Whether two paths name the same file.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool Failed(SalvageStep step, int errorNumber, SalvageResult& result) {
    result.step = step;
    result.errorNumber = errorNumber;
    return false;
}

// The damaged file's second name, on the disk before the rename.
bool SetAside(const std::string& path, const std::string& directory, SalvageResult& result) {
    result.damagedPath = path + std::string(kDamagedSuffix);
    if (link(path.c_str(), result.damagedPath.c_str()) != 0) {
        const int failure = errno;
        // A run stopped behind the link left the same file there.
        if (failure != EEXIST || !SameFile(path, result.damagedPath)) {
            return Failed(SalvageStep::kSetAside, failure, result);
        }
    }
    if (const int failure = Sync(directory, O_DIRECTORY)) {
        return Failed(SalvageStep::kSyncDirectory, failure, result);
    }
    return true;
}

}  // namespace

bool PlaceRescue(const std::string& path, const std::string& dirName, bool inPlace,
                 SalvageResult& result) {
    const std::string& rescue = result.rescuePath;
    const std::string directory = LocateOnHost(dirName).directory;
    result.copyPath = path;
    if (const int failure = Sync(rescue, 0)) return Failed(SalvageStep::kSyncCopy, failure, result);
    if (inPlace) {
        if (!SetAside(path, directory, result)) return false;
        if (rename(rescue.c_str(), path.c_str()) != 0) {
            return Failed(SalvageStep::kRename, errno, result);
        }
    } else {
        // link, not rename: a file of that name is never overwritten.
        if (link(rescue.c_str(), path.c_str()) != 0) {
            return Failed(SalvageStep::kNameCopy, errno, result);
        }
        unlink(rescue.c_str());
    }
    if (const int failure = Sync(directory, O_DIRECTORY)) {
        return Failed(SalvageStep::kSyncDirectory, failure, result);
    }
    return true;
}

}  // namespace jobresults
