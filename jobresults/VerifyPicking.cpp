// Which unchanged files a run reads whole again: damage that changes
// nothing a listing or the status change time shows (a disk giving back
// other bytes) would stay unseen otherwise.
#include <algorithm>
#include <tuple>

#include "jobresults/JobResultsProgress.h"

namespace jobresults {

std::vector<std::size_t> PickForVerification(std::vector<VerifyCandidate> candidates,
                                             std::uint64_t budget) {
    std::sort(candidates.begin(), candidates.end(),
              [](const VerifyCandidate& a, const VerifyCandidate& b) {
                  return std::tie(a.verifiedNanoseconds, a.index) <
                         std::tie(b.verifiedNanoseconds, b.index);
              });
    std::vector<std::size_t> picked;
    std::uint64_t spent = 0;
    for (const VerifyCandidate& candidate : candidates) {
        const bool fits = spent < budget && candidate.size <= budget - spent;
        if (budget == 0 || (!picked.empty() && !fits)) break;
        picked.push_back(candidate.index);
        spent += candidate.size;
    }
    return picked;
}

}  // namespace jobresults
