// The writer's sync levels: the level taken from the environment, and a
// failing sync at every point where one is made: the call that met it
// returns 0, and the files then hold exactly the records acknowledged, each
// file readable. What a power loss leaves at each level, and so the order
// of the syncs, is judged by the crash-state simulator (bench/crashsim).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/posix_fault_seam.h"
#include "support/store_files.h"

namespace {

using storetest::ScratchDir;

const char kSyncFailed[] = "Failed to sync job results file to disk.";

// A small record, or one whose append spans pages (written in two steps).
JobResults Record(int index, bool large = false) {
    JobResults record = storetest::SampleRecord(index);
    if (large) record.Url.append(9000, 'u');
    return record;
}

// Every record of every file the writer made for dirName, files in the
// order of their names (the creation seconds).
std::vector<JobResults> RecordsOfAllFiles(const ScratchDir& dir, const std::string& dirName) {
    std::vector<std::string> names = dir.Entries();
    std::sort(names.begin(), names.end());
    std::vector<JobResults> records;
    for (const std::string& name : names) {
        const storetest::ReadBack back =
            storetest::ReadAllRecords(dirName, storetest::ReaderName(dir.Path() + "/" + name));
        EXPECT_EQ(back.openResult, 1) << name << ": " << back.errorMsg;
        EXPECT_EQ(back.lastResult, 0) << name << ": " << back.errorMsg;
        records.insert(records.end(), back.records.begin(), back.records.end());
    }
    return records;
}

// The environment chooses the level of each new file unless the program
// chose one; a word it does not know refuses the append before anything is
// made.
TEST(StoreSync, EnvironmentChoosesTheLevelOfANewFile) {
    const struct {
        const char* value;
        JobResultsSync chosen;
        const char* firstAppend;  // nullptr: refused
    } cases[] = {
        {nullptr, JobResultsSync::kFromEnvironment, "wdlf"},
        {"", JobResultsSync::kFromEnvironment, "wdlf"},
        {"none", JobResultsSync::kFromEnvironment, "wl"},
        {"append", JobResultsSync::kFromEnvironment, "wdlf"},
        {"Name", JobResultsSync::kFromEnvironment, nullptr},
        {" name", JobResultsSync::kFromEnvironment, nullptr},
        {"fsync", JobResultsSync::kNone, "wl"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value == nullptr ? "(unset)" : c.value);
        c.value == nullptr ? unsetenv(jobresults::kSyncVariable)
                           : setenv(jobresults::kSyncVariable, c.value, 1);
        ScratchDir dir;
        CCIJobResults writer;
        ASSERT_EQ(writer.setSyncLevel(c.chosen), 1);
        ASSERT_EQ(writer.createJobResults(dir.Path() + "/jr"), 1);
        faultseam::LogEvents();
        const int added = writer.addJobResult(Record(0));
        const std::string events = faultseam::Seam().events;
        faultseam::DisarmAll();
        unsetenv(jobresults::kSyncVariable);
        EXPECT_EQ(events, c.firstAppend == nullptr ? "" : c.firstAppend);
        EXPECT_EQ(added, c.firstAppend == nullptr ? 0 : 1) << writer.m_sErrorMsg;
        if (c.firstAppend != nullptr) continue;
        EXPECT_EQ(writer.m_nErrno, EINVAL);
        EXPECT_EQ(writer.m_sErrorMsg, std::string("Invalid CIJOBRESULTS_SYNC = ") + c.value +
                                          " in the environment: the sync level is none, name "
                                          "or append.");
        EXPECT_TRUE(dir.Entries().empty());
    }
}

// A sync that fails at any point where a level makes one: the call that met
// it returns 0 with the errno, the writer goes on in a new file, and the
// files hold exactly the records acknowledged, in order.
TEST(StoreSync, FailedSyncAtEveryPointKeepsExactlyTheAcknowledged) {
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
                faultseam::Rule rule;
                rule.fd = faultseam::kAnyDescriptor;
                rule.fault = faultseam::Fault::kError;
                rule.skip = failing;
                rule.times = 1;
                faultseam::Arm(faultseam::kSync, rule);
                const auto count = [&](int result) {
                    if (result == 1) return;
                    ++failures;
                    EXPECT_EQ(writer.m_sErrorMsg, kSyncFailed);
                    EXPECT_EQ(writer.m_nErrno, EIO);
                };
                for (int index = 0; index < 6; ++index) {
                    const JobResults record = Record(index, index % 3 == 2);
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
            for (size_t i = 0; i < found.size(); ++i) {
                EXPECT_TRUE(storetest::SameRecord(found[i], acknowledged[i])) << i;
            }
            if (failures == 0) break;  // past the last sync the writer makes
            EXPECT_EQ(failures, 1);
        }
    }
}

}  // namespace
