// Finding the complete records of a job results file with a damaged end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jrtool/SalvageScan.h"

namespace jrtool {
namespace {

using namespace std::string_literals;

// The bytes a writer leaves: header, records, and the save's end tag.
std::string Header() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE Root [\n"
           "\t<!ELEMENT Root\t\t\t\t    (JobResult+)>\n"
           "\t<!ELEMENT JobResult\t\t\t  (ClientName, Url, BackupJobId, ErrorString, Size)>\n"
           "\t<!ELEMENT ClientName\t\t\t(#PCDATA)>\n\t<!ELEMENT Url\t\t\t        (#PCDATA)>\n"
           "\t<!ELEMENT BackupJobId\t\t\t(#PCDATA)>\n\t<!ELEMENT ErrorString\t\t\t(#PCDATA)>\n"
           "\t<!ELEMENT Size\t\t\t(#PCDATA)>\n]>\n\n<Root>\n\n";
}

std::string Field(const std::string& tag, const std::string& value) {
    if (value.empty()) return "<" + tag + " />\n";
    return "<" + tag + ">\n" + value + "\n</" + tag + ">\n";
}

std::string Record(const JobResults& r) {
    return "<JobResult>\n" + Field("ClientName", r.ClientName) + Field("Url", r.Url) +
           Field("BackupJobId", r.BackupJobId) + Field("ErrorString", r.ErrorString) +
           Field("Size", std::to_string(r.Size)) + "</JobResult>\n";
}

const std::vector<JobResults> kRecords = {
    {"alpha", "/jobs/1001", "1001", "", 4096},
    // A NUL byte is data, kept like any other.
    {"beta", "/jobs/1002", "1002", "disk full \0< quota"s, 0},
    {"gamma", "https://ci/x?a=1&b=2", "1003", "", 18446744073709551615ULL},
};

std::string SavedFile() {
    std::string text = Header();
    for (const auto& record : kRecords) text += Record(record);
    return text + "\n\n</Root>";
}

void ExpectRecordsEqual(const std::vector<JobResults>& actual, std::size_t count) {
    ASSERT_EQ(actual.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(actual[i].ClientName, kRecords[i].ClientName);
        EXPECT_EQ(actual[i].Url, kRecords[i].Url);
        EXPECT_EQ(actual[i].BackupJobId, kRecords[i].BackupJobId);
        EXPECT_EQ(actual[i].ErrorString, kRecords[i].ErrorString);
        EXPECT_EQ(actual[i].Size, kRecords[i].Size);
    }
}

// Offsets just past each record's end tag.
std::vector<std::size_t> RecordEnds(const std::string& text) {
    std::vector<std::size_t> ends;
    for (auto at = text.find("</JobResult>"); at != std::string::npos;
         at = text.find("</JobResult>", at + 1)) {
        ends.push_back(at + 12);
    }
    return ends;
}

TEST(SalvageScan, IntactFilesKeepEveryRecordAndDiscardNothing) {
    std::string open = Header();
    for (const auto& record : kRecords) open += Record(record);
    open += "</Root>";
    for (const std::string& text : {SavedFile(), open}) {
        const SalvageScan scan = ScanCompleteRecords(text);
        ExpectRecordsEqual(scan.records, kRecords.size());
        EXPECT_TRUE(scan.intact);
        EXPECT_EQ(scan.discardedBytes, 0u);
    }
}

TEST(SalvageScan, EveryCutKeepsExactlyTheRecordsCompleteBeforeIt) {
    const std::string text = SavedFile();
    const auto ends = RecordEnds(text);
    ASSERT_EQ(ends.size(), kRecords.size());
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
        const std::string cutText = text.substr(0, cut);
        std::size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= cut) ++complete;
        const SalvageScan scan = ScanCompleteRecords(cutText);
        ExpectRecordsEqual(scan.records, complete);
        EXPECT_FALSE(scan.intact) << "cut at " << cut;
        if (complete > 0) {
            EXPECT_EQ(scan.keptBytes, ends[complete - 1]) << "cut at " << cut;
            // Only blank space after the last record costs nothing.
            const bool blankTail =
                cutText.find_first_not_of(" \t\r\n", scan.keptBytes) == std::string::npos;
            EXPECT_EQ(scan.discardedBytes, blankTail ? 0 : cut - scan.keptBytes)
                << "cut at " << cut;
        }
        if (HasFailure()) return;
    }
}

TEST(SalvageScan, ZeroTailFromALostWriteIsDiscarded) {
    const std::string text = SavedFile();
    const auto ends = RecordEnds(text);
    // The third record was being written when power failed: its blocks
    // were allocated but hold zeros.
    const std::string damaged = text.substr(0, ends[1] + 1) + std::string(200, '\0') + "</Root>";
    const SalvageScan scan = ScanCompleteRecords(damaged);
    ExpectRecordsEqual(scan.records, 2);
    EXPECT_FALSE(scan.intact);
    EXPECT_EQ(scan.discardedBytes, damaged.size() - ends[1]);
}

TEST(SalvageScan, StopsAtGarbageBetweenRecords) {
    const std::string damaged =
        Header() + Record(kRecords[0]) + "#garbage#\n" + Record(kRecords[1]) + "\n\n</Root>";
    const SalvageScan scan = ScanCompleteRecords(damaged);
    ExpectRecordsEqual(scan.records, 1);
    EXPECT_FALSE(scan.intact);
}

TEST(SalvageScan, WithoutRootNothingIsKept) {
    for (const std::string& text :
         {std::string(), std::string("not xml at all"), Header().substr(0, 100)}) {
        const SalvageScan scan = ScanCompleteRecords(text);
        EXPECT_TRUE(scan.records.empty());
        EXPECT_FALSE(scan.intact);
        EXPECT_EQ(scan.discardedBytes, text.size());
    }
}

TEST(SalvageScan, FieldsFollowTheReadersRules) {
    // Order is free, unknown tags are ignored, a repeated tag keeps its
    // last value, missing fields stay empty and Size goes through "%llu".
    const std::string text = Header() +
                             "<JobResult>\n<Size>\n 77 \n</Size>\n<Extra>x</Extra>\n"
                             "<ClientName>one</ClientName><ClientName>two</ClientName>\n"
                             "</JobResult>\n</Root>";
    const SalvageScan scan = ScanCompleteRecords(text);
    ASSERT_EQ(scan.records.size(), 1u);
    EXPECT_EQ(scan.records[0].ClientName, "two");
    EXPECT_EQ(scan.records[0].Url, "");
    EXPECT_EQ(scan.records[0].Size, 77u);
    EXPECT_TRUE(scan.intact);
}

}  // namespace
}  // namespace jrtool
