// Escaping of values in tab-separated text. A value may hold tabs and line
// breaks, which TSV cannot carry raw, so they travel as the escapes \t, \n,
// \r, and a backslash as \\. On input a backslash followed by anything else
// stays a plain backslash, so Windows paths such as C:\Backups need no
// doubling (only C:\new or C:\temp would).
#ifndef JRTOOL_TSVTEXT_H
#define JRTOOL_TSVTEXT_H

#include <string>
#include <vector>

namespace jrtool {

std::string EscapeTsvValue(const std::string& value);
std::string UnescapeTsvValue(const std::string& text);

// Splits a line at every tab; n tabs give n + 1 fields.
std::vector<std::string> SplitTsvLine(const std::string& line);

}  // namespace jrtool

#endif
