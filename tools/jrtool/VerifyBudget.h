// metrics --state opens a file again only when something shows a change
// (FileChange.h). Damage that shows nothing, such as a disk giving back
// other bytes, would stay unseen: so each run also reads some unchanged
// files whole, those verified longest ago first, up to a budget of bytes.
#ifndef JRTOOL_VERIFYBUDGET_H
#define JRTOOL_VERIFYBUDGET_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jrtool {

// Bytes read whole per run when --verify-budget is not given. The package's
// timer runs metrics every minute: 1440 runs read up to 90 GiB a day, more
// than the files of a directory name hold for years; the manual page
// (--verify-budget) gives the reasoning and the cost.
constexpr const char* kDefaultVerifyBudget = "64M";

// A count of bytes: digits, and K, M or G for powers of 1024. nullopt for
// anything else, or a count that does not fit.
std::optional<std::uint64_t> ParseByteCount(const std::string& text);

// An unchanged file that may be verified in this run.
struct VerifyCandidate {
    std::int64_t verifiedNs = 0;  // when it was last read whole; 0 for never
    std::uint64_t size = 0;
    std::size_t index = 0;  // the caller's, handed back when picked
};

// The candidates to read whole in this run: those verified longest ago
// first (the earlier index first among equals), as many as `budget` bytes
// hold, but at least one unless the budget is 0, so that a file larger
// than the budget comes in turn too. A file that does not fit ends the
// picking, so that no smaller one behind it goes first.
std::vector<std::size_t> PickForVerification(std::vector<VerifyCandidate> candidates,
                                             std::uint64_t budget);

}  // namespace jrtool

#endif
