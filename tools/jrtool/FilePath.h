// How job results files are named. The store builds every path as
// directory name + "\" + file name, so on POSIX the backslash is part of the
// file name: "/var/ci/results\ci_push_1700000000.xml" is the file
// "results\ci_push_1700000000.xml" in "/var/ci".
#ifndef JRTOOL_FILEPATH_H
#define JRTOOL_FILEPATH_H

#include <optional>
#include <string>
#include <vector>

namespace jrtool {

// A job results file as the store's reader takes it.
struct ResultsFilePath {
    std::string dirName;
    std::string fileName;

    std::string WholePath() const { return dirName + "\\" + fileName; }
};

// Splits a whole path at its last backslash; nullopt when it has none or
// when either side would be empty.
std::optional<ResultsFilePath> SplitWholePath(const std::string& wholePath);

// Reads file arguments: an argument holding a backslash is a whole path; an
// argument without one is a directory name, and the argument after it is the
// file name. Returns nullopt with a message in `error` on misuse.
std::optional<std::vector<ResultsFilePath>> ParseFileArguments(
    const std::vector<std::string>& arguments, std::string& error);

// One file from one argument (a whole path) or two (a directory name and a
// file name; taken as such even when the directory name holds a backslash).
std::optional<ResultsFilePath> ParseSingleFileArguments(const std::vector<std::string>& arguments,
                                                        std::string& error);

// "ci_push_<seconds>.xml", the name the writer gives a file created at
// `seconds`.
std::string ResultsFileName(long long seconds);

// The creation time encoded in a file name of that form, or nullopt.
std::optional<long long> CreationTimeFromFileName(const std::string& fileName);

// Seconds since the epoch as "YYYY-MM-DDTHH:MM:SSZ".
std::string FormatUtcTime(long long seconds);

}  // namespace jrtool

#endif
