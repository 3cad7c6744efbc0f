// The copies that stopped salvages leave, found by their names: for the
// listings that name them and for the salvage that removes them.
#include <dirent.h>

#include <algorithm>
#include <string_view>

#include "jobresults/JobResultsNames.h"
#include "jobresults/JobResultsSalvage.h"

namespace jobresults {

namespace {

constexpr std::string_view kRescueSuffix = ".rescue";

// Calls `take` with the rest of each name in the host directory of
// `dirName` that begins with its name prefix.
template <class Take>
void EachNameOf(const std::string& dirName, Take take) {
    const HostLocation location = LocateOnHost(dirName);
    DIR* const directory = opendir(location.directory.c_str());
    if (directory == nullptr) return;
    while (const dirent* const entry = readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name.substr(0, location.namePrefix.size()) == location.namePrefix) {
            take(name.substr(location.namePrefix.size()));
        }
    }
    closedir(directory);
}

bool IsResultsFileName(std::string_view name) {
    long long seconds = 0;
    return ParseResultsFileName(name, seconds);
}

}  // namespace

std::string RescueDirName(const std::string& path) { return path + std::string(kRescueSuffix); }

std::vector<RescueLeftover> ListRescueLeftovers(const std::string& dirName) {
    std::vector<RescueLeftover> leftovers;
    EachNameOf(dirName, [&](std::string_view rest) {
        const auto separator = rest.find(kDirectorySeparator);
        if (separator == std::string_view::npos) return;
        const std::string_view rescued = rest.substr(0, separator);
        const std::string_view original =
            rescued.substr(0, rescued.size() - std::min(rescued.size(), kRescueSuffix.size()));
        if (rescued.substr(original.size()) != kRescueSuffix || !IsResultsFileName(original) ||
            !IsResultsFileName(rest.substr(separator + 1))) {
            return;
        }
        leftovers.push_back({JoinResultsPath(dirName, std::string(rest)),
                             JoinResultsPath(dirName, std::string(original))});
    });
    std::sort(leftovers.begin(), leftovers.end(),
              [](const RescueLeftover& a, const RescueLeftover& b) { return a.path < b.path; });
    return leftovers;
}

std::vector<std::string> RescueLeftoversOf(const std::string& path) {
    std::vector<std::string> leftovers;
    const std::string rescueDirName = RescueDirName(path);
    EachNameOf(rescueDirName, [&](std::string_view rest) {
        if (IsResultsFileName(rest)) {
            leftovers.push_back(JoinResultsPath(rescueDirName, std::string(rest)));
        }
    });
    return leftovers;
}

}  // namespace jobresults
