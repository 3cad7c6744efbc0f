// What the library tells of a file for people: the line that holds a byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "jobresults/JobResultsFiles.h"
#include "support/scratch.h"

namespace {

TEST(StoreFiles, LineOfOffsetCountsTheLineBreaksInFrontOfTheByte) {
    testsupport::ScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.Path() + "/f";
    // Longer than one read, so that the count goes on across reads.
    const std::string bytes = "a\nb\n\n" + std::string(70000, 'x') + "\nz";
    ASSERT_TRUE(testsupport::WriteWholeFile(path, bytes));
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, 7, SEEK_SET), 7);
    const struct {
        std::uint64_t offset;
        int failure;
        std::uint64_t line;
    } cases[] = {{0, 0, 1},
                 {1, 0, 1},
                 {2, 0, 2},
                 {4, 0, 3},
                 {5, 0, 4},
                 {bytes.size() - 1, 0, 5},
                 {bytes.size(), 0, 5},
                 {bytes.size() + 1, ESPIPE, 0}};
    for (const auto& c : cases) {
        std::uint64_t byPath = 0, byDescriptor = 0;
        EXPECT_EQ(jobresults::LineOfOffset(path, c.offset, byPath), c.failure) << c.offset;
        EXPECT_EQ(jobresults::LineOfOffset(fd, c.offset, byDescriptor), c.failure) << c.offset;
        if (c.failure != 0) continue;
        EXPECT_EQ(byPath, c.line) << c.offset;
        EXPECT_EQ(byDescriptor, c.line) << c.offset;
    }
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 7);
    close(fd);
    std::uint64_t line = 0;
    EXPECT_EQ(jobresults::LineOfOffset(dir.Path(), 0, line), EISDIR);
    ASSERT_EQ(mkfifo((dir.Path() + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(jobresults::LineOfOffset(dir.Path() + "/fifo", 0, line), EINVAL);
    EXPECT_EQ(jobresults::LineOfOffset(dir.Path() + "/missing", 0, line), ENOENT);
}

}  // namespace
