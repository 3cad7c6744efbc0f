// A job results file as people and programs name it: by its whole path
// (everything before the last backslash is the directory name), by a
// directory name and a file name, or by the plain path of a file no longer
// named the writer's way (a renamed copy). One reading of file arguments
// for every program that takes them: the tool, a caller's own code.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSPATHS_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSPATHS_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jobresults/JobResultsNames.h"
#include "xml/LibraryExport.h"

namespace jobresults {

// A file as the readers take it. A plain file has an empty dirName, and
// fileName holds its path.
struct ResultsPath {
    std::string dirName;
    std::string fileName;

    static ResultsPath Plain(std::string path) { return {"", std::move(path)}; }
    bool IsPlain() const { return dirName.empty(); }
    // Directory name, separator, file name; the path of a plain file.
    std::string WholePath() const {
        return IsPlain() ? fileName : JoinResultsPath(dirName, fileName);
    }
};

// Splits a whole path at its last backslash; nullopt when it has none or
// when either side would be empty.
CIJOBRESULTS_API std::optional<ResultsPath> SplitWholePath(const std::string& wholePath);

// Reads file arguments: an argument holding a backslash is a whole path; an
// argument that names an existing file in no such form is a plain file; any
// other argument is a directory name, and the argument after it is the file
// name. Nullopt with a message in `error` on misuse.
CIJOBRESULTS_API std::optional<std::vector<ResultsPath>> ParseFileArguments(
    const std::vector<std::string>& arguments, std::string& error);

// One file from one argument (a whole path) or two (a directory name and a
// file name; taken as such even when the directory name holds a backslash).
CIJOBRESULTS_API std::optional<ResultsPath> ParseSingleFileArguments(
    const std::vector<std::string>& arguments, std::string& error);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSPATHS_H
