#include "jobresults/detail/HostDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace jobresults {

std::string PathOfOpenFile(const std::string& dirName, const std::string& baseName, int fd) {
    struct stat wanted;
    if (fd < 0 || fstat(fd, &wanted) != 0) return "";
    const HostLocation location = LocateOnHost(dirName);
    const std::string start = location.namePrefix + baseName + kTimeSeparator;
    long long seconds = 0;
    DIR* const directory = opendir(location.directory.c_str());
    if (directory == nullptr) return "";
    std::string path;
    while (const dirent* const entry = readdir(directory)) {
        const std::string name = entry->d_name;
        struct stat named;
        if (name.compare(0, start.size(), start) == 0 &&
            ParseResultsFileName(std::string_view(name).substr(location.namePrefix.size()),
                                 seconds) &&
            fstatat(dirfd(directory), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == wanted.st_dev && named.st_ino == wanted.st_ino) {
            path = JoinResultsPath(dirName, name.substr(location.namePrefix.size()));
            break;
        }
    }
    closedir(directory);
    return path;
}

}  // namespace jobresults
