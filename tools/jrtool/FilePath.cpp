#include "jrtool/FilePath.h"

#include <cstdio>
#include <ctime>

namespace jrtool {

namespace {

const std::string kBaseName = "ci_push_";
const std::string kExtension = ".xml";

bool IsDecimal(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

std::optional<ResultsFilePath> SplitWholePath(const std::string& wholePath) {
    const auto separator = wholePath.rfind('\\');
    if (separator == std::string::npos || separator == 0 || separator + 1 == wholePath.size()) {
        return std::nullopt;
    }
    return ResultsFilePath{wholePath.substr(0, separator), wholePath.substr(separator + 1)};
}

std::optional<std::vector<ResultsFilePath>> ParseFileArguments(
    const std::vector<std::string>& arguments, std::string& error) {
    std::vector<ResultsFilePath> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.find('\\') != std::string::npos) {
            auto file = SplitWholePath(argument);
            if (!file) {
                error = "'" + argument + "' is not a job results path (directory name\\file name)";
                return std::nullopt;
            }
            files.push_back(*file);
            continue;
        }
        if (argument.empty() || i + 1 == arguments.size() || arguments[i + 1].empty()) {
            error = "'" + argument +
                    "' has no backslash, so it is taken as a directory name, "
                    "but no file name follows it";
            return std::nullopt;
        }
        files.push_back({argument, arguments[i + 1]});
        ++i;
    }
    return files;
}

std::optional<ResultsFilePath> ParseSingleFileArguments(const std::vector<std::string>& arguments,
                                                        std::string& error) {
    if (arguments.size() == 2 && !arguments[0].empty() && !arguments[1].empty()) {
        return ResultsFilePath{arguments[0], arguments[1]};
    }
    const auto files = ParseFileArguments(arguments, error);
    if (!files) return std::nullopt;
    if (files->size() != 1) {
        error = "expected one file: a whole path, or a directory name and a file name";
        return std::nullopt;
    }
    return files->front();
}

std::string ResultsFileName(long long seconds) {
    return kBaseName + std::to_string(seconds) + kExtension;
}

std::optional<long long> CreationTimeFromFileName(const std::string& fileName) {
    const auto minimumSize = kBaseName.size() + kExtension.size();
    if (fileName.size() <= minimumSize || fileName.compare(0, kBaseName.size(), kBaseName) != 0 ||
        fileName.compare(fileName.size() - kExtension.size(), kExtension.size(), kExtension) != 0) {
        return std::nullopt;
    }
    std::string digits = fileName.substr(kBaseName.size(), fileName.size() - minimumSize);
    const bool negative = digits[0] == '-';
    if (negative) digits.erase(0, 1);
    // 18 digits always fit a long long; the writer never prints more for
    // any time this side of the year 30 billion.
    if (!IsDecimal(digits) || digits.size() > 18) return std::nullopt;
    const long long magnitude = std::stoll(digits);
    return negative ? -magnitude : magnitude;
}

std::string FormatUtcTime(long long seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[64];
    if (gmtime_r(&time, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        return "@" + std::to_string(seconds);
    }
    return text;
}

}  // namespace jrtool
