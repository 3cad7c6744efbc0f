// Finds the job results files that the store has created for a directory
// name. On POSIX the last component of the directory name becomes the start
// of the file name: the directory name "demo/results" gives files named
// "results\ci_push_<seconds>.xml" in "demo".
#ifndef JRTOOL_FILELISTING_H
#define JRTOOL_FILELISTING_H

#include <optional>
#include <string>
#include <vector>

#include "jrtool/FilePath.h"

namespace jrtool {

struct ListedFile {
    ResultsFilePath path;
    long long createdSeconds = 0;
};

// The POSIX directory that holds the files of a directory name, and the
// prefix their names carry there.
struct HostLocation {
    std::string directory;
    std::string namePrefix;
};

HostLocation LocateOnHost(const std::string& dirName);

// The files of `dirName`, oldest first. nullopt, with a message in `error`,
// when the host directory cannot be read.
std::optional<std::vector<ListedFile>> ListResultsFiles(const std::string& dirName,
                                                        std::string& error);

}  // namespace jrtool

#endif
