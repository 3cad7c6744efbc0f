// The last steps of a salvage: the synced copy takes its name, and in
// place the damaged file is kept under a second name first.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_RESCUEPLACEMENT_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_RESCUEPLACEMENT_H

#include <string>

#include "jobresults/JobResultsSalvage.h"

namespace jobresults {

// Moves the copy at result.rescuePath to `path` (a whole path under
// `dirName`): in place over the file, keeping the file as
// result.damagedPath; elsewhere never over an existing file. Sets
// result.copyPath; false with result's step and errno on failure.
bool PlaceRescue(const std::string& path, const std::string& dirName, bool inPlace,
                 SalvageResult& result);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_RESCUEPLACEMENT_H
