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

std::vector<PlannedReading> PlanReadings(const std::vector<ResultsFile>& listed,
                                         const ProgressLookup& kept, std::uint64_t budget) {
    std::vector<PlannedReading> plans(listed.size());
    std::vector<VerifyCandidate> candidates;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        PlannedReading& plan = plans[i];
        plan.statusChangeNanoseconds = StatusChangeNanoseconds(listed[i].path);
        const FileProgress* const progress = kept(listed[i]);
        if (progress == nullptr) continue;
        plan.change = ChangeSince(*progress, listed[i], plan.statusChangeNanoseconds);
        if (plan.change == FileChange::kUnchanged) {
            candidates.push_back({progress->verifiedNanoseconds, listed[i].size, i});
        }
    }
    for (const std::size_t i : PickForVerification(std::move(candidates), budget)) {
        plans[i].verifying = true;
    }
    return plans;
}

}  // namespace jobresults
