// The library's version line, the one its QxVersion section holds:
// "<version> MM/DD/YY HH:MM:SS", the date and time of the build in UTC.
// The section is not loaded into memory; a program that loaded the library
// asks this function instead of reading the section from the file.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSVERSION_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSVERSION_H

#include "xml/LibraryExport.h"

namespace jobresults {

// The version line without the section's closing newline; a string of
// static storage, never null.
CIJOBRESULTS_API const char* VersionLine();

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSVERSION_H
