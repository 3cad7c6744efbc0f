#include "jrtool/Version.h"

#include <string_view>

#include "jobresults/JobResultsVersion.h"

namespace jrtool {

std::string WithIsoDate(const std::string& line) {
    // "<version> MM/DD/YY HH:MM:SS": a 0 of the shape stands for a digit.
    static constexpr std::string_view kStamp = " 00/00/00 00:00:00";
    if (line.size() <= kStamp.size()) return line;
    const std::size_t at = line.size() - kStamp.size() + 1;
    for (std::size_t i = 0; i < kStamp.size(); ++i) {
        const char c = line[at - 1 + i];
        if (kStamp[i] == '0' ? c < '0' || c > '9' : c != kStamp[i]) return line;
    }
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
