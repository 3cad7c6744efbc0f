// The writer's sync levels: what an acknowledged append survives.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSSYNC_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSSYNC_H

#include <string>

#include "xml/LibraryExport.h"

// How far an append survives a power loss (a kill of the process costs
// nothing acknowledged at any level):
//   kNone:   nothing is synced; a power loss may lose the whole file.
//   kName:   the first record and the file's name are on the disk before
//            the first addJobResult returns 1; later appends reach the disk
//            as the kernel writes them back, so a power loss may lose the
//            newest of them and tear the file's end (check reports it,
//            salvage repairs it). One sync pair per file. The default.
//   kAppend: every record is on the disk before addJobResult returns 1, and
//            the save is synced too.
// kFromEnvironment takes the level from the environment variable
// CIJOBRESULTS_SYNC ("none", "name" or "append") each time the writer
// creates a file, and kName when it is unset or empty.
enum class JobResultsSync : unsigned char {
    kFromEnvironment = 0,
    kNone = 1,
    kName = 2,
    kAppend = 3
};

namespace jobresults {

inline constexpr char kSyncVariable[] = "CIJOBRESULTS_SYNC";

// "none", "name", "append" and back; false for any other word (the level
// is left as it was). kFromEnvironment has no word and gives "".
CIJOBRESULTS_API bool ParseSyncLevel(const std::string& word, JobResultsSync& level);
CIJOBRESULTS_API const char* SyncLevelName(JobResultsSync level);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSSYNC_H
