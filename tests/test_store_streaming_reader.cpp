// The streaming reader where the comparison with the classic reader does not
// reach (moving, a record larger than the window, where damage begins), and
// both readers beside a writer that is still appending.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "jobresults/JobResultsReader.h"
#include "jobresults/JobResultsRecovery.h"
#include "jobresults/cijobresults.h"
#include "support/store_files.h"

namespace {

using storetest::ScratchDir;

// Record i; every 50th is longer than a page, so that the writer also takes
// its way for records that do not fit behind its trailer.
JobResults Record(int i) {
    JobResults record;
    record.ClientName = "client" + std::to_string(i);
    record.Url = i % 50 == 0 ? std::string(static_cast<size_t>(5000 + i % 7), 'u')
                             : "https://h/" + std::to_string(i);
    record.BackupJobId = std::to_string(i);
    record.ErrorString = i % 3 == 0 ? "" : "e";
    record.Size = static_cast<unsigned long long>(i);
    return record;
}

std::vector<JobResults> ReadOn(JobResultsReader& reader) {
    std::vector<JobResults> read;
    for (JobResults record; reader.next(record); record = JobResults()) read.push_back(record);
    return read;
}

// Whether read holds the records 0, 1, ... in order.
bool IsPrefix(const std::vector<JobResults>& read) {
    for (size_t i = 0; i < read.size(); ++i) {
        if (!storetest::SameRecord(read[i], Record(static_cast<int>(i)))) return false;
    }
    return true;
}

TEST(StoreStream, MovedReaderGoesOnAndCutFileEndsWhereDamageBegins) {
    ScratchDir scratch;
    const std::string dir = scratch.Path() + "/d";
    {
        CCIJobResults writer;
        writer.createJobResults(dir);
        JobResults huge = Record(1);
        huge.ErrorString = std::string(3 << 20, 'x');  // far more than the window holds
        for (const JobResults& record : {Record(0), huge, Record(2)}) {
            ASSERT_EQ(writer.addJobResult(record), 1);
        }
    }
    const std::string path = storetest::CreatedFile(scratch, "d");
    const std::string name = storetest::ReaderName(path), bytes = storetest::ReadWholeFile(path);
    JobResultsReader first;
    ASSERT_TRUE(first.open(dir, name)) << first.errorMessage();
    JobResults record;
    ASSERT_TRUE(first.next(record));
    JobResultsReader second(std::move(first));
    ASSERT_TRUE(second.next(record));
    EXPECT_EQ(record.ErrorString.size(), size_t{3} << 20);
    ASSERT_TRUE(second.next(record));
    EXPECT_TRUE(storetest::SameRecord(record, Record(2)));
    EXPECT_FALSE(second.next(record));
    EXPECT_TRUE(second.ok()) << second.errorMessage();
    EXPECT_EQ(second.validBytes(), bytes.rfind("</JobResult>") + 12);

    // Cut inside the last record: the records in front, the classic
    // reader's verdict, and validBytes behind the last whole record.
    const size_t last = bytes.rfind("<JobResult>");
    storetest::WriteWholeFile(path, bytes.substr(0, last + 40));
    ASSERT_TRUE(first.open(dir, name)) << "a reader moved from opens again";
    EXPECT_EQ(ReadOn(first).size(), 2u);
    EXPECT_FALSE(first.ok());
    EXPECT_EQ(first.errorMessage(), "Invalid data in Job Results file " + path);
    EXPECT_EQ(first.errorNumber(), -1);
    EXPECT_EQ(first.validBytes(), bytes.rfind("</JobResult>", last) + 12);
}

// Where each record begins, told by the writer (its trailer's place before
// the append, the header's end for the first) and by the reader, must
// agree: for values that hold markup, a record larger than the window, and
// records behind foreign children.
// A lent descriptor on anything but a regular file (here a pipe, which
// would block) is refused at once, and stays open: it is the caller's.
TEST(StoreStream, LentDescriptorOnlyOnARegularFile) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    JobResultsReader reader;
    EXPECT_FALSE(reader.open(ends[0], "pipe"));
    EXPECT_EQ(reader.errorNumber(), EINVAL);
    JobResultsRecovery walk;
    EXPECT_FALSE(walk.open(ends[0]));
    EXPECT_EQ(walk.errorNumber(), EINVAL);
    EXPECT_NE(fcntl(ends[0], F_GETFD), -1);
    close(ends[0]);
    close(ends[1]);
}

