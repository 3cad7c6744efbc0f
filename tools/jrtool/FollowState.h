// follow's state file: the directory name it follows and, for each file it
// read, how far. follow writes it; prune reads it to keep what a follow has
// not read to its end yet.
#ifndef JRTOOL_FOLLOWSTATE_H
#define JRTOOL_FOLLOWSTATE_H

#include <string>

#include "jobresults/JobResultsProgress.h"

namespace jrtool {

// The first line of the state, naming its kind and layout.
inline constexpr char kFollowStateKind[] = "jobresults follow state 2";

// Reads the state at `path` into `files`. `resumed` tells whether it holds
// anything (a state just created is empty). False with `error` set when it
// cannot be read, is cut short or garbled, or belongs to another directory
// name than `dirName`.
bool LoadFollowState(const std::string& path, const std::string& dirName,
                     jobresults::KnownFiles& files, bool& resumed, std::string& error);

// The text of the state of `files`, read from `dirName`.
std::string FollowStateText(const std::string& dirName, const jobresults::KnownFiles& files);

}  // namespace jrtool

#endif
