// Watching a directory name's job results files for changes, for a program
// that follows them as they are written: inotify on the host directory
// (LocateOnHost), with its events read as the files they concern. Where
// inotify cannot watch, the caller looks at the whole directory now and
// then instead.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSWATCH_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSWATCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "jobresults/JobResultsProgress.h"
#include "xml/LibraryExport.h"

namespace jobresults {

// What the events read in one round say.
struct WatchedChanges {
    int error = 0;  // the errno of the read (EAGAIN: no event was queued)
    // The host directory was removed or moved: no more events come.
    bool directoryGone = false;
    // Events were lost: only a look at the whole directory tells what changed.
    bool overflowed = false;
    // The directory name's files that were written, made, moved or removed,
    // by file name, each once, in order.
    std::vector<std::string> fileNames;
    // Files written before they have a name: the writer makes its file
    // without one and links it into place once it reads, and inotify names
    // appends through it "#<inode>". Each once, in order.
    std::vector<std::uint64_t> unnamedInodes;
};

// Starts a watch on the host directory of `dirName` and puts its descriptor
// (non-blocking, closed on exec; the caller closes it) into `fd`: it turns
// readable when events are queued. 0, or the errno of the failure.
CIJOBRESULTS_API int WatchResultsFiles(const std::string& dirName, int& fd);

// Reads the events queued on the watch `fd` of `dirName`, with one read,
// so that events that keep coming wait for the caller's next round.
CIJOBRESULTS_API WatchedChanges ReadWatchedChanges(int fd, const std::string& dirName);

// The files that `changes` names, for a caller that follows the files
// `known` of `dirName`: those that are there, described anew, into `files`
// (an unnamed one by the name it had when it was read); the entries of
// names whose file went are dropped. False, with nothing done, when only a
// look at the whole directory tells what changed: events were lost, or a
// file not known yet was written before it had a name.
CIJOBRESULTS_API bool DescribeWatchedFiles(const std::string& dirName,
                                           const WatchedChanges& changes, KnownFiles& known,
                                           std::vector<ResultsFile>& files);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSWATCH_H
