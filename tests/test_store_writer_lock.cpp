// A writer is known to be alive by its lock, which dies with its process;
// a file whose writer is gone is closed with its records kept.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "jobresults/JobResultsWriterState.h"
#include "support/posix_fault_seam.h"
#include "support/store_files.h"

namespace {

using jobresults::CloseOutcome;
using storetest::ReadWholeFile;
using storetest::ScratchDir;
using storetest::WriteWholeFile;

// A child process that writes two records, tells the file's path through
// the pipe and waits to be killed, its file open.
pid_t StartWriter(const std::string& dirName, std::string& path) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        CCIJobResults writer;
        writer.createJobResults(dirName);
        writer.addJobResult(storetest::SampleRecord(0));
        writer.addJobResult(storetest::SampleRecord(1));
        const std::string created = writer.getJobResultsFilePath() + "\n";
        if (write(pipeFds[1], created.data(), created.size()) < 0) _exit(1);
        for (;;) pause();
    }
    close(pipeFds[1]);
    char buffer[4096];
    const ssize_t count = read(pipeFds[0], buffer, sizeof buffer);
    close(pipeFds[0]);
    if (count > 1) path.assign(buffer, static_cast<size_t>(count) - 1);
    return child;
}

// Lets `calls` of a kind through, then fails every later one, as if the
// process had been killed before it.
faultseam::Rule StopAfter(int calls) {
    faultseam::Rule rule;
    rule.fd = faultseam::kAnyDescriptor;
    rule.skip = calls;
    rule.times = -1;
    rule.fault = faultseam::Fault::kError;
    return rule;
}

ino_t InodeOf(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

TEST(WriterLock, AliveWhileTheWriterRunsGoneOnceItIsKilled) {
    ScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    std::string path;
    const pid_t child = StartWriter(dir.Path() + "/jr", path);
    ASSERT_GT(child, 0);
    const std::string bytes = ReadWholeFile(path);
    EXPECT_TRUE(jobresults::ProbeWriter(path).alive);
    EXPECT_EQ(jobresults::CloseLeftFile(path).outcome, CloseOutcome::kWriterAlive);
    EXPECT_EQ(ReadWholeFile(path), bytes);

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const jobresults::WriterProbe gone = jobresults::ProbeWriter(path);
    EXPECT_EQ(gone.error, 0);
    EXPECT_FALSE(gone.alive);
    const ino_t inode = InodeOf(path);
    EXPECT_EQ(jobresults::CloseLeftFile(path).outcome, CloseOutcome::kClosed);
    EXPECT_EQ(ReadWholeFile(path), bytes.substr(0, bytes.size() - 7) + "\n\n</Root>");
    EXPECT_EQ(InodeOf(path), inode);
    EXPECT_EQ(jobresults::CloseLeftFile(path).outcome, CloseOutcome::kAlreadySaved);
}

// Every ending close meets: open, an append or a save cut short at each of
// its steps, saved, damaged. Each file is a copy of a writer's open file,
// which no writer holds. Each close is first stopped, as a kill stops it,
// before each of its writes and cuts: the file then reads with the same
// records, and a second close ends it as the writer's save would have.
TEST(WriterLock, CloseStoppedAnywhereEndsEverySoundEndingAndRefusesDamage) {
    ScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    CCIJobResults writer;
    writer.createJobResults(dir.Path() + "/w");
    for (int i = 0; i < 3; ++i) writer.addJobResult(storetest::SampleRecord(i));
    const std::string open = ReadWholeFile(writer.getJobResultsFilePath());
    const std::string records = open.substr(0, open.size() - 7);  // without the trailer
    const struct {
        const char* what;
        std::string bytes;
        CloseOutcome outcome;
    } cases[] = {
        {"open", open, CloseOutcome::kClosed},
        {"tail behind the trailer", open + "<lt>\n<ClientName>\nalp", CloseOutcome::kClosed},
        {"save, first step cut", open + "t></R", CloseOutcome::kClosed},
        {"save, first step done", open + "t></Root>", CloseOutcome::kClosed},
        {"save before the cut", records + "\n\n</Root></Root>", CloseOutcome::kClosed},
        {"saved", records + "\n\n</Root>", CloseOutcome::kAlreadySaved},
        {"damaged", records.substr(0, 400) + "X" + records.substr(401) + "</Root>",
         CloseOutcome::kDamaged},
    };
    const std::string path = dir.Path() + "/c\\ci_push_1700000000.xml";
    for (const auto& c : cases) {
        for (int writes = 0; writes < 4; ++writes) {
            for (int cuts = 0; cuts < 3; ++cuts) {
                ASSERT_TRUE(WriteWholeFile(path, c.bytes));
                faultseam::Arm(faultseam::kPwrite, StopAfter(writes));
                faultseam::Arm(faultseam::kFtruncate, StopAfter(cuts));
                jobresults::CloseLeftFile(path);
                faultseam::DisarmAll();
                SCOPED_TRACE(c.what + (", stopped after " + std::to_string(writes)) + "/" +
                             std::to_string(cuts));
                const jobresults::FileCheck check = jobresults::CheckResultsFile(path);
                const jobresults::CloseResult result = jobresults::CloseLeftFile(path);
                const std::string after = ReadWholeFile(path);
                if (c.outcome != CloseOutcome::kClosed) {
                    EXPECT_EQ(result.outcome, c.outcome) << c.what;
                    EXPECT_EQ(after, c.bytes) << c.what;
                    continue;
                }
                EXPECT_TRUE(check.sound());
                EXPECT_EQ(check.records, 3u);
                EXPECT_TRUE(result.ok());
                EXPECT_EQ(after, records + "\n\n</Root>");
            }
        }
    }
}

}  // namespace
