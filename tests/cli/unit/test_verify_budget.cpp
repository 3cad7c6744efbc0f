// The budget of bytes metrics verifies whole per run, as the command line
// gives it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jrtool/VerifyBudget.h"

namespace jrtool {
namespace {

TEST(VerifyBudget, ByteCounts) {
    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> cases = {
        {"0", 0},
        {"4096", 4096},
        {"1K", 1024},
        {"64M", 64ULL << 20},
        {"2G", 2ULL << 30},
        {"17179869183G", 17179869183ULL << 30},
        {"17179869184G", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"", std::nullopt},
        {"M", std::nullopt},
        {"1k", std::nullopt},
        {"1KB", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1.5M", std::nullopt}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(ParseByteCount(text), expected) << text;
}

}  // namespace
}  // namespace jrtool
