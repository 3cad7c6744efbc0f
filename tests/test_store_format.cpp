// The bytes of a job results file: header, records, trailer, final end tag
// and the file's name, checked against texts written out independently and
// against the element output of XmlNode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/store_files.h"
#include "xml/XmlNode.h"

namespace {

using storetest::ReadWholeFile;
using storetest::ScratchDir;

const std::vector<std::string> kHeaderLines = {
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
    "<!DOCTYPE Root [",
    "\t<!ELEMENT Root\t\t\t\t    (JobResult+)>",
    "\t<!ELEMENT JobResult\t\t\t  (ClientName, Url, BackupJobId, ErrorString, Size)>",
    "\t<!ELEMENT ClientName\t\t\t(#PCDATA)>",
    "\t<!ELEMENT Url\t\t\t        (#PCDATA)>",
    "\t<!ELEMENT BackupJobId\t\t\t(#PCDATA)>",
    "\t<!ELEMENT ErrorString\t\t\t(#PCDATA)>",
    "\t<!ELEMENT Size\t\t\t(#PCDATA)>",
    "]>",
    "",
    "<Root>",
    "",
};

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

JobResults Record(std::string client, std::string url, std::string id, std::string error,
                  unsigned long long size) {
    JobResults record;
    record.ClientName = std::move(client);
    record.Url = std::move(url);
    record.BackupJobId = std::move(id);
    record.ErrorString = std::move(error);
    record.Size = size;
    return record;
}

// The record text as the element output of XmlNode gives it.
std::string ComposedWithNodes(const JobResults& record) {
    std::string content;
    content += XmlNode("ClientName", record.ClientName).OutputXMLNodeString();
    content += XmlNode("Url", record.Url).OutputXMLNodeString();
    content += XmlNode("BackupJobId", record.BackupJobId).OutputXMLNodeString();
    content += XmlNode("ErrorString", record.ErrorString).OutputXMLNodeString();
    content += XmlNode("Size", record.Size).OutputXMLNodeString();
    return XmlNode("JobResult", content).OutputXMLNodeString();
}

TEST(StoreFormat, HeaderIsThe353BytesOfTheFormat) {
    const std::string header = JoinLines(kHeaderLines);
    ASSERT_EQ(header.size(), 353u);
    ScratchDir dir;
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
    ASSERT_EQ(store.addJobResult(Record("a", "b", "c", "", 1)), 1);
    const std::string bytes = ReadWholeFile(storetest::OnlyJobResultsFile(dir, "jr\\ci_push_"));
    EXPECT_EQ(bytes.substr(0, 353), header);
}

TEST(StoreFormat, WorkedExampleAfterEachStep) {
    ScratchDir dir;
    const long long before = static_cast<long long>(std::time(nullptr));
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
    std::vector<std::string> lines = kHeaderLines;
    const std::vector<std::string> first = {
        "<JobResult>",     "<ClientName>", "alpha",         "</ClientName>", "<Url>",
        "/jobs/1001",      "</Url>",       "<BackupJobId>", "1001",          "</BackupJobId>",
        "<ErrorString />", "<Size>",       "4096",          "</Size>",       "</JobResult>"};
    const std::vector<std::string> second = {
        "<JobResult>",    "<ClientName>",  "beta", "</ClientName>",  "<Url>",         "/jobs/1002",
        "</Url>",         "<BackupJobId>", "1002", "</BackupJobId>", "<ErrorString>", "disk full",
        "</ErrorString>", "<Size>",        "0",    "</Size>",        "</JobResult>"};

    ASSERT_EQ(store.addJobResult(Record("alpha", "/jobs/1001", "1001", "", 4096)), 1);
    const std::string path = storetest::OnlyJobResultsFile(dir, "jr\\ci_push_");
    ASSERT_FALSE(path.empty());
    lines.insert(lines.end(), first.begin(), first.end());
    EXPECT_EQ(ReadWholeFile(path), JoinLines(lines) + "</Root>");  // 29 lines
    EXPECT_EQ(lines.size() + 1, 29u);

    ASSERT_EQ(store.addJobResult(Record("beta", "/jobs/1002", "1002", "disk full", 0)), 1);
    lines.insert(lines.end(), second.begin(), second.end());
    EXPECT_EQ(ReadWholeFile(path), JoinLines(lines) + "</Root>");  // 46 lines
    EXPECT_EQ(lines.size() + 1, 46u);
    EXPECT_EQ(lseek64(store.m_nFileHandle, 0, SEEK_CUR),
              static_cast<off64_t>(ReadWholeFile(path).size() - 7));

    ASSERT_EQ(store.saveJobResults(), 1);
    lines.push_back("");
    lines.push_back("");
    EXPECT_EQ(ReadWholeFile(path), JoinLines(lines) + "</Root>");  // 48 lines
    EXPECT_EQ(lines.size() + 1, 48u);

    // The name: the directory name, a backslash, ci_push_<seconds>.xml.
    const std::string name = path.substr(dir.Path().size() + 1);
    const long long seconds = std::stoll(name.substr(11, name.size() - 15));
    EXPECT_EQ(name, "jr\\ci_push_" + std::to_string(seconds) + ".xml");
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, static_cast<long long>(std::time(nullptr)));
}

TEST(StoreFormat, RecordBytesEqualTheElementOutputOfXmlNode) {
    const std::vector<JobResults> records = {
        Record("", "", "", "", 0),
        Record("plain", "u", "7", "e", 18446744073709551615ull),
        Record("ends in newline\n", "\n", "two\nlines", "x\n\n", 42),
        Record("  blanks around\t", " a b ", "\r\n", "\t", 1),
        Record("<b>&amp;</b>", "a<b", "x>y", "<ErrorString />", 10),
        Record(std::string("nul\0inside", 10), "</Url", "</Root", "ok", 9),
    };
    for (const JobResults& record : records) {
        ScratchDir dir;
        CCIJobResults store;
        ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
        ASSERT_EQ(store.addJobResult(record), 1);
        ASSERT_EQ(store.addJobResult(record), 1);  // an append over the trailer
        const std::string bytes = ReadWholeFile(storetest::OnlyJobResultsFile(dir, "jr\\ci_push_"));
        const std::string expected = ComposedWithNodes(record);
        EXPECT_EQ(bytes, JoinLines(kHeaderLines) + expected + expected + "</Root>")
            << "client name: " << record.ClientName;
    }
}

TEST(StoreFormat, SavedFileEndsInTwoEmptyLinesAndRootEndTag) {
    ScratchDir dir;
    {
        CCIJobResults store;
        ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
        ASSERT_EQ(store.addJobResult(Record("a", "b", "c", "d", 5)), 1);
        // The destructor saves.
    }
    const std::string bytes = ReadWholeFile(storetest::OnlyJobResultsFile(dir, "jr\\ci_push_"));
    const std::string tail = "</JobResult>\n\n\n</Root>";
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
}

}  // namespace
