#include "jrtool/FollowState.h"

#include <vector>

#include "jrtool/StateFile.h"

namespace jrtool {

bool LoadFollowState(const std::string& path, const std::string& dirName,
                     jobresults::KnownFiles& files, bool& resumed, std::string& error) {
    bool broken = false;
    const auto lines = ReadStateLines(path, kFollowStateKind, error, broken);
    if (broken) error += "; remove it to start afresh";
    if (!lines) return false;
    for (const std::string& line : *lines) {
        const std::vector<std::string> fields = StateFields(line);
        if (fields.size() == 2 && fields[0] == "dir" && fields[1] == dirName) {
            resumed = true;
            continue;
        }
        jobresults::KnownFile file;
        if (fields.empty() || fields[0] != "file" ||
            !jobresults::KnownFileFromFields(fields, 1, false, file)) {
            error = path + " holds a line this command does not write; remove it to start afresh";
            return false;
        }
        files[file.progress.identity] = file;
    }
    if (!lines->empty() && !resumed) {
        error = path + " belongs to another directory name";
        return false;
    }
    return true;
}

std::string FollowStateText(const std::string& dirName, const jobresults::KnownFiles& files) {
    std::string text = std::string(kFollowStateKind) + '\n' + StateLine({"dir", dirName});
    for (const auto& [identity, file] : files)
        text += StateLine({"file"}, jobresults::KnownFileFields(file, false));
    return text;
}

}  // namespace jrtool
