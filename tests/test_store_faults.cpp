// Failures of the store's system calls, injected for real: through the POSIX
// seam (EINTR, short counts, errors on a chosen descriptor, failed syncs) and through a
// file size limit in a child process. After every failure the file must read
// back with every record acknowledged before it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/damage.h"
#include "support/posix_fault_seam.h"
#include "support/store_files.h"

namespace {

using faultseam::Fault;
using faultseam::Rule;
using storetest::ReadWholeFile;
using storetest::ScratchDir;

const char kWriteFailed[] = "Failed to write xmlData to job results file.";
const char kSeekFailed[] = "Failed to seek to correct location in file after adding job result.";
const char kFinishFailed[] = "Failed to write xml root tag end to job results file.";

// Record i; every fourth one is large enough that its write spans pages.
JobResults Numbered(int index) {
    JobResults record;
    record.ClientName = "client-" + std::to_string(index);
    record.Url = "/jobs/" + std::to_string(index);
    if (index % 4 == 3) record.Url.append(9000 + 37 * static_cast<size_t>(index), 'u');
    record.BackupJobId = std::to_string(5000 + index);
    record.ErrorString = index % 3 == 0 ? "" : "error " + std::to_string(index);
    record.Size = 1000003ull * static_cast<unsigned>(index);
    return record;
}

Rule On(int fd, Fault fault, int skip = 0, int times = 1) {
    Rule rule;
    rule.fd = fd;
    rule.fault = fault;
    rule.skip = skip;
    rule.times = times;
    return rule;
}

class StoreFaults : public ::testing::Test {
protected:
    void TearDown() override { faultseam::DisarmAll(); }

    // A store with `count` records appended (not saved).
    void Begin(int count) {
        ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
        for (int i = 0; i < count; ++i) ASSERT_EQ(store.addJobResult(Numbered(i)), 1);
        path = storetest::CreatedFile(dir, "jr");
        ASSERT_FALSE(path.empty());
    }

    // The file at path reads back as records first .. first + count - 1.
    void ExpectRecords(const std::string& file, int first, int count) {
        const storetest::ReadBack back =
            storetest::ReadAllRecords(dir.Path() + "/jr", storetest::ReaderName(file));
        ASSERT_EQ(back.openResult, 1) << back.errorMsg;
        ASSERT_EQ(back.records.size(), static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            EXPECT_TRUE(
                storetest::SameRecord(back.records[static_cast<size_t>(i)], Numbered(first + i)))
                << i;
        }
        // What a failing writer leaves is no damage to the walk over its layout.
        const damagestudy::Walked walked =
            damagestudy::WalkFile(dir.Path() + "/jr", storetest::ReaderName(file));
        EXPECT_FALSE(walked.Damaged());
        EXPECT_EQ(walked.records.size(), static_cast<size_t>(count));
    }

    void ExpectPositionOnTrailer() {
        EXPECT_EQ(lseek64(store.m_nFileHandle, 0, SEEK_CUR),
                  storetest::TrailerStart(ReadWholeFile(path)));
    }

