// The HTML page of `jobresults report`: one self-contained file (inline CSS
// and SVG, no script, no request of its own) that reads with JavaScript off,
// opened from disk or from a mail.
#ifndef JRTOOL_REPORTPAGE_H
#define JRTOOL_REPORTPAGE_H

#include <string>
#include <vector>

#include "jrtool/ReportSource.h"
#include "jrtool/ReportTally.h"

namespace jrtool {

// A client whose newest successful job is older than this has no recent
// backup: a daily job plus two hours of slack.
constexpr long long kStaleSeconds = 26LL * 3600;

// The page of `tally`, whose hosts were added in the order of `sources`.
std::string ReportPage(const std::vector<ReportSource>& sources, const ReportTally& tally);

}  // namespace jrtool

#endif
