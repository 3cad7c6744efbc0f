// Damaged and hostile files: a valid file cut at every byte, and random
// markup, checked against the flat element scanner level by level (the
// reader must give exactly what the scanner gives, and never crash).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/store_files.h"
#include "xml/XmlNode.h"

namespace {

using storetest::ScratchDir;

JobResults Sample(int index) {
    JobResults record;
    record.ClientName = "c" + std::to_string(index);
    record.Url = "/u/" + std::to_string(index);
    record.BackupJobId = std::to_string(index);
    record.ErrorString = index % 2 ? "e" : "";
    record.Size = static_cast<unsigned long long>(index) * 1000;
    return record;
}

TEST(StoreBadFiles, FileCutAtEveryOffsetIsRefusedCleanly) {
    for (const bool save : {true, false}) {
        ScratchDir dir;
        std::string bytes;
        {
            CCIJobResults store;
            ASSERT_EQ(store.createJobResults(dir.Path() + "/d"), 1);
            for (int i = 0; i < 3; ++i) ASSERT_EQ(store.addJobResult(Sample(i)), 1);
            if (save) {
                ASSERT_EQ(store.saveJobResults(), 1);
            }
            bytes = storetest::ReadWholeFile(storetest::OnlyJobResultsFile(dir, "d\\ci_push_"));
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

void ExpectSameNode(const XmlNode& actual, const XmlNode& expected) {
    EXPECT_EQ(actual.GetTagName(), expected.GetTagName());
    EXPECT_EQ(actual.GetNodeContent(), expected.GetNodeContent());
    EXPECT_EQ(actual.m_sQuoteChar, expected.m_sQuoteChar);
    EXPECT_EQ(actual.m_mapAttributes, expected.m_mapAttributes);
    EXPECT_EQ(actual.m_vAttributeNames, expected.m_vAttributeNames);
}

JobResults CallerValues() {
    JobResults record;
    record.ClientName = "keep";
    record.Url = "keep";
    record.BackupJobId = "keep";
    record.ErrorString = "keep";
    record.Size = 31337;
    return record;
}

// A record's fields as the scanner cuts them.
JobResults ExpectedFields(const XmlNode& node) {
    JobResults record = CallerValues();
    std::vector<XmlNode> fields;
    XmlNode::GetXMLNodeList(node.GetNodeContent(), fields);
    for (const XmlNode& field : fields) {
        const std::string& name = field.GetTagName();
        const std::string& value = field.GetNodeContent();
        if (name == "ClientName") record.ClientName = value;
        if (name == "Url") record.Url = value;
        if (name == "BackupJobId") record.BackupJobId = value;
        if (name == "ErrorString") record.ErrorString = value;
        if (name == "Size") std::sscanf(value.c_str(), "%llu", &record.Size);
    }
    return record;
}

void CompareWithScanner(const ScratchDir& dir, const std::string& text) {
    storetest::WriteWholeFile(dir.Path() + "/d\\f.xml", text);
    CCIJobResults reader;
    const int opened = reader.openJobResults(dir.Path() + "/d", "f.xml");

    std::vector<XmlNode> top;
    XmlNode::GetXMLNodeList(text, top);
    const bool valid = top.size() == 1 && top[0].GetTagName() == "Root";
    ASSERT_EQ(opened, valid ? 1 : 0);
    if (!valid) return;
    std::vector<XmlNode> children;
    XmlNode::GetXMLNodeList(top[0].GetNodeContent(), children);
    ASSERT_EQ(reader.m_vJobResultNodes.size(), children.size());
    for (size_t i = 0; i < children.size(); ++i) {
        ExpectSameNode(reader.m_vJobResultNodes[i], children[i]);
    }
    // The cursor walk, record by record.
    size_t cursor = 0;
    for (;;) {
        while (cursor < children.size() && children[cursor].GetTagName() != "JobResult") ++cursor;
        JobResults record = CallerValues();
        const int result = reader.getNextJobResult(record);
        if (cursor == children.size()) {
            ASSERT_EQ(result, -1);
            return;
        }
        const JobResults expected = ExpectedFields(children[cursor]);
        ASSERT_TRUE(storetest::SameRecord(record, expected));
        ++cursor;
        ASSERT_EQ(result, cursor == children.size() ? 0 : 1);
        if (result == 0) return;
    }
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

std::string RandomText(std::mt19937& random) {
    std::uniform_int_distribution<size_t> piece(0, kPieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text;
    const int count = length(random);
    for (int i = 0; i < count; ++i) {
        if (random() % 10 == 0) {
            text += static_cast<char>(byte(random));
        } else {
            text += kPieces[piece(random)];
        }
    }
    return text;
}

TEST(StoreBadFiles, RandomMarkupReadsAsTheScannerCutsIt) {
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    ScratchDir dir;
    const int rounds = storetest::Repetitions(30000, 1500);
    for (int round = 0; round < rounds; ++round) {
        std::string text = RandomText(random);
        if (round % 3 == 0) text = "<Root>" + text + "</Root>";  // mostly valid
        if (round % 3 == 1) text = "<?xml?><Root>\n<JobResult>" + text + "</JobResult></Root>";
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
        CompareWithScanner(dir, text);
        if (HasFatalFailure()) return;
    }
}

TEST(StoreBadFiles, RandomBytesNeverCrash) {
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    ScratchDir dir;
    const int rounds = storetest::Repetitions(1000, 100);
    for (int round = 0; round < rounds; ++round) {
        std::string text(static_cast<size_t>(random() % 5000), '\0');
        for (char& c : text) c = static_cast<char>(byte(random));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
        CompareWithScanner(dir, text);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
