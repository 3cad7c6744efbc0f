#include "jrtool/VerifyBudget.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <tuple>
#include <utility>

namespace jrtool {

std::optional<std::uint64_t> ParseByteCount(const std::string& text) {
    static constexpr std::pair<char, unsigned> kSuffixes[] = {{'K', 10}, {'M', 20}, {'G', 30}};
    std::uint64_t count = 0;
    const char* end = text.data() + text.size();
    const auto parsed = std::from_chars(text.data(), end, count);
    if (text.empty() || parsed.ec != std::errc()) return std::nullopt;
    if (parsed.ptr == end) return count;
    if (parsed.ptr + 1 != end) return std::nullopt;
    for (const auto& [suffix, shift] : kSuffixes) {
        if (*parsed.ptr != suffix) continue;
        if (count > (std::numeric_limits<std::uint64_t>::max() >> shift)) return std::nullopt;
        return count << shift;
    }
    return std::nullopt;
}

std::vector<std::size_t> PickForVerification(std::vector<VerifyCandidate> candidates,
                                             std::uint64_t budget) {
    std::sort(candidates.begin(), candidates.end(),
              [](const VerifyCandidate& a, const VerifyCandidate& b) {
                  return std::tie(a.verifiedNs, a.index) < std::tie(b.verifiedNs, b.index);
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

}  // namespace jrtool
