// The version line of the library a process loaded, as --version shows it.
#ifndef JRTOOL_VERSION_H
#define JRTOOL_VERSION_H

#include <string>

namespace jrtool {

// The line with its date and time in ISO 8601, "<version> YYYY-MM-DDTHH:MM:SSZ";
// a line of another form unchanged.
std::string WithIsoDate(const std::string& line);

// What --version prints, dates in ISO 8601: the loaded library's line
// (jobresults::VersionLine()), followed by the line the tool was built with
// when that differs.
std::string VersionText(const std::string& builtWith);

}  // namespace jrtool

#endif
