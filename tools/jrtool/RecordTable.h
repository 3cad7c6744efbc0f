// The table that `jobresults dump` prints for people: aligned columns,
// sizes in bytes and in binary units, control characters shown as escapes
// so that every record stays on one line, and a closing summary.
#ifndef JRTOOL_RECORDTABLE_H
#define JRTOOL_RECORDTABLE_H

#include <ostream>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"

namespace jrtool {

void WriteTable(const std::vector<JobResults>& records, std::ostream& out);

// A value as one printable line: tabs, line breaks and other control
// bytes become escapes (\t, \n, \r, \xNN), and so does every byte that is
// not part of well-formed UTF-8.
std::string TableCell(const std::string& value);

}  // namespace jrtool

#endif
