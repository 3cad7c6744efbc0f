// What a directory name that is a directory means, in words, for the hints
// of the tool and the Python module.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "jobresults/JobResultsFiles.h"
#include "jobresults/JobResultsNames.h"

namespace jobresults {
namespace {

bool IsDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// `directory` joined with a name in it, without doubling a slash.
std::string Inside(const std::string& directory, const std::string& name) {
    return !directory.empty() && directory.back() == '/' ? directory + name
                                                         : directory + "/" + name;
}

// The directory names whose job results files lie in `directory`: for the
// file "results\ci_push_1700000000.xml" in "out", "out/results". At most
// three, sorted.
std::vector<std::string> DirectoryNamesInside(const std::string& directory) {
    std::vector<std::string> names;
    DIR* const listing = opendir(directory.c_str());
    if (listing == nullptr) return names;
    while (const dirent* const entry = readdir(listing)) {
        const std::string name = entry->d_name;
        const auto separator = name.rfind(kDirectorySeparator);
        long long seconds = 0;
        if (separator == std::string::npos ||
            !ParseResultsFileName(std::string_view(name).substr(separator + 1), seconds)) {
            continue;
        }
        const std::string dirName = Inside(directory, name.substr(0, separator));
        if (std::find(names.begin(), names.end(), dirName) == names.end()) {
            names.push_back(dirName);
        }
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    if (names.size() > 3) names.resize(3);
    return names;
}

std::string Alternatives(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) text += (i > 0 ? " or " : "") + names[i];
    return text;
}

}  // namespace

DirectoryNameNote NoteOnDirectoryName(const std::string& dirName) {
    DirectoryNameNote note;
    note.endsInSlash = !dirName.empty() && dirName.back() == '/';
    if (!note.endsInSlash && !IsDirectory(dirName)) return note;
    note.applies = true;
    const HostLocation host = LocateOnHost(dirName);
    const std::string directory = note.endsInSlash ? host.directory : dirName;
    const std::vector<std::string> inside = DirectoryNamesInside(directory);
    const std::string instead =
        inside.empty() ? "a directory name inside it, such as " + Inside(directory, "results")
                       : Alternatives(inside);
    note.text = "'" + dirName + "' " + (note.endsInSlash ? "ends in '/'" : "is a directory") +
                ": a directory name starts the paths of its files rather than naming their "
                "directory, so the files of '" +
                dirName + "' are named '" + host.namePrefix + ResultsFileNamePattern() + "' in '" +
                host.directory + "'. For the files inside " + directory + ", pass " + instead;
    return note;
}

}  // namespace jobresults
