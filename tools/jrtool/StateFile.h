// The state files of the commands that come back to a directory (metrics
// --state, follow --state): lines of tab-separated fields, text fields with
// the escapes of TSV, so that any file or client name fits on one line; the
// first line names the kind and version of the file, the last one carries
// the check of all before it ("end", the number of lines, a checksum), so
// that a state cut short or garbled is never taken for a smaller truth. A
// state file is replaced whole, never edited, so a kill at any moment
// leaves the old or the new one.
#ifndef JRTOOL_STATEFILE_H
#define JRTOOL_STATEFILE_H

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jobresults/JobResultsProgress.h"
#include "jobresults/JobResultsReplace.h"
#include "jrtool/Text.h"

namespace jrtool {

// A line of `head` (the line's tag and key) followed by `tail` (the
// fields the library gives for what the line keeps).
std::string StateLine(std::vector<std::string> head, const std::vector<std::string>& tail = {});
// The fields of a line that StateLine made.
std::vector<std::string> StateFields(const std::string& line);

// Writes `text` to a temporary file beside `path` (its name is `path`
// with a suffix, so readers that pick files by extension pass it over),
// gives it `mode` less the umask, syncs it, renames it over `path` and
// syncs the directory. False with a message in `error`.
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode, std::string& error);

// The lines of a state file whose first line is `kind`, between that line
// and the check: an empty list when the file does not exist, nullopt with
// a message in `error` when it cannot be read, is not such a file, or
// fails its check (then `broken` is set).
std::optional<std::vector<std::string>> ReadStateLines(const std::string& path,
                                                       const std::string& kind, std::string& error,
                                                       bool& broken);

// Whether a file can be made beside `path`, as ReplaceFile will: false with
// a message in `error` when not, before any output depends on it.
bool CheckWritable(const std::string& path, std::string& error);

}  // namespace jrtool

#endif
