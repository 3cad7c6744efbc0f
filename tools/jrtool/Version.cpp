#include "jrtool/Version.h"

#include "jobresults/JobResultsVersion.h"

namespace jrtool {

namespace {

bool Digits(const std::string& text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return false;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

}  // namespace

std::string WithIsoDate(const std::string& line) {
    // "<version> MM/DD/YY HH:MM:SS": the date starts 17 characters from the end.
    constexpr std::size_t kStampSize = 17;
    if (line.size() <= kStampSize) return line;
    const std::size_t at = line.size() - kStampSize;
    const bool fits = line[at - 1] == ' ' && Digits(line, at, 2) && line[at + 2] == '/' &&
                      Digits(line, at + 3, 2) && line[at + 5] == '/' && Digits(line, at + 6, 2) &&
                      line[at + 8] == ' ' && Digits(line, at + 9, 2) && line[at + 11] == ':' &&
                      Digits(line, at + 12, 2) && line[at + 14] == ':' && Digits(line, at + 15, 2);
    if (!fits) return line;
    // The build writes the date in UTC, two digits of a year of this century.
    return line.substr(0, at) + "20" + line.substr(at + 6, 2) + '-' + line.substr(at, 2) + '-' +
           line.substr(at + 3, 2) + 'T' + line.substr(at + 9) + 'Z';
}

std::string VersionText(const std::string& builtWith) {
    const std::string loaded = jobresults::VersionLine();
    if (loaded == builtWith) return WithIsoDate(loaded);
    return WithIsoDate(loaded) + "\njobresults built with " + WithIsoDate(builtWith);
}

}  // namespace jrtool
