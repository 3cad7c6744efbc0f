#include "jobresults/JobResultsPaths.h"

#include <sys/stat.h>

namespace jobresults {
namespace {

bool IsDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsExistingFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// What to pass instead of the directory `directory` where a file is
// expected.
std::string FileHintFor(const std::string& directory) {
    const std::string inside = directory.back() == '/' ? directory : directory + "/";
    return "name a job results file in it, such as '" +
           JoinResultsPath(inside + "results", ResultsFileName(1700000000)) + "'";
}

// Why `argument`, with no file name after it, names no file.
std::string NoFileText(const std::string& argument) {
    if (IsDirectory(argument)) {
        return "'" + argument + "' is a directory, not a file: " + FileHintFor(argument);
    }
    return "no file '" + argument +
           "'; without a backslash it would be a directory name, but no file name follows it";
}

}  // namespace

std::optional<ResultsPath> SplitWholePath(const std::string& wholePath) {
    const auto separator = wholePath.rfind(kDirectorySeparator);
    if (separator == std::string::npos || separator == 0 || separator + 1 == wholePath.size()) {
        return std::nullopt;
    }
    return ResultsPath{wholePath.substr(0, separator), wholePath.substr(separator + 1)};
}

std::optional<std::vector<ResultsPath>> ParseFileArguments(
    const std::vector<std::string>& arguments, std::string& error) {
    std::vector<ResultsPath> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool whole = argument.find(kDirectorySeparator) != std::string::npos;
        const std::optional<ResultsPath> split = whole ? SplitWholePath(argument) : std::nullopt;
        if (!split && IsExistingFile(argument)) {
            files.push_back(ResultsPath::Plain(argument));
        } else if (whole && !split) {
            error = "'" + argument + "' is not a job results path (" +
                    JoinResultsPath("directory name", "file name") + ")";
            return std::nullopt;
        } else if (whole) {
            files.push_back(*split);
        } else if (argument.empty() || i + 1 == arguments.size() || arguments[i + 1].empty()) {
            error = NoFileText(argument);
            return std::nullopt;
        } else {
            files.push_back({argument, arguments[++i]});
        }
    }
    return files;
}

std::optional<ResultsPath> ParseSingleFileArguments(const std::vector<std::string>& arguments,
                                                    std::string& error) {
    if (arguments.size() == 2 && !arguments[0].empty() && !arguments[1].empty()) {
        return ResultsPath{arguments[0], arguments[1]};
    }
    const auto files = ParseFileArguments(arguments, error);
    if (!files) return std::nullopt;
    if (files->size() != 1) {
        error = "expected one file: a whole path, or a directory name and a file name";
        return std::nullopt;
    }
    return files->front();
}

}  // namespace jobresults
