// metrics --state verifies some unchanged files whole on each run, up to a
// budget of bytes (jobresults::PickForVerification): the budget's words.
#ifndef JRTOOL_VERIFYBUDGET_H
#define JRTOOL_VERIFYBUDGET_H

#include <cstdint>
#include <optional>
#include <string>

namespace jrtool {

// Bytes read whole per run when --verify-budget is not given. The package's
// timer runs metrics every minute: 1440 runs read up to 90 GiB a day, more
// than the files of a directory name hold for years; the manual page
// (--verify-budget) gives the reasoning and the cost.
constexpr const char* kDefaultVerifyBudget = "64M";

// A count of bytes: digits, and K, M or G for powers of 1024. nullopt for
// anything else, or a count that does not fit.
std::optional<std::uint64_t> ParseByteCount(const std::string& text);

}  // namespace jrtool

#endif
