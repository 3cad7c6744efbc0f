// The files metrics verifies whole per run: byte counts as the command line
// gives them, and a rotation that keeps within the budget and reaches every
// file within a cycle, whatever the sizes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jrtool/VerifyBudget.h"
#include "support/repeat.h"

namespace jrtool {
namespace {

TEST(VerifyBudget, ByteCounts) {
    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> cases = {
        {"0", 0}, {"4096", 4096}, {"1K", 1024}, {"64M", 64ULL << 20}, {"2G", 2ULL << 30},
        {"17179869183G", 17179869183ULL << 30}, {"17179869184G", std::nullopt},
        {"18446744073709551616", std::nullopt}, {"", std::nullopt}, {"M", std::nullopt},
        {"1k", std::nullopt}, {"1KB", std::nullopt}, {"-1", std::nullopt}, {"+1", std::nullopt},
        {" 1", std::nullopt}, {"1.5M", std::nullopt}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(ParseByteCount(text), expected) << text;
}

// Next-fit over a rotation: two runs in a row take more than the budget, so
// a file comes again within 2 * total / budget + 2 runs.
TEST(VerifyBudget, EveryFileComesInTurnWithinACycle) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    EXPECT_TRUE(PickForVerification({{0, 1, 0}}, 0).empty());
    for (int round = 0; round < 300; ++round) {
        std::vector<VerifyCandidate> files(1 + random() % 20);
        const std::uint64_t budget = 1 + random() % 5000;
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            files[i] = {static_cast<std::int64_t>(random() % 3), 1 + random() % 3000, i};
            total += files[i].size;
        }
        const std::uint64_t cycle = 2 * total / budget + 2;
        std::vector<std::uint64_t> lastRun(files.size(), 0);
        for (std::uint64_t run = 1; run <= 3 * cycle; ++run) {
            const std::vector<std::size_t> picked = PickForVerification(files, budget);
            std::uint64_t spent = 0;
            for (const std::size_t i : picked) {
                spent += files[i].size;
                files[i].verifiedNs = static_cast<std::int64_t>(10 + run);
                lastRun[i] = run;
            }
            ASSERT_FALSE(picked.empty());
            ASSERT_TRUE(spent <= budget || picked.size() == 1) << "run " << run;
            for (const std::uint64_t last : lastRun) ASSERT_LE(run - last, cycle) << "run " << run;
        }
    }
}

}  // namespace
}  // namespace jrtool
