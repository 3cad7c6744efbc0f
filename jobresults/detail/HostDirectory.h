// The name of a writer's open file, found in the directory that holds the
// files of its directory name (LocateOnHost).
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_HOSTDIRECTORY_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_HOSTDIRECTORY_H

#include <string>

#include "jobresults/JobResultsNames.h"

namespace jobresults {

// The whole path (dirName + "\\" + file name) under which the open file
// `fd` is named dirName\baseName_*.xml: the entry of the host directory with
// the descriptor's device and inode, whatever name the store chose for it.
// Empty when no entry has them or the directory cannot be read.
std::string PathOfOpenFile(const std::string& dirName, const std::string& baseName, int fd);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_HOSTDIRECTORY_H
