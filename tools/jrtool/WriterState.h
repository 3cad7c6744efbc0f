// What the tool tells of a file's writer: the probe every command makes
// before it reads a file, and the words for a file whose writer is gone.
#ifndef JRTOOL_WRITERSTATE_H
#define JRTOOL_WRITERSTATE_H

#include <optional>
#include <string>

#include "jobresults/JobResultsWriterState.h"

namespace jrtool {

// The state word of an open file whose writer is gone, where the other
// states are "saved", "open" and "damaged".
inline constexpr char kAbandonedState[] = "abandoned";

// What people are told of such a file, and what to do.
inline constexpr char kWriterGoneText[] = "its writer is gone: jobresults close saves it";

// Whether a writer holds the file at `path`; nullopt when it cannot be
// told. Probe before reading: a file found without a writer and then read
// open stays open, as no writer opens an existing file again.
std::optional<bool> WriterAlive(const std::string& path);

// A file read sound and not saved, whose writer was found gone.
inline bool Abandoned(const std::optional<bool>& writerAlive, bool saved) {
    return !saved && writerAlive.has_value() && !*writerAlive;
}

}  // namespace jrtool

#endif
