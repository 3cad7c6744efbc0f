// Crash safety: a child process appends records (some of tens of kilobytes,
// so that their writes span pages) and reports every append that returned
// 1; the parent kills it with SIGKILL at a random moment, half the time
// early, around the creation of the file. Every reported record must read
// back, in order, from a file that opens, and no file under a job results
// name may fail to open, whether or not anything was acknowledged.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/damage.h"
#include "support/store_files.h"

namespace {

using storetest::ScratchDir;

constexpr int kMaxDelayMicroseconds = 8000;
constexpr int kMaxEarlyDelayMicroseconds = 1500;
constexpr int kSavedMarker = -1;

JobResults CrashRecord(int index) {
    JobResults record;
    record.ClientName = "client-" + std::to_string(index);
    record.Url = "/jobs/" + std::to_string(index);
    if (index % 5 == 0) {
        const size_t length = 10000 + static_cast<size_t>(index) * 7919 % 50000;
        record.Url.append(length, static_cast<char>('a' + index % 26));
    }
    record.BackupJobId = std::to_string(index);
    record.ErrorString = index % 3 ? "" : "failed " + std::to_string(index);
    record.Size = 0x9E3779B97F4A7C15ull * static_cast<unsigned>(index + 1);
    return record;
}

// The child: appends until killed; with a save point, saves after that many
// records, reports it, and waits to be killed.
[[noreturn]] void RunChild(const std::string& dirName, int channel, int savePoint) {
    CCIJobResults writer;
    writer.createJobResults(dirName);
    for (int index = 0;; ++index) {
        if (index == savePoint) {
            if (writer.saveJobResults() == 1) {
                const int marker = kSavedMarker;
                if (write(channel, &marker, sizeof marker) != sizeof marker) _exit(2);
            }
            for (;;) pause();
        }
        if (writer.addJobResult(CrashRecord(index)) == 1) {
            if (write(channel, &index, sizeof index) != sizeof index) _exit(2);
        }
    }
}

struct Outcome {
    int acknowledged = 0;
    bool saved = false;
};

Outcome KillAfter(const std::string& dirName, int delayMicroseconds, int savePoint) {
    int channel[2];
    Outcome outcome;
    if (pipe(channel) != 0) return outcome;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        RunChild(dirName, channel[1], savePoint);
    }
    close(channel[1]);
    usleep(static_cast<useconds_t>(delayMicroseconds));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    int value;
    int expected = 0;
    while (read(channel[0], &value, sizeof value) == sizeof value) {
        if (value == kSavedMarker) {
            outcome.saved = true;
        } else if (value == expected) {
            ++expected;
        }
    }
    close(channel[0]);
    outcome.acknowledged = expected;
    return outcome;
}

TEST(StoreCrash, KilledWritersLoseNothingAcknowledged) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    std::uniform_int_distribution<int> delay(0, kMaxDelayMicroseconds);
    std::uniform_int_distribution<int> earlyDelay(0, kMaxEarlyDelayMicroseconds);
    std::uniform_int_distribution<int> savePoint(1, 40);
    const int kills = storetest::Repetitions(1000, 20);
    long acknowledged = 0;
    long lost = 0;
    long unopened = 0;
    int saves = 0;
    for (int kill = 0; kill < kills; ++kill) {
        ScratchDir dir;
        const int save = kill % 4 == 3 ? savePoint(random) : -1;
        const int wait = kill % 2 ? delay(random) : earlyDelay(random);
        const Outcome outcome = KillAfter(dir.Path() + "/jr", wait, save);
        acknowledged += outcome.acknowledged;
        saves += outcome.saved ? 1 : 0;
        const std::vector<std::string> names = dir.Entries();
        ASSERT_EQ(names.size(), outcome.acknowledged > 0 ? 1u : names.size());
        ASSERT_LE(names.size(), 1u);
        if (names.empty()) continue;  // killed before its first record was written
        const storetest::ReadBack back =
            storetest::ReadAllRecords(dir.Path() + "/jr", storetest::ReaderName(names[0]));
        if (back.openResult != 1) {
            ++unopened;
            lost += outcome.acknowledged;
            ADD_FAILURE() << "kill " << kill << ": " << back.errorMsg;
            continue;
        }
        size_t intact = 0;
        while (intact < back.records.size() &&
               storetest::SameRecord(back.records[intact], CrashRecord(static_cast<int>(intact)))) {
            ++intact;
        }
        // Beyond the acknowledged records only the one in flight may appear,
        // and only whole.
        EXPECT_EQ(intact, back.records.size()) << "kill " << kill;
        EXPECT_LE(back.records.size(), static_cast<size_t>(outcome.acknowledged) + 1);
        if (intact < static_cast<size_t>(outcome.acknowledged)) {
            lost += outcome.acknowledged - static_cast<long>(intact);
        }
        // A killed writer's file is no damaged file: the walk over the
        // writer's layout finds the reader's records and nothing else.
        const damagestudy::Walked walked =
            damagestudy::WalkFile(dir.Path() + "/jr", storetest::ReaderName(names[0]));
        EXPECT_FALSE(walked.Damaged()) << "kill " << kill;
        EXPECT_EQ(walked.records.size(), back.records.size()) << "kill " << kill;
        if (outcome.saved) {
            EXPECT_TRUE(
                storetest::EndsSaved(storetest::ReadWholeFile(dir.Path() + "/" + names[0])));
        }
    }
    std::cout << "crash test: kills=" << kills << " acknowledged=" << acknowledged
              << " lost=" << lost << " unopened=" << unopened << " saves=" << saves
              << " seed=" << random.Seed() << std::endl;
    ::testing::Test::RecordProperty("acknowledged", static_cast<int>(acknowledged));
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(unopened, 0);
}

}  // namespace
