// The walk over the writer's layout on damaged copies of a writer's file:
// every record that the damage did not touch comes back, in order, and the
// damage is found unless the damaged bytes are a file that the writer could
// have written.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "support/both_readers.h"
#include "support/damage.h"
#include "support/store_files.h"

namespace {

using namespace damagestudy;
using testsupport::ScratchDir;
using testsupport::SeededRandom;
using testsupport::WriteWholeFile;

constexpr size_t kRecords = 300;
constexpr int kCasesPerKind = 8;

TEST(Recovery, SalvageKeepsEveryIntactRecordAndCheckFindsTheDamage) {
    ScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    std::vector<JobResults> originals;
    for (size_t i = 0; i < kRecords; ++i) originals.push_back(MixedRecord(i));
    const std::string sound = WrittenBytes(dir.Path() + "/sound", originals);
    ASSERT_FALSE(sound.empty());
    const std::string damagedDir = dir.Path() + "/d";
    const std::string damagedName = "ci_push_1.xml";
    ASSERT_TRUE(WriteWholeFile(damagedDir + "\\" + damagedName, sound));
    const Walked whole = WalkFile(damagedDir, damagedName);
    ASSERT_FALSE(whole.Damaged());
    ASSERT_EQ(whole.records.size(), kRecords);
    ASSERT_EQ(Judge(originals, whole.spans, {}, whole.records).recovered, kRecords);

    SeededRandom random;
    SCOPED_TRACE(random.Note());
    for (const DamageKind kind : kDamageKinds) {
        for (int i = 0; i < kCasesPerKind; ++i) {
            SCOPED_TRACE(std::string(DamageName(kind)) + ", case " + std::to_string(i));
            const Damaged damaged = Damage(sound, whole.spans, kind, random);
            ASSERT_TRUE(WriteWholeFile(damagedDir + "\\" + damagedName, damaged.bytes));
            const Walked walked = WalkFile(damagedDir, damagedName);
            const RescueJudgement judgement =
                Judge(originals, whole.spans, damaged.touched, walked.records);
            EXPECT_EQ(judgement.recovered, judgement.intact);
            if (!walked.Damaged()) {
                EXPECT_TRUE(WriterCouldHaveWritten(damaged.bytes, walked, dir.Path() + "/r"));
            } else if (kind != DamageKind::kTwoPages) {
                // One damaged place: found, so nothing garbled passed.
                EXPECT_EQ(judgement.garbled, 0u);
            }
        }
    }
}

// A writer writes Size as a line break, the shortest decimal digits and a
// line break. Both readers read any other Size as sscanf "%llu" reads its
// trimmed content and deliver the record; the walk sees damage there.
TEST(Recovery, CheckTakesSizeOnlyAsAWriterWritesIt) {
    ScratchDir dir;
    JobResults record = MixedRecord(1);
    record.Size = 4096;
    const std::string sound = WrittenBytes(dir.Path() + "/w", {record});
    const size_t content = sound.find("<Size>\n4096\n</Size>") + 6;
    const std::string storeDir = dir.Path() + "/d";
    ASSERT_TRUE(WriteWholeFile(storeDir + "\\f.xml", sound));
    ASSERT_FALSE(WalkFile(storeDir, "f.xml").Damaged());
    for (const std::string size :
         {"\n409\n\n", "\n\n4096\n", "\n4a96\n", "\n04096\n", "\n+4096\n", " 4096 ", "\n4096",
          "4096\n", "\n18446744073709551616\n", "\n\n", "\r\n4096\r\n", "\n40965\n "}) {
        SCOPED_TRACE("Size content '" + size + "'");
        std::string bytes = sound;
        bytes.replace(content, 6, size);
        ASSERT_TRUE(WriteWholeFile(storeDir + "\\f.xml", bytes));
        EXPECT_TRUE(WalkFile(storeDir, "f.xml").Damaged());
        unsigned long long expected = testsupport::UntouchedRecord().Size;
        std::sscanf(std::string(testsupport::Trimmed(size)).c_str(), "%llu", &expected);
        for (const testsupport::ReaderOutcome& read :
             {testsupport::ReadClassic(storeDir, "f.xml"),
              testsupport::ReadStreaming(storeDir, "f.xml")}) {
            ASSERT_TRUE(read.ok && read.records.size() == 1);
            EXPECT_EQ(read.records[0].Size, expected);
        }
    }
}

// Behind the trailer the walk takes only what an append's first write puts
// there, whole or cut anywhere: "<", a lead's filler, the rest of the
// record as the writer composes it and the new trailer; after a failed
// write, the lead's first bytes may be the record's own.
TEST(Recovery, CheckTakesOnlyAWritersTailBehindTheTrailer) {
    ScratchDir dir;
    const std::string storeDir = dir.Path() + "/d";
    // The writer's open file with one record, and the bytes its next append
    // writes over the trailer: the record and the new trailer.
    CCIJobResults writer;
    ASSERT_EQ(writer.createJobResults(dir.Path() + "/w"), 1);
    ASSERT_EQ(writer.addJobResult(MixedRecord(1)), 1);
    const std::string first = storetest::ReadWholeFile(writer.getJobResultsFilePath());
    ASSERT_EQ(writer.addJobResult(MixedRecord(2)), 1);
    const std::string data = storetest::ReadWholeFile(writer.getJobResultsFilePath())
                                 .substr(first.size() - jobresults::kTrailer.size());
    const auto damaged = [&](const std::string& behind) {
        EXPECT_TRUE(WriteWholeFile(storeDir + "\\f.xml", first + behind));
        return WalkFile(storeDir, "f.xml").Damaged();
    };
    const auto changed = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    for (const jobresults::Lead& lead : jobresults::kLeads) {
        SCOPED_TRACE("filler '" + std::string(lead.filler) + "'");
        const std::string tail = "<" + std::string(lead.filler) + data.substr(lead.split);
        for (size_t cut = 1; cut <= tail.size(); ++cut) {
            EXPECT_FALSE(damaged(tail.substr(0, cut))) << "cut at " << cut;
        }
        const std::string overwritten = data[jobresults::kTrailer.size()] + tail.substr(1);
        if (!lead.filler.empty()) {
            EXPECT_FALSE(damaged(overwritten));
        }
        for (const std::string& behind :
             {overwritten.substr(0, overwritten.size() - 1), tail + "\n", tail + data,
              changed(tail, "</ClientName>", "</ClientNamx>"),
              changed(tail, "\n</Size>", " \n</Size>"),
              changed(tail, "</JobResult>", "</JobResult >")}) {
            EXPECT_TRUE(damaged(behind)) << behind;
        }
    }
}

}  // namespace
