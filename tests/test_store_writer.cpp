// The writing side of the store: messages and states of every failure, file
// creation without overwriting, saving, and the destructor.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/store_files.h"

namespace {

using storetest::ReadWholeFile;
using storetest::ScratchDir;

TEST(StoreWriter, CreateRejectsEmptyNameAndAppendsOtherwise) {
    CCIJobResults store;
    EXPECT_EQ(store.createJobResults(""), 0);
    EXPECT_EQ(store.m_sErrorMsg, "Invalid directory name =  received from caller.");
    EXPECT_EQ(store.m_sDirName, "");
    EXPECT_EQ(store.m_sFileName, "");
    EXPECT_EQ(store.m_nErrno, 0);

    EXPECT_EQ(store.createJobResults("/data"), 1);
    EXPECT_EQ(store.createJobResults("/jr"), 1);
    EXPECT_EQ(store.m_sDirName, "/data/jr");
    EXPECT_EQ(store.m_sFileName, storetest::kBaseName);
    // A failure's text stays after later successes.
    EXPECT_EQ(store.m_sErrorMsg, "Invalid directory name =  received from caller.");
}

TEST(StoreWriter, AppendRefusalsNameTheirCause) {
    struct Case {
        std::string dirName;
        std::string fileName;
        int handle;
        bool headerWritten;
        std::string message;
    };
    const int spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(spare, 0);
    const std::vector<Case> cases = {
        {"", "", -1, false, "Directory name =  not set in addJobResults()."},
        {"/nowhere", "", -1, false, "File name =  not set in addJobResults()."},
        {"/nowhere", storetest::kBaseName, spare, false,
         "Invalid state. Internal state indicates that file is not open but file handle is "
         "valid."},
        {"/nowhere", storetest::kBaseName, -1, true, "Job results file handle is invalid."},
    };
    for (const Case& c : cases) {
        CCIJobResults store;
        store.m_sDirName = c.dirName;
        store.m_sFileName = c.fileName;
        store.m_nFileHandle = c.handle;
        store.m_bHeaderWritten = c.headerWritten;
        store.m_nErrno = 77;
        EXPECT_EQ(store.addJobResult(storetest::SampleRecord(1)), 0);
        EXPECT_EQ(store.m_sErrorMsg, c.message);
        EXPECT_EQ(store.m_nErrno, 77);
        store.m_nFileHandle = -1;  // the spare is not the store's to close
        store.m_bHeaderWritten = false;
    }
    close(spare);
}

// A value holding a tag of the format's own elements or a NUL byte is refused before
// anything is written; near misses, which read back as written, are not.
TEST(StoreWriter, RefusesValuesHoldingTheFormatsTagsOrNul) {
    struct Case {
        std::string JobResults::*field;
        const char* name;
        std::string value;
        bool refused;
    };
    const std::vector<Case> cases = {
        {&JobResults::ClientName, "ClientName", "a</ClientName>b", true},
        {&JobResults::Url, "Url", "/x</JobResult>", true},
        {&JobResults::BackupJobId, "BackupJobId", "</Root>", true},
        {&JobResults::ErrorString, "ErrorString", "see <JobResult>", true},
        {&JobResults::Url, "Url", "<Size />", true},
        {&JobResults::ClientName, "ClientName", std::string("a\0b", 3), true},
        {&JobResults::BackupJobId, "BackupJobId", "\x01\x1f\x7f", false},
        {&JobResults::ErrorString, "ErrorString", "</Url > <Url/> </url> <Root x>", false},
    };
    ScratchDir dir;
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
    for (const Case& c : cases) {
        JobResults record = storetest::SampleRecord(1);
        record.*c.field = c.value;
        store.m_nErrno = 0;
        EXPECT_EQ(store.addJobResult(record), c.refused ? 0 : 1) << c.value;
        if (!c.refused) continue;
        EXPECT_EQ(store.m_nErrno, EINVAL);
        EXPECT_NE(store.m_sErrorMsg.find(c.name), std::string::npos) << store.m_sErrorMsg;
        EXPECT_EQ(dir.Entries().size(), 0u) << "a refused first record creates no file";
    }
    const std::string before = storetest::ReadWholeFile(storetest::CreatedFile(dir, "jr"));
    JobResults record = storetest::SampleRecord(2);
    record.Url = "</Url>";
    EXPECT_EQ(store.addJobResult(record), 0);
    EXPECT_EQ(storetest::ReadWholeFile(storetest::CreatedFile(dir, "jr")), before);
}

TEST(StoreWriter, FreshObjectCreatesNothing) {
    ScratchDir dir;
    {
        CCIJobResults store;
        EXPECT_EQ(store.addJobResult(storetest::SampleRecord(1)), 0);
        EXPECT_EQ(store.saveJobResults(), 1);
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(StoreWriter, CreationFailureNamesThePathAndKeepsErrno) {
    CCIJobResults store;
    store.m_nErrno = 5;
    ASSERT_EQ(store.createJobResults("/nonexistent/jr"), 1);
    const long long before = static_cast<long long>(std::time(nullptr));
    EXPECT_EQ(store.addJobResult(storetest::SampleRecord(1)), 0);
    const long long after = static_cast<long long>(std::time(nullptr));
    bool named = false;
    for (long long seconds = before; seconds <= after; ++seconds) {
        named |= store.m_sErrorMsg == "Failed to create job results file " +
                                          storetest::CreatedName("/nonexistent/jr", seconds) +
                                          " for writing jobs results data.";
    }
    EXPECT_TRUE(named) << store.m_sErrorMsg;
    EXPECT_EQ(store.m_nErrno, 5);
    EXPECT_FALSE(store.m_bHeaderWritten);
    EXPECT_EQ(store.m_nFileHandle, -1);
}

TEST(StoreWriter, FirstAppendLeavesPositionOnTrailerAndModeFromUmask) {
    ScratchDir dir;
    const mode_t previous = umask(027);
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
    ASSERT_EQ(store.addJobResult(storetest::SampleRecord(1)), 1);
    umask(previous);
    EXPECT_TRUE(store.m_bHeaderWritten);
    const std::string path = storetest::CreatedFile(dir, "jr");
    const std::string bytes = ReadWholeFile(path);
    EXPECT_TRUE(storetest::EndsUnsaved(bytes));
    EXPECT_EQ(lseek64(store.m_nFileHandle, 0, SEEK_CUR), storetest::TrailerStart(bytes));
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);  // 0644 under the umask 027
    EXPECT_NE(fcntl(store.m_nFileHandle, F_GETFD) & FD_CLOEXEC, 0);
}

TEST(StoreWriter, NeverOverwritesAnExistingFile) {
    ScratchDir dir;
    const long long now = static_cast<long long>(std::time(nullptr));
    for (long long seconds = now - 1; seconds <= now + 3; ++seconds) {
        storetest::WriteWholeFile(storetest::CreatedName(dir.Path() + "/jr", seconds), "precious");
    }
    // Two stores in the same second, each with a file of its own.
    CCIJobResults first;
    CCIJobResults second;
    ASSERT_EQ(first.createJobResults(dir.Path() + "/jr"), 1);
    ASSERT_EQ(second.createJobResults(dir.Path() + "/jr"), 1);
    ASSERT_EQ(first.addJobResult(storetest::SampleRecord(1)), 1);
    ASSERT_EQ(second.addJobResult(storetest::SampleRecord(2)), 1);
    // Each store names its own file, past the taken seconds, until the save.
    const std::string paths[] = {first.getJobResultsFilePath(), second.getJobResultsFilePath()};
    EXPECT_NE(paths[0], paths[1]);
    for (const std::string& path : paths) {
        EXPECT_GT(storetest::CreatedSeconds(path.substr(dir.Path().size() + 1), "jr"), now + 3);
        EXPECT_EQ(storetest::ReadAllRecords(dir.Path() + "/jr", storetest::ReaderName(path))
                      .records.size(),
                  1u);
    }
    ASSERT_EQ(first.saveJobResults(), 1);
    ASSERT_EQ(second.saveJobResults(), 1);
    EXPECT_EQ(first.getJobResultsFilePath(), "");

    int precious = 0;
    std::vector<std::string> created;
    for (const std::string& name : dir.Entries()) {
        const std::string bytes = ReadWholeFile(dir.Path() + "/" + name);
        if (bytes == "precious") {
            ++precious;
        } else {
            created.push_back(name);
        }
    }
    EXPECT_EQ(precious, 5);
    ASSERT_EQ(created.size(), 2u);
    for (const std::string& name : created) {
        EXPECT_GT(storetest::CreatedSeconds(name, "jr"), now + 3) << name;
    }
}

TEST(StoreWriter, GivesUpAfterBoundedAttemptsWithTheLastPathTried) {
    ScratchDir dir;
    const long long now = static_cast<long long>(std::time(nullptr));
    const std::string dirName = dir.Path() + "/jr";
    for (long long seconds = now; seconds <= now + 1100; ++seconds) {
        storetest::WriteWholeFile(storetest::CreatedName(dirName, seconds), "");
    }
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
    const long long before = static_cast<long long>(std::time(nullptr));
    EXPECT_EQ(store.addJobResult(storetest::SampleRecord(1)), 0);
    const long long after = static_cast<long long>(std::time(nullptr));
    ASSERT_LE(after, now + 1100 - 1023) << "too slow to take every name";
    // 1024 names, from the second of the call on, all taken.
    bool lastTried = false;
    for (long long seconds = before; seconds <= after; ++seconds) {
        lastTried |= store.m_sErrorMsg == "Failed to create job results file " +
                                              storetest::CreatedName(dirName, seconds + 1023) +
                                              " for writing jobs results data.";
    }
    EXPECT_TRUE(lastTried) << store.m_sErrorMsg;
    EXPECT_EQ(dir.Entries().size(), 1101u);
    EXPECT_FALSE(store.m_bHeaderWritten);
}

TEST(StoreWriter, SaveFinishesOnceAndLaterAppendsStartNewFiles) {
    ScratchDir dir;
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
    ASSERT_EQ(store.addJobResult(storetest::SampleRecord(1)), 1);
    ASSERT_EQ(store.addJobResult(storetest::SampleRecord(2)), 1);
    ASSERT_EQ(store.saveJobResults(), 1);
    EXPECT_TRUE(store.m_bSaved);
    EXPECT_FALSE(store.m_bHeaderWritten);
    EXPECT_EQ(store.m_nFileHandle, -1);
    const std::string firstPath = storetest::CreatedFile(dir, "jr");
    const std::string saved = ReadWholeFile(firstPath);
    EXPECT_TRUE(storetest::EndsSaved(saved));
    EXPECT_EQ(store.saveJobResults(), 1);
    EXPECT_EQ(ReadWholeFile(firstPath), saved);

    // save, append, save: the second file is finished like the first.
    for (int round = 2; round <= 3; ++round) {
        ASSERT_EQ(store.addJobResult(storetest::SampleRecord(round)), 1) << store.m_sErrorMsg;
        ASSERT_EQ(store.saveJobResults(), 1);
        ASSERT_EQ(dir.Entries().size(), static_cast<size_t>(round));
    }
    for (const std::string& name : dir.Entries()) {
        const std::string bytes = ReadWholeFile(dir.Path() + "/" + name);
        EXPECT_TRUE(storetest::EndsSaved(bytes)) << name;
        const storetest::ReadBack back =
            storetest::ReadAllRecords(dir.Path() + "/jr", storetest::ReaderName(name));
        EXPECT_EQ(back.openResult, 1);
        EXPECT_FALSE(back.records.empty());
    }
}

TEST(StoreWriter, SaveWithHeaderFlagButNoHandleFails) {
    CCIJobResults store;
    store.m_bHeaderWritten = true;
    EXPECT_EQ(store.saveJobResults(), 0);
    EXPECT_EQ(store.m_sErrorMsg, "Job Results file handle is invalid.");
    store.m_bHeaderWritten = false;
}

TEST(StoreWriter, DestructorSavesAndReleasesTheDescriptor) {
    ScratchDir dir;
    const int descriptors = storetest::OpenDescriptorCount();
    {
        CCIJobResults store;
        ASSERT_EQ(store.createJobResults(dir.Path() + "/jr"), 1);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(store.addJobResult(storetest::SampleRecord(i)), 1);
        EXPECT_EQ(storetest::OpenDescriptorCount(), descriptors + 1);
    }
    EXPECT_EQ(storetest::OpenDescriptorCount(), descriptors);
    const std::string path = storetest::CreatedFile(dir, "jr");
    EXPECT_TRUE(storetest::EndsSaved(ReadWholeFile(path)));
    const storetest::ReadBack back =
        storetest::ReadAllRecords(dir.Path() + "/jr", storetest::ReaderName(path));
    ASSERT_EQ(back.records.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(storetest::SameRecord(back.records[static_cast<size_t>(i)],
                                          storetest::SampleRecord(i)));
}

TEST(StoreWriter, DirectoryNameEndingInSlashGetsTheBackslashToo) {
    ScratchDir dir;
    CCIJobResults store;
    ASSERT_EQ(store.createJobResults(dir.Path() + "/"), 1);
    ASSERT_EQ(store.addJobResult(storetest::SampleRecord(1)), 1);
    ASSERT_EQ(store.saveJobResults(), 1);
    const std::vector<std::string> names = dir.Entries();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_GE(storetest::CreatedSeconds(names[0], ""), 0) << names[0];
}

}  // namespace
