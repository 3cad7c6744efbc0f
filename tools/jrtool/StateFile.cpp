#include "jrtool/StateFile.h"

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>

#include "jobresults/JobResultsReplace.h"
#include "jrtool/Files.h"
#include "jrtool/Input.h"

namespace jrtool {

std::uint64_t Checksum(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash;
}

std::string StateLine(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
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

std::string SealState(const std::string& text) {
    std::size_t lines = 0;
    for (const char c : text) lines += c == '\n' ? 1 : 0;
    return text + StateLine({"end", std::to_string(lines), std::to_string(Checksum(text))});
}

bool CheckWritable(const std::string& path, std::string& error) {
    const int failure = jobresults::CheckReplaceable(path);
    if (failure != 0) error = WithReason("cannot write " + path, failure);
    return failure == 0;
}

std::optional<std::vector<std::string>> ReadStateLines(const std::string& path,
                                                       const std::string& kind, std::string& error,
                                                       bool& broken) {
    broken = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return std::vector<std::string>();
        error = WithReason("cannot read " + path, errno);
        return std::nullopt;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    if (text.compare(0, kind.size() + 1, kind + '\n') != 0) {
        error =
            path + " is not a state file of this command (its first line is not '" + kind + "')";
        return std::nullopt;
    }
    // The check line is the last; all before it must give the same line.
    const auto lastStart = text.size() < 2 ? std::string::npos : text.rfind('\n', text.size() - 2);
    const std::string body = text.substr(0, lastStart == std::string::npos ? 0 : lastStart + 1);
    if (text.empty() || text.back() != '\n' || lastStart == std::string::npos ||
        SealState(body) != text) {
        broken = true;
        error = path +
                " is cut short or damaged (its last line, the check of the lines before "
                "it, does not match them)";
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::istringstream rest(body.substr(kind.size() + 1));
    for (std::string line; std::getline(rest, line);) lines.push_back(line);
    return lines;
}

}  // namespace jrtool
