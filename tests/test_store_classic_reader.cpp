// The reading side of the store: round trips, every failure message, the
// reader's states, and descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/store_files.h"

namespace {

using storetest::ReadBack;
using storetest::ScratchDir;

// Writes a file named name into dir: the golden file's declarations, then body.
std::string PutFile(const ScratchDir& dir, const std::string& name, const std::string& body) {
    const std::string path = dir.Path() + "/d\\" + name;
    storetest::WriteWholeFile(path, storetest::Golden().prolog + body);
    return path;
}

// Writes records with a store and returns the reader's file name.
std::string WriteRecords(const ScratchDir& dir, const std::vector<JobResults>& records, bool save) {
    CCIJobResults store;
    EXPECT_EQ(store.createJobResults(dir.Path() + "/d"), 1);
    for (const JobResults& record : records) EXPECT_EQ(store.addJobResult(record), 1);
    if (save) {
        EXPECT_EQ(store.saveJobResults(), 1);
    }
    const std::string path = storetest::CreatedFile(dir, "d");
    if (!save) store.m_bHeaderWritten = false;  // leave the file as the last append left it
    return storetest::ReaderName(path);
}

TEST(StoreReader, RoundTripsManyRecordsSavedOrNot) {
    for (const bool save : {true, false}) {
        ScratchDir dir;
        std::vector<JobResults> written;
        for (int i = 0; i < 1500; ++i) written.push_back(storetest::SampleRecord(i));
        const std::string name = WriteRecords(dir, written, save);
        CCIJobResults reader;
        ASSERT_EQ(reader.openJobResults(dir.Path() + "/d", name), 1);
        for (size_t i = 0; i < written.size(); ++i) {
            JobResults record;
            const int result = reader.getNextJobResult(record);
            ASSERT_EQ(result, i + 1 == written.size() ? 0 : 1) << i;
            ASSERT_TRUE(storetest::SameRecord(record, written[i])) << i;
        }
        EXPECT_EQ(reader.m_nFileHandle, -1);
        JobResults record;
        EXPECT_EQ(reader.getNextJobResult(record), -1);
        EXPECT_EQ(reader.m_sErrorMsg, "file handle for file " + name + "is invalid");
    }
}

TEST(StoreReader, ValuesComeBackTrimmed) {
    struct Case {
        std::string written;
        std::string read;
    };
    const std::vector<Case> cases = {
        {" x ", "x"},           {"\t\r\n", ""},
        {"a b", "a b"},         {"ends\n", "ends"},
        {"\nboth\n\n", "both"}, {"in\nside", "in\nside"},
        {"\vvt", "\vvt"},       {"<b>&amp;</b>", "<b>&amp;</b>"},
    };
    ScratchDir dir;
    std::vector<JobResults> written;
    for (const Case& c : cases) {
        JobResults record = storetest::SampleRecord(1);
        record.ClientName = c.written;
        record.ErrorString = c.written;
        written.push_back(record);
    }
    const ReadBack back =
        storetest::ReadAllRecords(dir.Path() + "/d", WriteRecords(dir, written, true));
    ASSERT_EQ(back.records.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(back.records[i].ClientName, cases[i].read) << i;
        EXPECT_EQ(back.records[i].ErrorString, cases[i].read) << i;
    }
}

// Size is its trimmed content as sscanf "%llu" converts it, never damage:
// hand-made files and callers rely on it (JobResultsReader and check are
// stricter).
TEST(StoreReader, SizeFollowsScanfRules) {
    const std::vector<std::string> contents = {"0",
                                               "42",
                                               "  42  ",
                                               "+7",
                                               "-1",
                                               "18446744073709551615",
                                               "18446744073709551616",
                                               "99999999999999999999999",
                                               "12abc",
                                               "abc",
                                               "",
                                               "- 5",
                                               "0x10",
                                               "\v9",
                                               "\n042\n",
                                               "\n+7\n",
                                               "\n42\n\n",
                                               "\n18446744073709551616\n"};
    for (const std::string& content : contents) {
        ScratchDir dir;
        PutFile(dir, "f.xml", "<Root><JobResult><Size>" + content + "</Size></JobResult></Root>");
        CCIJobResults reader;
        ASSERT_EQ(reader.openJobResults(dir.Path() + "/d", "f.xml"), 1);
        JobResults record = storetest::UntouchedRecord();
        EXPECT_EQ(reader.getNextJobResult(record), 0);
        unsigned long long expected = storetest::UntouchedRecord().Size;
        const std::string trimmed = XmlNode::TrimString(content);
        std::sscanf(trimmed.c_str(), "%llu", &expected);
        EXPECT_EQ(record.Size, expected) << "content: " << content;
    }
}

TEST(StoreReader, FieldsMatchByNameAndMissingOnesKeepTheirValue) {
    ScratchDir dir;
    PutFile(dir, "f.xml",
            "<Root>\n"
            "<JobResult><Size>\n5\n</Size><ClientName>c1</ClientName><Other>o</Other>"
            "<ClientName>c2</ClientName><url>lower</url></JobResult>\n"
            "<Note>not a record</Note>\n"
            "<JobResult a='1'><ErrorString/><Url> u </Url></JobResult>\n"
            "<Trailer/>\n"
            "</Root>");
    CCIJobResults reader;
    ASSERT_EQ(reader.openJobResults(dir.Path() + "/d", "f.xml"), 1);
    ASSERT_EQ(reader.m_vJobResultNodes.size(), 4u);
    JobResults record = storetest::UntouchedRecord();
    EXPECT_EQ(reader.getNextJobResult(record), 1);
    EXPECT_EQ(record.ClientName, "c2");
    EXPECT_EQ(record.Url, storetest::UntouchedRecord().Url);
    EXPECT_EQ(record.Size, 5u);
    EXPECT_EQ(record.ErrorString, storetest::UntouchedRecord().ErrorString);
    // The non-record between is passed over; the last record still says 1
    // because a non-record follows it.
    EXPECT_EQ(reader.getNextJobResult(record), 1);
    EXPECT_EQ(record.ErrorString, "");
    EXPECT_EQ(record.Url, "u");
    EXPECT_EQ(record.ClientName, "c2");
    EXPECT_EQ(reader.getNextJobResult(record), -1);
    EXPECT_EQ(reader.m_sErrorMsg, "Invalid data/No Data found in Job Results file f.xml");
    EXPECT_EQ(reader.m_nErrno, -1);
    EXPECT_NE(reader.m_nFileHandle, -1);
    EXPECT_EQ(reader.getNextJobResult(record), -1);
    EXPECT_EQ(reader.closeJobResults(), 1);
    EXPECT_EQ(reader.m_nFileHandle, -1);
}

TEST(StoreReader, InvalidDocumentsAreRefused) {
    const std::vector<std::string> bodies = {
        "",
        "no markup at all",
        "<Root><JobResult><Size>1</Size></JobResult>",  // cut before </Root>
        "<Root></Root><Root></Root>",                   // two elements
        "<Root></Root><extra/>",
        "<root></root>",  // name differs in case
        "<JobResult></JobResult>",
        "<Other></Other><Root></Root>",
        "<Root",
    };
    for (const std::string& body : bodies) {
        ScratchDir dir;
        const std::string path = PutFile(dir, "f.xml", body);
        CCIJobResults reader;
        EXPECT_EQ(reader.openJobResults(dir.Path() + "/d", "f.xml"), 0) << body;
        EXPECT_EQ(reader.m_sErrorMsg, "Invalid data in Job Results file " + path);
        EXPECT_EQ(reader.m_nErrno, -1);
        JobResults record;
        EXPECT_EQ(reader.getNextJobResult(record), -1);
        EXPECT_EQ(reader.m_sErrorMsg, "Invalid data/No Data found in Job Results file f.xml");
    }
}

TEST(StoreReader, RootWithoutRecords) {
    for (const std::string body : {"<Root>\n\n</Root>", "<Root/>", "<Root x='1'>text</Root>"}) {
        ScratchDir dir;
        PutFile(dir, "f.xml", body);
        CCIJobResults reader;
        ASSERT_EQ(reader.openJobResults(dir.Path() + "/d", "f.xml"), 1) << body;
        JobResults record;
        EXPECT_EQ(reader.getNextJobResult(record), -1);
        EXPECT_EQ(reader.m_sErrorMsg, "Invalid data/No Data found in Job Results file f.xml");
    }
}

TEST(StoreReader, OpenRefusalsAndMissingFiles) {
    ScratchDir dir;
    CCIJobResults reader;
    reader.m_sErrorMsg = "before";
    EXPECT_EQ(reader.openJobResults("", "f.xml"), 0);
    EXPECT_EQ(reader.openJobResults(dir.Path(), ""), 0);
    EXPECT_EQ(reader.m_sErrorMsg, "before");
    EXPECT_EQ(reader.m_sDirName, "");

    EXPECT_EQ(reader.openJobResults(dir.Path() + "/d", "missing.xml"), 0);
    EXPECT_EQ(reader.m_sErrorMsg, "Failed to open file " + dir.Path() + "/d\\missing.xml");
    EXPECT_EQ(reader.m_nErrno, ENOENT);
    EXPECT_EQ(reader.m_nFileHandle, -1);
    EXPECT_TRUE(dir.Entries().empty());  // reading creates nothing

    JobResults record;
    CCIJobResults fresh;
    EXPECT_EQ(fresh.getNextJobResult(record), -1);
    EXPECT_EQ(fresh.m_sErrorMsg, "file handle for file is invalid");
}

TEST(StoreReader, ReadOnlyFileIsReadAndLeftAsItWas) {
    ScratchDir dir;
    const std::string name =
        WriteRecords(dir, {storetest::SampleRecord(1), storetest::SampleRecord(2)}, true);
    const std::string path = dir.Path() + "/d\\" + name;
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const std::string before = storetest::ReadWholeFile(path);
    const ReadBack back = storetest::ReadAllRecords(dir.Path() + "/d", name);
    EXPECT_EQ(back.openResult, 1);
    EXPECT_EQ(back.records.size(), 2u);
    EXPECT_EQ(storetest::ReadWholeFile(path), before);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0444u);
}