    ScratchDir dir;
    CCIJobResults store;
    std::string path;
};

// The same records written without faults, saved: the bytes to expect.
std::string ReferenceBytes(int count) {
    ScratchDir dir;
    {
        CCIJobResults store;
        store.createJobResults(dir.Path() + "/jr");
        for (int i = 0; i < count; ++i) store.addJobResult(Numbered(i));
    }
    return ReadWholeFile(storetest::CreatedFile(dir, "jr"));
}

TEST_F(StoreFaults, InterruptedAndShortTransfersAreCompleted) {
    const std::string expected = ReferenceBytes(12);
    for (const Fault fault : {Fault::kShort, Fault::kEintr}) {
        ScratchDir scratch;
        const int fd = storetest::LowestFreeDescriptor();
        Rule writes = On(fd, fault, 0, -1);
        writes.every = 2;  // every other write: EINTR must not spin forever
        writes.shortBytes = 3;
        faultseam::Arm(faultseam::kPwrite, writes);
        faultseam::Arm(faultseam::kFtruncate, On(fd, Fault::kEintr, 0, 2));
        {
            CCIJobResults writer;
            writer.createJobResults(scratch.Path() + "/jr");
            for (int i = 0; i < 12; ++i) ASSERT_EQ(writer.addJobResult(Numbered(i)), 1);
            ASSERT_EQ(writer.m_nFileHandle, fd);
            ASSERT_EQ(writer.saveJobResults(), 1);
        }
        faultseam::DisarmAll();
        const std::string file = storetest::CreatedFile(scratch, "jr");
        EXPECT_EQ(ReadWholeFile(file), expected);

        Rule reads = On(storetest::LowestFreeDescriptor(), fault, 0, -1);
        reads.every = 2;
        reads.shortBytes = 100;
        faultseam::Arm(faultseam::kRead, reads);
        const storetest::ReadBack back =
            storetest::ReadAllRecords(scratch.Path() + "/jr", storetest::ReaderName(file));
        faultseam::DisarmAll();
        ASSERT_EQ(back.records.size(), 12u);
        EXPECT_TRUE(storetest::SameRecord(back.records[11], Numbered(11)));
    }
}

TEST_F(StoreFaults, FailedFirstWriteLeavesNoFile) {
    ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
    Rule rule = On(storetest::LowestFreeDescriptor(), Fault::kError);
    rule.error = ENOSPC;
    faultseam::Arm(faultseam::kPwrite, rule);
    EXPECT_EQ(store.addJobResult(Numbered(0)), 0);
    EXPECT_EQ(store.m_sErrorMsg, kWriteFailed);
    EXPECT_EQ(store.m_nErrno, ENOSPC);
    EXPECT_EQ(store.m_nFileHandle, -1);
    EXPECT_FALSE(store.m_bHeaderWritten);
    EXPECT_TRUE(dir.Entries().empty());
    faultseam::DisarmAll();
    ASSERT_EQ(store.addJobResult(Numbered(0)), 1);  // starts over, header and all
    path = storetest::CreatedFile(dir, "jr");
    ExpectRecords(path, 0, 1);
}

// An append that fails at any of its writes (part of the write done, then
// an error) leaves the file byte for byte as it was, with the position on
// the trailer; the next append goes on from there.
TEST_F(StoreFaults, FailedAppendLeavesTheFileAsItWas) {
    for (const int failing : {4, 7}) {  // a one-write record and a page-spanning one
        for (int skip = 0; skip < 2; ++skip) {
            SCOPED_TRACE("record " + std::to_string(failing) + ", write " + std::to_string(skip));
            ScratchDir scratch;
            CCIJobResults writer;
            ASSERT_EQ(writer.createJobResults(scratch.Path() + "/jr"), 1);
            for (int i = 0; i < 3; ++i) ASSERT_EQ(writer.addJobResult(Numbered(i)), 1);
            const std::string file = storetest::CreatedFile(scratch, "jr");
            const std::string before = ReadWholeFile(file);
            Rule rule = On(writer.m_nFileHandle, Fault::kShort, skip, 1);
            rule.shortBytes = 5;
            rule.then = Fault::kError;
            rule.thenTimes = 1;
            rule.error = EDQUOT;
            faultseam::Arm(faultseam::kPwrite, rule);
            const int result = writer.addJobResult(Numbered(failing));
            const long writes = faultseam::Calls(faultseam::kPwrite);
            faultseam::DisarmAll();
            if (writes <= skip + 1) {
                EXPECT_EQ(result, 1);  // done before the faulty write
                continue;
            }
            EXPECT_EQ(result, 0);
            EXPECT_EQ(writer.m_sErrorMsg, kWriteFailed);
            EXPECT_EQ(writer.m_nErrno, EDQUOT);
            EXPECT_EQ(ReadWholeFile(file), before);
            EXPECT_EQ(lseek64(writer.m_nFileHandle, 0, SEEK_CUR), storetest::TrailerStart(before));
            ASSERT_EQ(writer.addJobResult(Numbered(3)), 1);
            ASSERT_EQ(writer.saveJobResults(), 1);
            const storetest::ReadBack back =
                storetest::ReadAllRecords(scratch.Path() + "/jr", storetest::ReaderName(file));
            ASSERT_EQ(back.records.size(), 4u);
            EXPECT_TRUE(storetest::SameRecord(back.records[3], Numbered(3)));
        }
    }
}

// A page-spanning append whose writes keep failing, and whose clean-up
// fails as well, still leaves the old trailer in place; the store then
// continues in a new file instead of failing for ever.
TEST_F(StoreFaults, PersistentFailureKeepsTheOldTrailer) {
    Begin(3);
    Rule rule = On(store.m_nFileHandle, Fault::kShort, 0, 1);
    rule.shortBytes = 4000;
    rule.then = Fault::kError;
    faultseam::Arm(faultseam::kPwrite, rule);
    faultseam::Arm(faultseam::kFtruncate, On(store.m_nFileHandle, Fault::kError, 0, -1));
    EXPECT_EQ(store.addJobResult(Numbered(7)), 0);
    EXPECT_EQ(store.m_sErrorMsg, kWriteFailed);
    EXPECT_EQ(store.m_nErrno, EIO);
    faultseam::DisarmAll();
    ExpectRecords(path, 0, 3);

    ASSERT_EQ(store.addJobResult(Numbered(3)), 1);
    ASSERT_EQ(store.saveJobResults(), 1);
    const std::vector<std::string> names = dir.Entries();
    ASSERT_EQ(names.size(), 2u);
    ExpectRecords(path, 0, 3);
    for (const std::string& name : names) {
        if (dir.Path() + "/" + name != path) {
            ExpectRecords(dir.Path() + "/" + name, 3, 1);
        }
    }
}

// The tail of a page-spanning append, left behind the old trailer when the
// rest of the append fails for good, must never read as an element, even
// when the record's own text holds the end tags the tail's tag could take.
TEST_F(StoreFaults, UnfinishedTailNeverFormsAnElement) {
    for (const std::string trap : {"", "</lt>", "</lt></Qz>", "</lt></Qz></Jx></Vw>"}) {
        SCOPED_TRACE("value holding " + trap);
        ScratchDir scratch;
        CCIJobResults writer;
        ASSERT_EQ(writer.createJobResults(scratch.Path() + "/jr"), 1);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(writer.addJobResult(Numbered(i)), 1);
        const std::string file = storetest::CreatedFile(scratch, "jr");
        JobResults record = Numbered(7);
        record.ErrorString = trap + " and " + trap;
        Rule rule = On(writer.m_nFileHandle, Fault::kError, 1, -1);  // the tail goes through
        faultseam::Arm(faultseam::kPwrite, rule);
        faultseam::Arm(faultseam::kFtruncate, On(writer.m_nFileHandle, Fault::kError, 0, -1));
        EXPECT_EQ(writer.addJobResult(record), 0);
        faultseam::DisarmAll();
        EXPECT_GT(ReadWholeFile(file).size(), 9000u);  // the tail is there
        const storetest::ReadBack back =
            storetest::ReadAllRecords(scratch.Path() + "/jr", storetest::ReaderName(file));
        ASSERT_EQ(back.openResult, 1) << back.errorMsg;
        ASSERT_EQ(back.records.size(), 3u);
        EXPECT_FALSE(
            damagestudy::WalkFile(scratch.Path() + "/jr", storetest::ReaderName(file)).Damaged());
    }
}

TEST_F(StoreFaults, SeekFailureAfterWriteKeepsTheRecordAndMovesOn) {
    Begin(2);
    faultseam::Arm(faultseam::kLseek, On(store.m_nFileHandle, Fault::kError, 1, 1));
    EXPECT_EQ(store.addJobResult(Numbered(2)), 0);
    faultseam::DisarmAll();
    EXPECT_EQ(store.m_sErrorMsg, kSeekFailed);
    EXPECT_EQ(store.m_nErrno, EIO);
    EXPECT_EQ(store.m_nFileHandle, -1);
    ExpectRecords(path, 0, 3);  // the record is on disk, the file finished
    const std::string bytes = ReadWholeFile(path);
    EXPECT_TRUE(storetest::EndsSaved(bytes));

    ASSERT_EQ(store.addJobResult(Numbered(3)), 1);  // a new file, not behind the trailer
    EXPECT_EQ(dir.Entries().size(), 2u);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

// A position that cannot be learned (a descriptor that cannot seek) is a
// seek failure, reported before anything is written.
TEST_F(StoreFaults, SeekFailureBeforeWritingChangesNothing) {
    Begin(2);
    const std::string before = ReadWholeFile(path);
    Rule rule = On(store.m_nFileHandle, Fault::kError, 0, 1);
    rule.error = ESPIPE;
    faultseam::Arm(faultseam::kLseek, rule);
    EXPECT_EQ(store.addJobResult(Numbered(2)), 0);
    faultseam::DisarmAll();
    EXPECT_EQ(store.m_sErrorMsg, kSeekFailed);
    EXPECT_EQ(store.m_nErrno, ESPIPE);
    EXPECT_EQ(ReadWholeFile(path), before);
    ASSERT_EQ(store.addJobResult(Numbered(2)), 1);
    ExpectRecords(path, 0, 3);
}

TEST_F(StoreFaults, SaveFailingAtEachStepCanBeRetried) {
    const std::string expected = ReferenceBytes(3);
    struct Step {
        faultseam::Call call;
        int skip;
        Fault fault;
    };
    const std::vector<Step> steps = {
        {faultseam::kLseek, 0, Fault::kError},  {faultseam::kPwrite, 0, Fault::kError},
        {faultseam::kPwrite, 0, Fault::kShort}, {faultseam::kPwrite, 1, Fault::kError},
        {faultseam::kPwrite, 1, Fault::kShort}, {faultseam::kFtruncate, 0, Fault::kError},
    };
    for (size_t index = 0; index < steps.size(); ++index) {
        SCOPED_TRACE("step " + std::to_string(index));
        ScratchDir scratch;
        CCIJobResults writer;
        ASSERT_EQ(writer.createJobResults(scratch.Path() + "/jr"), 1);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(writer.addJobResult(Numbered(i)), 1);
        const std::string file = storetest::CreatedFile(scratch, "jr");
        Rule rule = On(writer.m_nFileHandle, steps[index].fault, steps[index].skip, 1);
        rule.shortBytes = 2;
        rule.then = steps[index].fault == Fault::kShort ? Fault::kError : Fault::kNone;
        faultseam::Arm(steps[index].call, rule);
        EXPECT_EQ(writer.saveJobResults(), 0);
        faultseam::DisarmAll();
        EXPECT_EQ(writer.m_sErrorMsg, kFinishFailed);
        EXPECT_EQ(writer.m_nErrno, EIO);
        EXPECT_TRUE(writer.m_bHeaderWritten);
        EXPECT_FALSE(writer.m_bSaved);
        EXPECT_NE(writer.m_nFileHandle, -1);
        {
            const storetest::ReadBack back =
                storetest::ReadAllRecords(scratch.Path() + "/jr", storetest::ReaderName(file));
            EXPECT_EQ(back.openResult, 1);
            EXPECT_EQ(back.records.size(), 3u);
        }
        ASSERT_EQ(writer.saveJobResults(), 1);
        EXPECT_EQ(ReadWholeFile(file), expected);
    }
}

TEST_F(StoreFaults, ReadErrorIsReported) {
    Begin(2);
    ASSERT_EQ(store.saveJobResults(), 1);
    CCIJobResults reader;
    faultseam::Arm(faultseam::kRead, On(storetest::LowestFreeDescriptor(), Fault::kError, 0, -1));
    EXPECT_EQ(reader.openJobResults(dir.Path() + "/jr", storetest::ReaderName(path)), 0);
    faultseam::DisarmAll();
    EXPECT_EQ(reader.m_sErrorMsg, "Erroring while reading data from Job Results file " +
                                      dir.Path() + "/jr\\" + storetest::ReaderName(path));
    EXPECT_EQ(reader.m_nErrno, EIO);
    EXPECT_NE(reader.m_nFileHandle, -1);
}

// The cost of an append in system calls: the record in one or two writes
// and two cheap seeks, nothing else.
TEST_F(StoreFaults, AppendUsesAFewSystemCalls) {
    Begin(1);
    for (const int index : {4, 7}) {
        faultseam::Watch(store.m_nFileHandle);
        ASSERT_EQ(store.addJobResult(Numbered(index)), 1);
        EXPECT_LE(faultseam::Calls(faultseam::kPwrite), 2);
        EXPECT_EQ(faultseam::Calls(faultseam::kLseek), 2);
        EXPECT_EQ(faultseam::Calls(faultseam::kFtruncate), 0);
        EXPECT_EQ(faultseam::Calls(faultseam::kRead), 0);
    }
    faultseam::DisarmAll();
    ExpectPositionOnTrailer();
}

// --- a real file size limit ---------------------------------------------

struct ChildReport {
    std::vector<int> acknowledged;  // records whose append returned 1
    bool exitedCleanly = false;
};

// In a child limited to `limit` bytes per file: appends records 0..count-1,
// reporting each that returned 1, then saves.
ChildReport AppendUnderLimit(const std::string& dirName, rlim_t limit, int count) {
    int channel[2];
    if (pipe(channel) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        signal(SIGXFSZ, SIG_IGN);
        const rlimit size = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &size);
        CCIJobResults writer;
        writer.createJobResults(dirName);
        for (int i = 0; i < count; ++i) {
            if (writer.addJobResult(Numbered(i)) == 1) {
                if (write(channel[1], &i, sizeof i) != sizeof i) _exit(3);
            }
        }
        writer.saveJobResults();
        _exit(0);
    }
    close(channel[1]);
    ChildReport report;
    int index;
    while (read(channel[0], &index, sizeof index) == sizeof index)
        report.acknowledged.push_back(index);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    report.exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return report;
}

TEST(StoreFileSizeLimit, EveryAcknowledgedRecordSurvivesAndNoFileLacksItsHeader) {
    const rlim_t header = storetest::Golden().header.size();
    const rlim_t limits[] = {100, header, 400, 600, 4090, 4096, 4100, 8000, 12000, 20000, 40000};
    for (const rlim_t limit : limits) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        ScratchDir dir;
        const ChildReport report = AppendUnderLimit(dir.Path() + "/jr", limit, 16);
        ASSERT_TRUE(report.exitedCleanly);
        std::vector<JobResults> found;
        for (const std::string& name : dir.Entries()) {
            const storetest::ReadBack back =
                storetest::ReadAllRecords(dir.Path() + "/jr", storetest::ReaderName(name));
            ASSERT_EQ(back.openResult, 1) << name << ": " << back.errorMsg;
            found.insert(found.end(), back.records.begin(), back.records.end());
        }
        // Exactly the acknowledged records, in order: a failed append
        // leaves nothing of itself behind.
        ASSERT_EQ(found.size(), report.acknowledged.size());
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_TRUE(storetest::SameRecord(found[i], Numbered(report.acknowledged[i])));
        }
        if (limit < 400) {
            EXPECT_TRUE(dir.Entries().empty());  // header and record never fitted
        }
    }
}

