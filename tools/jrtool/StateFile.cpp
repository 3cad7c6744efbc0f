#include "jrtool/StateFile.h"

#include <cerrno>
#include <cstdint>

#include "jrtool/Files.h"
#include "jrtool/Input.h"

namespace jrtool {

std::string StateLine(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    std::string line;
    for (const std::string& field : head) {
        if (!line.empty()) line += '\t';
        line += EscapeTsvValue(field);
    }
    return line + '\n';
}

std::vector<std::string> StateFields(const std::string& line) {
    std::vector<std::string> fields = SplitTsvLine(line);
    for (std::string& field : fields) field = UnescapeTsvValue(field);
    return fields;
}

bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode,
                 std::string& error) {
    const jobresults::ReplaceOutcome outcome = jobresults::ReplaceFileDurably(path, text, mode);
    if (outcome.ok()) return true;
    // The name, not the random one tried, so that a failure that comes
    // again reads the same.
    const bool created = outcome.step != jobresults::ReplaceStep::kCreate;
    error = WithReason((created ? "cannot write " : "cannot create a file beside ") + path,
                       outcome.error);
    return false;
}

bool CheckWritable(const std::string& path, std::string& error) {
    const int failure = jobresults::CheckReplaceable(path);
    if (failure != 0) error = WithReason("cannot write " + path, failure);
    return failure == 0;
}

std::optional<std::vector<std::string>> ReadStateLines(const std::string& path,
                                                       const std::string& kind, std::string& error,
                                                       bool& broken) {
    std::vector<std::string> lines;
    jobresults::SealedRead read = jobresults::SealedRead::kRead;
    const int failure = jobresults::ReadSealedFile(path, kind, lines, read);
    broken = failure == 0 && read == jobresults::SealedRead::kBroken;
    if (failure == ENOENT) return lines;
    if (failure != 0) {
        error = WithReason("cannot read " + path, failure);
    } else if (read == jobresults::SealedRead::kOtherKind) {
        error =
            path + " is not a state file of this command (its first line is not '" + kind + "')";
    } else if (broken) {
        error = path +
                " is cut short or damaged (its last line, the check of the lines before "
                "it, does not match them)";
    } else {
        return lines;
    }
    return std::nullopt;
}

}  // namespace jrtool
