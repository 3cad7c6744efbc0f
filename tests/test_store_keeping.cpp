// What a program that comes back to a directory name keeps: small files of
// its own replaced whole, the files it read known by identity, and a watch
// that names the files that changed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jobresults/JobResultsProgress.h"
#include "jobresults/JobResultsReplace.h"
#include "jobresults/JobResultsWatch.h"
#include "jobresults/cijobresults.h"
#include "support/scratch.h"
#include "support/store_files.h"

namespace jobresults {
namespace {

TEST(ReplaceFile, LeavesTheNewTextOrTheOldFileAndNoTemporary) {
    testsupport::ScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.Path() + "/state", taken = dir.Path() + "/taken";
    ASSERT_EQ(mkdir(taken.c_str(), 0700), 0);
    const mode_t mask = umask(022);
    const struct {
        std::string path, text;
        ReplaceStep step;
        int error;
    } cases[] = {{path, "first", ReplaceStep::kNone, 0},
                 {path, std::string(200000, 'x'), ReplaceStep::kNone, 0},
                 {dir.Path() + "/missing/state", "x", ReplaceStep::kCreate, ENOENT},
                 {taken, "x", ReplaceStep::kWrite, EISDIR}};
    for (const auto& c : cases) {
        const ReplaceOutcome outcome = ReplaceFileDurably(c.path, c.text, 0666);
        EXPECT_EQ(outcome.step, c.step) << c.path;
        EXPECT_EQ(outcome.error, c.error) << c.path;
        EXPECT_EQ(CheckReplaceable(c.path), c.step == ReplaceStep::kCreate ? c.error : 0);
        if (c.step == ReplaceStep::kNone) {
            EXPECT_EQ(testsupport::ReadWholeFile(c.path), c.text);
        }
    }
    umask(mask);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"state", "taken"}));
}

TEST(KnownFiles, EntriesFollowIdentityNotName) {
    const auto listed = [](const char* name, std::uint64_t inode) {
        ResultsFile file;
        file.fileName = name;
        file.createdSeconds = static_cast<long long>(inode) * 10;
        file.identity.inode = inode;
        return file;
    };
    KnownFiles known;
    KnownEntry(known, listed("a", 1)).progress.size = 5;
    KnownEntry(known, listed("b", 2));
    EXPECT_EQ(KnownEntry(known, listed("a", 1)).progress.size, 5u);  // found, not made anew
    EXPECT_EQ(LookupIn(known)(listed("a", 1))->size, 5u);
    EXPECT_EQ(LookupIn(known)(listed("a", 3)), nullptr);
    KnownEntry(known, listed("a", 3));  // a later file took the name
    ASSERT_EQ(known.size(), 2u);
    EXPECT_EQ(FindByInode(known, 3)->createdSeconds, 30);
    EXPECT_EQ(FindByInode(known, 1), nullptr);
    EXPECT_TRUE(KeepListed(known, {listed("b", 2), listed("a", 3), listed("c", 4)}));
    EXPECT_FALSE(KeepListed(known, {listed("b", 2)}));
    EXPECT_EQ(known.size(), 1u);
    EXPECT_FALSE(ForgetFileName(known, "a"));
    EXPECT_TRUE(ForgetFileName(known, "b"));
    EXPECT_TRUE(known.empty());
}

TEST(WatchResultsFiles, NamesTheFilesWrittenAndTheDirectoryGoing) {
    testsupport::ScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string host = dir.Path() + "/host", dirName = host + "/results";
    ASSERT_EQ(mkdir(host.c_str(), 0700), 0);
    int fd = -1;
    EXPECT_EQ(WatchResultsFiles(dir.Path() + "/none/results", fd), ENOENT);
    EXPECT_EQ(fd, -1);
    ASSERT_EQ(WatchResultsFiles(dirName, fd), 0);
    EXPECT_EQ(ReadWatchedChanges(fd, dirName).error, EAGAIN);
    ASSERT_TRUE(testsupport::WriteWholeFile(host + "/other", "x"));
    CCIJobResults writer;
    writer.createJobResults(dirName);
    ASSERT_EQ(writer.addJobResult(storetest::SampleRecord(1)), 1);
    const std::string name = writer.getJobResultsFilePath().substr(dirName.size() + 1);
    ASSERT_TRUE(writer.saveJobResults());
    EXPECT_EQ(ReadWatchedChanges(fd, dirName).fileNames, std::vector<std::string>{name});
    dir.Clear();
    EXPECT_TRUE(ReadWatchedChanges(fd, dirName).directoryGone);
    close(fd);
}

}  // namespace
}  // namespace jobresults
