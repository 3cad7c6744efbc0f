// State files: what was written reads back, and every fault of a stored
// state (cut anywhere, a byte changed, lines lost or added) is refused as
// broken rather than read as a smaller truth.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "jrtool/StateFile.h"

namespace jrtool {
namespace {

const std::string kKind = "jobresults test state 1";

struct Outcome {
    bool read = false;
    bool broken = false;
    std::vector<std::string> lines;
};

Outcome ReadBack(const std::string& bytes) {
    char path[] = "/tmp/state-unit-XXXXXX";
    const int fd = mkstemp(path);
    std::ofstream(path, std::ios::binary) << bytes;
    Outcome outcome;
    std::string error;
    const auto lines = ReadStateLines(path, kKind, error, outcome.broken);
    outcome.read = lines.has_value();
    if (lines) outcome.lines = *lines;
    close(fd);
    std::remove(path);
    return outcome;
}

TEST(StateFile, EveryFaultOfAStoredStateIsRefused) {
    const std::vector<std::string> lines = {StateLine({"dir", "d"}),
                                            StateLine({"client", "alpha", "451383"}),
                                            StateLine({"client", "be\tta", "7"})};
    std::string body = kKind + "\n";
    for (const std::string& line : lines) body += line;
    const std::string sealed = jobresults::SealText(body);
    const Outcome whole = ReadBack(sealed);
    ASSERT_TRUE(whole.read);
    EXPECT_EQ(whole.lines.size(), lines.size());
    EXPECT_FALSE(ReadBack("").read);  // no kind line: another file
    EXPECT_FALSE(ReadBack("").broken);

    struct Fault {
        std::string name;
        std::string bytes;
    };
    std::vector<Fault> faults = {
        {"no check line", body},
        {"a line lost", jobresults::SealText(body).erase(kKind.size() + 1, lines[0].size())},
        {"a line added", sealed + lines[1]},
        {"a digit changed", std::string(sealed).replace(sealed.find("451383"), 6, "451384")},
        {"two lines swapped",
         kKind + "\n" + lines[1] + lines[0] + lines[2] + sealed.substr(body.size())},
    };
    for (std::size_t cut = kKind.size() + 1; cut < sealed.size(); ++cut) {
        faults.push_back({"cut at " + std::to_string(cut), sealed.substr(0, cut)});
    }
    for (const Fault& fault : faults) {
        const Outcome outcome = ReadBack(fault.bytes);
        EXPECT_FALSE(outcome.read) << fault.name;
        EXPECT_TRUE(outcome.broken) << fault.name;
    }
}

}  // namespace
}  // namespace jrtool