// Where no file can be made without a name, the file is created under its
// name at once, as before: records read back, and a failed first write
// leaves no file. Other refusals are creation failures with their errno.
TEST(StoreCreation, FallsBackWhereFilesWithoutANameAreRefused) {
    for (const int refusal : {EOPNOTSUPP, EISDIR, EINVAL, EACCES}) {
        SCOPED_TRACE("errno " + std::to_string(refusal));
        ScratchDir dir;
        faultseam::FailTmpfile(refusal);
        const long links = faultseam::Links();
        CCIJobResults writer;
        writer.m_nErrno = 5;
        ASSERT_EQ(writer.createJobResults(dir.Path() + "/jr"), 1);
        if (refusal == EACCES) {
            EXPECT_EQ(writer.addJobResult(Numbered(0)), 0);
            EXPECT_EQ(errno, EACCES);
            EXPECT_EQ(writer.m_nErrno, 5);
            EXPECT_EQ(writer.m_sErrorMsg.rfind("Failed to create job results file ", 0), 0u);
            EXPECT_TRUE(dir.Entries().empty());
            faultseam::DisarmAll();
            continue;
        }
        faultseam::Arm(faultseam::kPwrite, On(storetest::LowestFreeDescriptor(), Fault::kError));
        EXPECT_EQ(writer.addJobResult(Numbered(0)), 0);
        EXPECT_TRUE(dir.Entries().empty());
        for (int i = 0; i < 3; ++i) ASSERT_EQ(writer.addJobResult(Numbered(i)), 1);
        EXPECT_EQ(faultseam::Links(), links);
        faultseam::DisarmAll();
        const std::string file = storetest::CreatedFile(dir, "jr");
        EXPECT_EQ(storetest::ReadAllRecords(dir.Path() + "/jr", storetest::ReaderName(file))
                      .records.size(),
                  3u);
    }
}