TEST(StoreStream, RecordOffsetIsWhereTheWriterPutTheRecord) {
    ScratchDir scratch;
    const std::string dir = scratch.Path() + "/d";
    std::vector<uint64_t> starts;
    {
        CCIJobResults writer;
        writer.createJobResults(dir);
        JobResults markup = Record(1), huge = Record(2);
        markup.ClientName = "<JobResult/> <JobResults>";
        huge.Url = std::string(1 << 20, 'u');
        for (const JobResults& record : {Record(0), markup, huge, Record(3)}) {
            const off64_t before =
                writer.m_nFileHandle < 0 ? -1 : lseek64(writer.m_nFileHandle, 0, SEEK_CUR);
            ASSERT_EQ(writer.addJobResult(record), 1);
            starts.push_back(before < 0 ? 353 : static_cast<uint64_t>(before));
        }
    }
    const std::string path = storetest::CreatedFile(scratch, "d");
    std::string bytes = storetest::ReadWholeFile(path);
    // A foreign child and a comment in front of the last record.
    const std::string foreign = "<Note>x</Note><!-- <JobResult> -->\n";
    bytes.insert(starts.back(), foreign);
    starts.back() += foreign.size();
    storetest::WriteWholeFile(path, bytes);
    JobResultsReader reader;
    ASSERT_TRUE(reader.open(dir, storetest::ReaderName(path)));
    JobResults record;
    for (size_t i = 0; i < starts.size(); ++i) {
        ASSERT_TRUE(reader.next(record)) << reader.errorMessage();
        EXPECT_EQ(reader.recordOffset(), starts[i]) << "record " << i;
    }
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
    const std::string name = storetest::ReaderName(storetest::CreatedFile(scratch, "d"));
    std::atomic<int> acknowledged{1};
    std::atomic<bool> writing{true};
    long reads[2] = {}, failures[2] = {};
    std::string firstFailure[2];
    const auto readInLoop = [&](int which) {
        while (writing) {
            const int before = acknowledged;
            std::vector<JobResults> read;
            bool ok;
            std::string message;
            if (which == 0) {
                const storetest::ReadBack back = storetest::ReadAllRecords(dir, name);
                read = back.records;
                ok = back.openResult == 1 && back.lastResult == 0;
                message = back.errorMsg;
            } else {
                JobResultsReader reader;
                reader.open(dir, name);
                read = ReadOn(reader);
                ok = reader.ok();
                message = reader.errorMessage();
            }
            ++reads[which];
            if (ok && static_cast<int>(read.size()) >= before && IsPrefix(read)) continue;
            if (failures[which]++ == 0) {
                firstFailure[which] = message + ": " + std::to_string(read.size()) + " of " +
                                      std::to_string(before) + " records";
            }
        }
    };
    std::thread classicReader(readInLoop, 0), streamReader(readInLoop, 1);
    for (int i = 1; i < total && writer.addJobResult(Record(i)) == 1; ++i) acknowledged = i + 1;
    writing = false;
    classicReader.join();
    streamReader.join();
    EXPECT_EQ(acknowledged, total) << writer.m_sErrorMsg;
    std::cout << "appended " << acknowledged << " records; classic reads " << reads[0]
              << ", failures " << failures[0] << "; streaming reads " << reads[1] << ", failures "
              << failures[1] << "\n";
    EXPECT_EQ(failures[0], 0) << firstFailure[0];
    EXPECT_EQ(failures[1], 0) << firstFailure[1];
    EXPECT_GT(reads[0] + reads[1], 2);
}

}  // namespace
