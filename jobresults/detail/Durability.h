// Getting a writer's file and its name onto the disk: the syncs behind the
// sync levels of CCIJobResults, and the level in force for a new file.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_DURABILITY_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_DURABILITY_H

#include <string>

#include "jobresults/JobResultsSync.h"

namespace jobresults {

// fdatasync with EINTR retried: the file's data and size on the disk.
// Returns 0 or errno.
int SyncData(int fd);

// fsync of the directory that holds the file at path, so that the names
// linked, created or removed in it are on the disk. Returns 0 or errno.
int SyncHoldingDirectory(const std::string& path);

// The level in force for a file created now: the chosen one, or the
// environment's. False for a word the environment variable may not hold;
// `refused` is then that word.
bool LevelForNewFile(JobResultsSync chosen, JobResultsSync& level, std::string& refused);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_DURABILITY_H
