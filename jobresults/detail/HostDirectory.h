// Where the files of a directory name live on a POSIX host. The store
// joins the directory name and the file name with a backslash, which POSIX
// takes as an ordinary character: everything after the last slash of the
// directory name becomes the start of the file's name. The directory name
// "/var/ci/results" gives files named "results\ci_push_<seconds>.xml" in
// "/var/ci"; "results" gives them in "."; "out/" gives "\ci_push_..." in
// "out".
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_HOSTDIRECTORY_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_HOSTDIRECTORY_H

#include <string>

#include "jobresults/detail/JobResultsFormat.h"

namespace jobresults {

struct HostLocation {
    std::string directory;   // the POSIX directory that holds the files
    std::string namePrefix;  // what their names there start with, up to the backslash
};

// Inline, so that the tool shares the rule without a symbol of the library.
inline HostLocation LocateOnHost(const std::string& dirName) {
    const auto slash = dirName.rfind('/');
    if (slash == std::string::npos) return {".", dirName + kDirectorySeparator};
    const std::string directory = slash == 0 ? "/" : dirName.substr(0, slash);
    return {directory, dirName.substr(slash + 1) + kDirectorySeparator};
}

// The whole path (dirName + "\\" + file name) under which the open file
// `fd` is named dirName\baseName_*.xml: the entry of the host directory with
// the descriptor's device and inode, whatever name the store chose for it.
// Empty when no entry has them or the directory cannot be read.
std::string PathOfOpenFile(const std::string& dirName, const std::string& baseName, int fd);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_HOSTDIRECTORY_H
