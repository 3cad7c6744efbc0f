#include "jrtool/FileListing.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace jrtool {

HostLocation LocateOnHost(const std::string& dirName) {
    const auto slash = dirName.rfind('/');
    if (slash == std::string::npos) return {".", dirName + "\\"};
    const std::string directory = slash == 0 ? "/" : dirName.substr(0, slash);
    return {directory, dirName.substr(slash + 1) + "\\"};
}

std::optional<std::vector<ListedFile>> ListResultsFiles(const std::string& dirName,
                                                        std::string& error) {
    const HostLocation location = LocateOnHost(dirName);
    std::error_code failure;
    std::filesystem::directory_iterator entries(location.directory, failure);
    if (failure) {
        error = "cannot read directory " + location.directory + ": " + failure.message();
        return std::nullopt;
    }
    std::vector<ListedFile> files;
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, location.namePrefix.size(), location.namePrefix) != 0) continue;
        const std::string fileName = name.substr(location.namePrefix.size());
        const auto created = CreationTimeFromFileName(fileName);
        if (!created || !entry.is_regular_file(failure)) continue;
        files.push_back({{dirName, fileName}, *created});
    }
    std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) {
        return a.createdSeconds != b.createdSeconds ? a.createdSeconds < b.createdSeconds
                                                    : a.path.fileName < b.path.fileName;
    });
    return files;
}

}  // namespace jrtool