// An ordinary user's file gets its name by linking the anonymous file too.
// Run as root, the test drops to the unprivileged "nobody" in a child.
TEST(StoreCreation, UnprivilegedUserLinksItsFile) {
    constexpr uid_t kNobody = 65534;
    ScratchDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(10);
        const long links = faultseam::Links();
        CCIJobResults writer;
        writer.createJobResults(dir.Path() + "/jr");
        if (writer.addJobResult(Numbered(0)) != 1 || writer.addJobResult(Numbered(1)) != 1)
            _exit(11);
        if (faultseam::Links() != links + 1) _exit(12);
        writer.saveJobResults();
        const std::string file = storetest::CreatedFile(dir, "jr");
        const storetest::ReadBack back =
            storetest::ReadAllRecords(dir.Path() + "/jr", storetest::ReaderName(file));
        _exit(back.records.size() == 2 ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: cannot drop privileges, 11: append failed, "
                                         "12: not named by a link, 13: records do not read back";
}

// The sync levels: the level taken from the environment, and a failing sync
// at every point where one is made: the call that met it returns 0, and
// the files then hold exactly the records acknowledged, each file readable.
// What a power loss leaves at each level, and so the order of the syncs,
// is judged by the crash-state simulator (bench/crashsim).

// Every record of every file the writer made for dirName, files in the
// order of their names (the creation seconds).
std::vector<JobResults> RecordsOfAllFiles(const ScratchDir& dir, const std::string& dirName) {
    std::vector<std::string> names = dir.Entries();
    std::sort(names.begin(), names.end());
    std::vector<JobResults> records;
    for (const std::string& name : names) {
        const storetest::ReadBack back =
            storetest::ReadAllRecords(dirName, storetest::ReaderName(dir.Path() + "/" + name));
        EXPECT_TRUE(back.openResult == 1 && back.lastResult == 0) << name << ": " << back.errorMsg;
        records.insert(records.end(), back.records.begin(), back.records.end());
    }
    return records;
}

// The environment chooses the level of each new file unless the program
// chose one (a new file at level none makes no sync, at name two); a word
// it does not know refuses the append before anything is made.
TEST(StoreSyncLevels, EnvironmentChoosesTheLevelOfANewFile) {
    const struct {
        const char* value;
        JobResultsSync chosen;
        long syncs;  // of the first append; -1: refused
    } cases[] = {
        {nullptr, JobResultsSync::kFromEnvironment, 2},
        {"", JobResultsSync::kFromEnvironment, 2},
        {"none", JobResultsSync::kFromEnvironment, 0},
        {"append", JobResultsSync::kFromEnvironment, 2},
        {"Name", JobResultsSync::kFromEnvironment, -1},
        {" name", JobResultsSync::kFromEnvironment, -1},
        {"fsync", JobResultsSync::kNone, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value == nullptr ? "(unset)" : c.value);
        c.value == nullptr ? unsetenv(jobresults::kSyncVariable)
                           : setenv(jobresults::kSyncVariable, c.value, 1);
        ScratchDir dir;
        CCIJobResults writer;
        ASSERT_EQ(writer.setSyncLevel(c.chosen), 1);
        ASSERT_EQ(writer.createJobResults(dir.Path() + "/jr"), 1);
        faultseam::Arm(faultseam::kSync, On(faultseam::kAnyDescriptor, Fault::kNone));
        const int added = writer.addJobResult(Numbered(0));
        EXPECT_EQ(faultseam::Calls(faultseam::kSync), c.syncs < 0 ? 0 : c.syncs);
        faultseam::DisarmAll();
        unsetenv(jobresults::kSyncVariable);
        EXPECT_EQ(added, c.syncs < 0 ? 0 : 1) << writer.m_sErrorMsg;
        if (c.syncs >= 0) continue;
        EXPECT_EQ(writer.m_nErrno, EINVAL);
        EXPECT_EQ(writer.m_sErrorMsg, std::string("Invalid CIJOBRESULTS_SYNC = ") + c.value +
                                          " in the environment: the sync level is none, name "
                                          "or append.");
        EXPECT_TRUE(dir.Entries().empty());
    }
    CCIJobResults writer;
    EXPECT_EQ(writer.setSyncLevel(static_cast<JobResultsSync>(7)), 0);
    EXPECT_EQ(writer.m_nErrno, EINVAL);
}

// A sync that fails at any point where a level makes one: the call that met
// it returns 0 with the errno, the writer goes on in a new file, and the
// files hold exactly the records acknowledged, in order.
TEST(StoreSyncLevels, FailedSyncAtEveryPointKeepsExactlyTheAcknowledged) {
    for (const JobResultsSync level : {JobResultsSync::kName, JobResultsSync::kAppend}) {
        for (int failing = 0;; ++failing) {
            SCOPED_TRACE(std::string(jobresults::SyncLevelName(level)) + ", sync " +
                         std::to_string(failing));
            ScratchDir dir;
            const std::string dirName = dir.Path() + "/jr";
            std::vector<JobResults> acknowledged;
            int failures = 0;
            {
                CCIJobResults writer;
                ASSERT_EQ(writer.setSyncLevel(level), 1);
                ASSERT_EQ(writer.createJobResults(dirName), 1);
                faultseam::Arm(faultseam::kSync,
                               On(faultseam::kAnyDescriptor, Fault::kError, failing));
                const auto count = [&](int result) {
                    if (result == 1) return;
                    ++failures;
                    EXPECT_EQ(writer.m_sErrorMsg, "Failed to sync job results file to disk.");
                    EXPECT_EQ(writer.m_nErrno, EIO);
                };
                for (int index = 0; index < 8; ++index) {
                    const JobResults record = Numbered(index);
                    const int added = writer.addJobResult(record);
                    if (added == 1) acknowledged.push_back(record);
                    count(added);
                    if (index % 2 == 1) count(writer.syncJobResults());
                }
                count(writer.saveJobResults());
                faultseam::DisarmAll();
            }
            const std::vector<JobResults> found = RecordsOfAllFiles(dir, dirName);
            ASSERT_EQ(found.size(), acknowledged.size());
            for (size_t i = 0; i < found.size(); ++i)
                EXPECT_TRUE(storetest::SameRecord(found[i], acknowledged[i]));
            if (failures == 0) break;  // past the last sync the writer makes
            EXPECT_EQ(failures, 1);
        }
    }
}

}  // namespace