// No writer stores a NUL byte: a value holding one is damage, as zeroed
// bytes are, and neither its record nor any behind it is delivered.
TEST(StoreReader, NulBytesAreDamage) {
    ScratchDir dir;
    PutFile(dir, "f.xml",
            "<Root><JobResult><Url>before</Url></JobResult><JobResult><ClientName>" +
                std::string("a\0b", 3) +
                "</ClientName><Size>3</Size>"
                "</JobResult><JobResult><Url>after</Url></JobResult></Root>");
    const ReadBack back = storetest::ReadAllRecords(dir.Path() + "/d", "f.xml");
    ASSERT_EQ(back.records.size(), 1u);
    EXPECT_EQ(back.records[0].Url, "before");
    EXPECT_EQ(back.lastResult, -1);
}

TEST(StoreReader, FailedOpenKeepsTheEarlierListAndCursor) {
    ScratchDir dir;
    const std::string good = WriteRecords(
        dir, {storetest::SampleRecord(1), storetest::SampleRecord(2), storetest::SampleRecord(3)},
        true);
    PutFile(dir, "bad.xml", "<Root>");
    CCIJobResults reader;
    ASSERT_EQ(reader.openJobResults(dir.Path() + "/d", good), 1);
    JobResults record;
    ASSERT_EQ(reader.getNextJobResult(record), 1);
    EXPECT_EQ(reader.openJobResults(dir.Path() + "/d", "bad.xml"), 0);
    ASSERT_EQ(reader.getNextJobResult(record), 1);
    EXPECT_TRUE(storetest::SameRecord(record, storetest::SampleRecord(2)));
}

