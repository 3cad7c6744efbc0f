// Damaged and hostile files: a valid file cut at every byte, and random
// markup, checked against the flat element scanner level by level (the
// reader must give exactly what the scanner gives, and never crash).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/describe.h"
#include "support/reference.h"
#include "support/store_files.h"
#include "xml/XmlNode.h"

namespace {

using storetest::ScratchDir;

TEST(StoreBadFiles, FileCutAtEveryOffsetIsRefusedCleanly) {
    for (const bool save : {true, false}) {
        ScratchDir dir;
        std::string bytes;
        {
            CCIJobResults store;
            ASSERT_EQ(store.createJobResults(dir.Path() + "/d"), 1);
            for (int i = 0; i < 3; ++i)
                ASSERT_EQ(store.addJobResult(storetest::SampleRecord(i)), 1);
            if (save) {
                ASSERT_EQ(store.saveJobResults(), 1);
            }
            bytes = storetest::ReadWholeFile(storetest::CreatedFile(dir, "d"));
            store.m_bHeaderWritten = false;
        }
        const std::string path = dir.Path() + "/d\\cut.xml";
        for (size_t length = 0; length <= bytes.size(); ++length) {
            storetest::WriteWholeFile(path, bytes.substr(0, length));
            const storetest::ReadBack back =
                storetest::ReadAllRecords(dir.Path() + "/d", "cut.xml");
            if (length == bytes.size()) {
                EXPECT_EQ(back.openResult, 1);
                EXPECT_EQ(back.records.size(), 3u);
            } else {
                // Root's end tag is the file's last bytes: every cut loses it.
                ASSERT_EQ(back.openResult, 0) << length;
                ASSERT_EQ(back.errorMsg, "Invalid data in Job Results file " + path);
            }
        }
    }
}

// --- the scanner as the reference ------------------------------------------

void CompareWithScanner(const ScratchDir& dir, const std::string& text) {
    storetest::WriteWholeFile(dir.Path() + "/d\\f.xml", text);
    CCIJobResults reader;
    const int opened = reader.openJobResults(dir.Path() + "/d", "f.xml");

    const testsupport::RecordNames& names = storetest::Golden().names;
    std::vector<XmlNode> children;
    const bool valid = testsupport::ReferenceRootChildren(text, names, children);
    ASSERT_EQ(opened, valid ? 1 : 0);
    if (!valid) return;
    ASSERT_EQ(testsupport::Describe(reader.m_vJobResultNodes), testsupport::Describe(children));
    // The cursor walk, record by record, Size read as sscanf reads it.
    const testsupport::ReferenceWalk walk = testsupport::ReferenceRecords(
        children, names, storetest::UntouchedRecord(), testsupport::SizeRead::kScanf);
    for (size_t i = 0; i < walk.records.size(); ++i) {
        JobResults record = storetest::UntouchedRecord();
        const bool last = i + 1 == walk.records.size() && walk.endsWithRecord;
        ASSERT_EQ(reader.getNextJobResult(record), last ? 0 : 1);
        ASSERT_TRUE(storetest::SameRecord(record, walk.records[i]));
    }
    if (!walk.records.empty() && walk.endsWithRecord) return;
    JobResults record = storetest::UntouchedRecord();
    ASSERT_EQ(reader.getNextJobResult(record), -1);
    ASSERT_TRUE(storetest::SameRecord(record, storetest::UntouchedRecord()));
}

const std::vector<std::string> kPieces = {
    "<Root>",
    "</Root>",
    "<JobResult>",
    "</JobResult>",
    "<ClientName>",
    "</ClientName>",
    "<Url>",
    "</Url>",
    "<Size>",
    "</Size>",
    "<ErrorString />",
    "<BackupJobId>",
    "</BackupJobId>",
    "<Root/>",
    "<JobResult a='1'>",
    "<JobResult/>",
    "<!-- c > d -->",
    "<?pi?>",
    "<!DOCTYPE Root [ <!ELEMENT x> ]>",
    "<",
    ">",
    "/",
    " ",
    "\n",
    "\t",
    "x",
    "42",
    "-1",
    std::string(1, '\0'),
    "</",
    "Root",
    "JobResult",
    "<x<Root>",
    "</Ro",
    "ot>",
    "<Other>",
    "</Other>",
    "<Size>18446744073709551616</Size>",
    "'",
    "\"",
    "=",
};

TEST(StoreBadFiles, RandomMarkupReadsAsTheScannerCutsIt) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    ScratchDir dir;
    const int rounds = storetest::Repetitions(30000, 1500);
    for (int round = 0; round < rounds; ++round) {
        std::string text = testsupport::RandomPieces(random, kPieces, 40, 10);
        if (round % 3 == 0) text = "<Root>" + text + "</Root>";  // mostly valid
        if (round % 3 == 1) text = "<?xml?><Root>\n<JobResult>" + text + "</JobResult></Root>";
        SCOPED_TRACE("round " + std::to_string(round));
        CompareWithScanner(dir, text);
        if (HasFatalFailure()) return;
    }
}

TEST(StoreBadFiles, RandomBytesNeverCrash) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    std::uniform_int_distribution<int> byte(0, 255);
    ScratchDir dir;
    const int rounds = storetest::Repetitions(1000, 100);
    for (int round = 0; round < rounds; ++round) {
        std::string text(static_cast<size_t>(random() % 5000), '\0');
        for (char& c : text) c = static_cast<char>(byte(random));
        SCOPED_TRACE("round " + std::to_string(round));
        CompareWithScanner(dir, text);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
