#include "jrtool/VerifyBudget.h"

#include <charconv>
#include <limits>
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

}  // namespace jrtool
