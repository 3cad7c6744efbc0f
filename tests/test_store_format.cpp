// The bytes of a job results file: header, records, trailer, final end tag
// and the file's name, checked against the golden files and against the
// element output of XmlNode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/describe.h"
#include "support/reference.h"
#include "support/store_files.h"
#include "xml/XmlNode.h"

namespace {

using storetest::Golden;
using storetest::ReadWholeFile;
using storetest::ScratchDir;

using testsupport::MakeRecord;

// The record text as the element output of XmlNode gives it, with the
// golden files' tags.
std::string ComposedWithNodes(const JobResults& record) {
    const std::vector<std::string>& tags = Golden().names.fields;
    std::string content;
    content += XmlNode(tags.at(0), record.ClientName).OutputXMLNodeString();
    content += XmlNode(tags.at(1), record.Url).OutputXMLNodeString();
    content += XmlNode(tags.at(2), record.BackupJobId).OutputXMLNodeString();
    content += XmlNode(tags.at(3), record.ErrorString).OutputXMLNodeString();
    content += XmlNode(tags.at(4), record.Size).OutputXMLNodeString();
    return XmlNode(Golden().names.record, content).OutputXMLNodeString();
}

TEST(StoreFormat, WriterGivesTheGoldenBytesAfterEachStep) {
    const storetest::GoldenFormat& golden = Golden();
    ASSERT_EQ(golden.records.size(), 2u);
    ScratchDir dir;
    const long long before = static_cast<long long>(std::time(nullptr));
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);

    // The first append writes the header, the record and the trailer.
    ASSERT_EQ(store.addJobResult(golden.records[0]), 1);
    const std::string path = storetest::CreatedFile(dir, "jr");
    ASSERT_FALSE(path.empty());
    const size_t second = golden.unsaved.find("<" + golden.names.record, golden.header.size() + 1);
    EXPECT_EQ(ReadWholeFile(path), golden.unsaved.substr(0, second) + golden.trailer);

    // The second one writes over the trailer.
    ASSERT_EQ(store.addJobResult(golden.records[1]), 1);
    EXPECT_EQ(ReadWholeFile(path), golden.unsaved);
    EXPECT_EQ(lseek64(store.m_nFileHandle, 0, SEEK_CUR),
              storetest::TrailerStart(ReadWholeFile(path)));

    ASSERT_EQ(store.saveJobResults(), 1);
    EXPECT_EQ(ReadWholeFile(path), golden.saved);

    const long long seconds = storetest::CreatedSeconds(path.substr(dir.Path().size() + 1), "jr");
    EXPECT_GE(seconds, before) << path;
    EXPECT_LE(seconds, static_cast<long long>(std::time(nullptr))) << path;
}

TEST(StoreFormat, RecordBytesEqualTheElementOutputOfXmlNode) {
    const std::vector<JobResults> records = {
        MakeRecord("", "", "", "", 0),
        MakeRecord("plain", "u", "7", "e", 18446744073709551615ull),
        MakeRecord("ends in newline\n", "\n", "two\nlines", "x\n\n", 42),
        MakeRecord("  blanks around\t", " a b ", "\r\n", "\t", 1),
        MakeRecord("<b>&amp;</b>", "a<b", "x>y", "<ErrorString/>", 10),
        MakeRecord("ctl\x01inside", "</Url", "</Root", "ok", 9),
    };
    for (const JobResults& record : records) {
        ScratchDir dir;
        CCIJobResults store;
        ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
        ASSERT_EQ(store.addJobResult(record), 1);
        ASSERT_EQ(store.addJobResult(record), 1);  // an append over the trailer
        const std::string bytes = ReadWholeFile(storetest::CreatedFile(dir, "jr"));
        const std::string expected = ComposedWithNodes(record);
        EXPECT_EQ(bytes, Golden().header + expected + expected + Golden().trailer)
            << testsupport::Describe(record);
    }
}

}  // namespace
