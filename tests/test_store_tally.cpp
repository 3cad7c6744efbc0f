// Records summed up per client across runs, and what a caller keeps of
// them and of the files it read between runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "jobresults/JobResultsProgress.h"
#include "jobresults/JobResultsTally.h"
#include "support/repeat.h"

namespace jobresults {
namespace {

// Records of one file each: no two records share a place.
ClientSummary RandomSummary(std::mt19937& random, const std::string& file) {
    ClientSummary s;
    for (auto i = random() % 4; i > 0; --i) {
        const std::string error = random() % 2 ? "" : "failed";
        const auto created = static_cast<long long>(random() % 3);
        s.Count({"c", "u", "j", error, random() % 9}, {created, file, i});
    }
    return s;
}

auto Key(const ClientSummary& s) {
    return std::tie(s.success, s.error, s.last.created, s.last.fileName, s.last.offset,
                    s.lastSuccess, s.lastSize);
}

TEST(ClientTally, MergeIgnoresOrderAndTotalsNeverDrop) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    for (int round = 0; round < 200; ++round) {
        std::vector<ClientSummary> parts(5);
        for (std::size_t i = 0; i < parts.size(); ++i)
            parts[i] = RandomSummary(random, std::to_string(i));
        ClientSummary forward, shuffled;
        for (const ClientSummary& part : parts) forward.Merge(part);
        std::shuffle(parts.begin(), parts.end(), random);
        for (const ClientSummary& part : parts) shuffled.Merge(part);
        ASSERT_EQ(Key(forward), Key(shuffled));
        // Runs whose counts rise and fall: the totals only ever gain, by at
        // least what the counts gained.
        ClientSummaries before, now{{"c", parts[0]}};
        ClientTotals totals;
        AdvanceTotals(before, now, totals);
        for (const ClientSummary& part : parts) {
            before = now;
            now["c"] = part;
            const RecordTotals old = totals["c"];
            AdvanceTotals(before, now, totals);
            const ClientSummary& was = before["c"];
            ASSERT_EQ(totals["c"].success,
                      old.success + std::max(was.success, part.success) - was.success);
            ASSERT_EQ(totals["c"].error, old.error + std::max(was.error, part.error) - was.error);
        }
    }
}

TEST(ClientTally, LongNamesAreBoundedAndKeptApart) {
    std::string longName(2000, 'a'), wide = "x";
    for (int i = 0; i < 1000; ++i) wide += "\xC3\xA9";
    EXPECT_EQ(ClientKey("short"), "short");
    for (const std::string& name : {longName, longName + "b", wide}) {
        EXPECT_LE(ClientKey(name).size(), kLongestClientKey);
        EXPECT_NE(ClientKey(name).find("...#"), std::string::npos);
    }
    EXPECT_NE(ClientKey(longName), ClientKey(longName + "b"));
    EXPECT_EQ(ClientKey(wide).find("...#") % 2, 1u);  // "x" and whole characters
}

TEST(ClientTally, FieldsComeBackAndRefuseWhatDoesNotFit) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    ClientSummary summary = RandomSummary(random, "f"), back;
    std::vector<std::string> fields = ClientSummaryFields(summary);
    fields.insert(fields.begin(), "tag");
    ASSERT_TRUE(ClientSummaryFromFields(fields, 1, back));
    EXPECT_EQ(Key(summary), Key(back));
    KnownFile file{"name\tx", -5, {}}, read;
    for (const bool times : {false, true}) {
        ASSERT_TRUE(KnownFileFromFields(KnownFileFields(file, times), 0, times, read));
        EXPECT_EQ(read.fileName, file.fileName);
        EXPECT_EQ(read.createdSeconds, times ? file.createdSeconds : 0);
    }
    RecordTotals totals;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        for (const char* bad : {"", "x", "-1"}) {
            std::vector<std::string> broken = fields;
            broken[i] = bad;
            EXPECT_EQ(ClientSummaryFromFields(broken, 1, back),
                      i == 0 || i == 4 || (i == 3 && *bad == '-'));
        }
    }
    EXPECT_FALSE(ClientSummaryFromFields({"1"}, 0, back));
    EXPECT_FALSE(KnownFileFromFields({"name", "1"}, 0, true, read));
    EXPECT_FALSE(RecordTotalsFromFields({"1", "-1"}, 0, totals));
    EXPECT_TRUE(RecordTotalsFromFields(RecordTotalsFields({3, 4}), 0, totals) && totals.error == 4);
}

TEST(KnownFiles, OverviewCountsStatesOfKnownFilesOnly) {
    EXPECT_EQ(OverviewOfFiles({}, {}, {}).newestCreated, 0);
    const struct {
        std::string path;
        long long created;
        int state;  // a FileState, or -1 for a file not known
    } files[] = {{"/a", 5, 0}, {"/b", 3, 0}, {"/c", 9, 1}, {"/e", 11, -1}, {"/d", 7, 2}};
    std::vector<ResultsFile> listed;
    KnownFiles known;
    for (const auto& f : files) {
        listed.push_back({f.path, f.path, f.created, 0, 0, {1, listed.size(), 0}, {}});
        if (f.state >= 0) known[listed.back().identity].progress.state = FileState(f.state);
    }
    const FilesOverview overview = OverviewOfFiles(listed, known, {"/z", "/0"});
    EXPECT_EQ(overview.InState(FileState::kOpen), 2u);
    EXPECT_EQ(overview.InState(FileState::kSaved), 1u);
    EXPECT_EQ(overview.InState(FileState::kDamaged), 3u);
    EXPECT_EQ(overview.damaged, (std::vector<std::string>{"/0", "/d", "/z"}));
    EXPECT_EQ(overview.newestCreated, 11);
    EXPECT_EQ(overview.oldestOpenCreated, 3);
}

}  // namespace
}  // namespace jobresults
