// The streaming reader: what the comparison with the classic reader does not
// reach (moving, a record larger than the window, where damage begins), and
// both readers beside a writer that is still appending.
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "jobresults/JobResultsReader.h"
#include "jobresults/cijobresults.h"
#include "support/store_files.h"

namespace {

using storetest::ScratchDir;

// Record i; every 50th has a value longer than a page, so that the writer
// also takes its way for records that do not fit behind the trailer.
JobResults Record(int i) {
    JobResults record;
    record.ClientName = "client" + std::to_string(i);
    record.Url = i % 50 == 0 ? std::string(5000 + i % 7, 'u') : "https://h/" + std::to_string(i);
    record.BackupJobId = std::to_string(i);
    record.ErrorString = i % 3 == 0 ? "" : "e";
    record.Size = static_cast<unsigned long long>(i);
    return record;
}

struct Written {
    std::string dir;
    std::string name;
    std::string bytes;
};

Written WriteRecords(const ScratchDir& scratch, const std::vector<JobResults>& records) {
    Written written{scratch.Path() + "/d", "", ""};
    CCIJobResults writer;
    writer.createJobResults(written.dir);
    for (const JobResults& record : records) EXPECT_EQ(writer.addJobResult(record), 1);
    writer.saveJobResults();
    const std::string path = storetest::OnlyJobResultsFile(scratch, "d\\ci_push_");
    written.name = storetest::ReaderName(path);
    written.bytes = storetest::ReadWholeFile(path);
    return written;
}

TEST(StoreStream, MovedReaderGoesOnAndLongRecordsPassWhole) {
    ScratchDir scratch;
    std::vector<JobResults> records = {Record(1), Record(2), Record(3)};
    records[1].ErrorString = std::string(3 << 20, 'x');  // far more than the window
    const Written file = WriteRecords(scratch, records);

    JobResultsReader first;
    ASSERT_TRUE(first.open(file.dir, file.name)) << first.errorMessage();
    JobResults record;
    ASSERT_TRUE(first.next(record));
    JobResultsReader second(std::move(first));
    std::vector<JobResults> read = {record};
    while (second.next(record)) read.push_back(record);
    EXPECT_TRUE(second.ok()) << second.errorMessage();
    ASSERT_EQ(read.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_TRUE(storetest::SameRecord(read[i], records[i]));
    EXPECT_EQ(second.validBytes(), file.bytes.rfind("</JobResult>") + 12);
    EXPECT_TRUE(first.open(file.dir, file.name)) << "a moved-from reader opens again";
}

// Cut inside the last record: the records in front of the cut, then the
// classic reader's verdict, and validBytes where the cut record begins.
TEST(StoreStream, CutFileGivesTheRecordsInFrontAndWhereDamageBegins) {
    ScratchDir scratch;
    const Written file = WriteRecords(scratch, {Record(1), Record(2), Record(3)});
    const size_t lastStart = file.bytes.rfind("<JobResult>");
    const std::string path = file.dir + "\\" + file.name;
    storetest::WriteWholeFile(path, file.bytes.substr(0, lastStart + 40));

    JobResultsReader reader;
    ASSERT_TRUE(reader.open(file.dir, file.name));
    JobResults record;
    int count = 0;
    while (reader.next(record)) ++count;
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(reader.errorMessage(), "Invalid data in Job Results file " + path);
    EXPECT_EQ(reader.errorNumber(), -1);
    EXPECT_EQ(reader.validBytes(), file.bytes.rfind("</JobResult>", lastStart) + 12);
}

// One writer appends as fast as it can while the classic and the streaming
// reader read the file over and over: every read must succeed and hold at
// least the records acknowledged before it began, in order and unaltered.
TEST(StoreStream, ReadersBesideAWriterSeeCompleteDocuments) {
    ScratchDir scratch;
    const std::string dir = scratch.Path() + "/d";
    const int total = storetest::Repetitions(100000, 5000);
    CCIJobResults writer;
    writer.createJobResults(dir);
    ASSERT_EQ(writer.addJobResult(Record(0)), 1);
    const std::string name =
        storetest::ReaderName(storetest::OnlyJobResultsFile(scratch, "d\\ci_push_"));
    std::atomic<int> acknowledged{1};
    std::atomic<bool> writing{true};

    struct Tally {
        long reads = 0;
        long failures = 0;
        std::string firstFailure;
    };
    const auto check = [&](Tally& tally, int before, bool ok, const std::string& message,
                           const std::vector<JobResults>& read) {
        ++tally.reads;
        bool good = ok && static_cast<int>(read.size()) >= before;
        for (size_t i = 0; good && i < read.size(); ++i) {
            good = storetest::SameRecord(read[i], Record(static_cast<int>(i)));
        }
        if (good) return;
        if (tally.failures++ == 0) {
            tally.firstFailure = message + " after " + std::to_string(read.size()) + " of " +
                                 std::to_string(before) + " records";
        }
    };
    Tally classic, streaming;
    std::thread classicReader([&] {
        while (writing) {
            const int before = acknowledged;
            const storetest::ReadBack back = storetest::ReadAllRecords(dir, name);
            check(classic, before, back.openResult == 1 && back.lastResult == 0, back.errorMsg,
                  back.records);
        }
    });
    std::thread streamReader([&] {
        while (writing) {
            const int before = acknowledged;
            JobResultsReader reader;
            std::vector<JobResults> read;
            JobResults record;
            if (reader.open(dir, name)) {
                while (reader.next(record)) read.push_back(record);
            }
            check(streaming, before, reader.ok(), reader.errorMessage(), read);
        }
    });
    for (int i = 1; i < total; ++i) {
        if (writer.addJobResult(Record(i)) != 1) break;
        acknowledged = i + 1;
    }
    writing = false;
    classicReader.join();
    streamReader.join();
    EXPECT_EQ(acknowledged, total) << writer.m_sErrorMsg;
    std::cout << "appended " << acknowledged << " records; classic reads " << classic.reads
              << ", failures " << classic.failures << "; streaming reads " << streaming.reads
              << ", failures " << streaming.failures << "\n";
    EXPECT_EQ(classic.failures, 0) << classic.firstFailure;
    EXPECT_EQ(streaming.failures, 0) << streaming.firstFailure;
    EXPECT_GT(classic.reads + streaming.reads, 2);
}

}  // namespace