TEST(StoreReader, DescriptorsAreReleased) {
    ScratchDir dir;
    const std::string name =
        WriteRecords(dir, {storetest::SampleRecord(1), storetest::SampleRecord(2)}, true);
    const int descriptors = storetest::OpenDescriptorCount();
    {
        CCIJobResults reader;  // stops early: the destructor releases it
        ASSERT_EQ(reader.openJobResults(dir.Path() + "/d", name), 1);
        EXPECT_EQ(storetest::OpenDescriptorCount(), descriptors + 1);
        ASSERT_EQ(reader.openJobResults(dir.Path() + "/d", name), 1);  // reopen: no leak
        EXPECT_EQ(storetest::OpenDescriptorCount(), descriptors + 1);
    }
    EXPECT_EQ(storetest::OpenDescriptorCount(), descriptors);
    {
        CCIJobResults reader;
        ASSERT_EQ(reader.openJobResults(dir.Path() + "/d", name), 1);
        EXPECT_EQ(reader.closeJobResults(), 1);
        EXPECT_EQ(reader.m_nFileHandle, -1);
        EXPECT_EQ(storetest::OpenDescriptorCount(), descriptors);
    }
}

TEST(StoreReader, OpeningOnAWriterFinishesItsFileFirst) {
    ScratchDir dir;
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/d"), 1);
    ASSERT_EQ(store.addJobResult(storetest::SampleRecord(1)), 1);
    const std::string path = storetest::CreatedFile(dir, "d");
    const int descriptors = storetest::OpenDescriptorCount();
    ASSERT_EQ(store.openJobResults(dir.Path() + "/d", storetest::ReaderName(path)), 1);
    EXPECT_EQ(storetest::OpenDescriptorCount(), descriptors);  // writer's closed, reader's open
    EXPECT_FALSE(store.m_bHeaderWritten);
    EXPECT_TRUE(storetest::EndsSaved(storetest::ReadWholeFile(path)));
    JobResults record;
    EXPECT_EQ(store.getNextJobResult(record), 0);
    EXPECT_TRUE(storetest::SameRecord(record, storetest::SampleRecord(1)));
}

TEST(StoreReader, LargeFileReadsBackWhole) {
    ScratchDir dir;
    std::vector<JobResults> written;
    // Past the size from which the reader gives pages back as it goes.
    for (int i = 0; i < 24000; ++i) {
        JobResults record = storetest::SampleRecord(i);
        record.Url.append(500 + static_cast<size_t>(i % 97), static_cast<char>('a' + i % 26));
        written.push_back(record);
    }
    const std::string name = WriteRecords(dir, written, true);
    const ReadBack back = storetest::ReadAllRecords(dir.Path() + "/d", name);
    ASSERT_EQ(back.records.size(), written.size());
    EXPECT_EQ(back.lastResult, 0);
    for (size_t i = 0; i < written.size(); ++i) {
        ASSERT_TRUE(storetest::SameRecord(back.records[i], written[i])) << i;
    }
}

}  // namespace
