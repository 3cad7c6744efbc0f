// File naming: whole paths, argument pairs, creation times, host locations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jrtool/Files.h"
#include "jrtool/Output.h"

namespace jobresults {
namespace {

TEST(FilePath, WholePathSplitsAtTheLastBackslash) {
    const auto file = SplitWholePath("/var/ci/a\\b\\ci_push_1700000000.xml");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->dirName, "/var/ci/a\\b");
    EXPECT_EQ(file->fileName, "ci_push_1700000000.xml");
    EXPECT_EQ(file->WholePath(), "/var/ci/a\\b\\ci_push_1700000000.xml");
    for (const char* bad : {"no-backslash.xml", "\\ci_push_1.xml", "dir\\"}) {
        EXPECT_FALSE(SplitWholePath(bad)) << bad;
    }
}

TEST(FilePath, ArgumentsMixWholePathsAndPairs) {
    std::string error;
    const auto files = ParseFileArguments(
        {"d/r\\ci_push_1.xml", "d/r", "ci_push_2.xml", "x\\ci_push_3.xml"}, error);
    ASSERT_TRUE(files) << error;
    ASSERT_EQ(files->size(), 3u);
    EXPECT_EQ((*files)[0].dirName, "d/r");
    EXPECT_EQ((*files)[1].fileName, "ci_push_2.xml");
    EXPECT_EQ((*files)[2].WholePath(), "x\\ci_push_3.xml");

    EXPECT_FALSE(ParseFileArguments({"d/r\\ci_push_1.xml", "dangling"}, error));
    EXPECT_NE(error.find("'dangling'"), std::string::npos);
}

TEST(FilePath, SingleFileTakesTwoArgumentsAsAPair) {
    std::string error;
    const auto pair = ParseSingleFileArguments({"odd\\dir", "ci_push_1.xml"}, error);
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->dirName, "odd\\dir");
    EXPECT_FALSE(ParseSingleFileArguments({"plain.xml"}, error));
    EXPECT_FALSE(ParseSingleFileArguments({"a\\b", "c\\d", "e\\f"}, error));
}

TEST(FilePath, CreationTimeComesFromTheName) {
    EXPECT_EQ(CreationTimeFromFileName(ResultsFileName(1700000000)), 1700000000);
    EXPECT_EQ(CreationTimeFromFileName("ci_push_0.xml"), 0);
    for (const char* bad : {"ci_push_.xml", "ci_push_12a.xml", "ci_push_1.xml.bak", "other_1.xml",
                            "ci_push_1", "ci_push_-.xml", "ci_push_-5.xml"}) {
        EXPECT_FALSE(CreationTimeFromFileName(bad)) << bad;
    }
}

TEST(FilePath, UtcTimeIsIso8601) {
    EXPECT_EQ(jrtool::FormatUtcTime(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(jrtool::FormatUtcTime(1700000000), "2023-11-14T22:13:20Z");
}

TEST(FileListing, LastComponentOfTheDirectoryNameStartsTheFileName) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"demo/results", "demo", "results\\"},
        {"results", ".", "results\\"},
        {"demo/", "demo", "\\"},
        {"/jr", "/", "jr\\"},
        {"/a/b/c", "/a/b", "c\\"},
    };
    for (const auto& [dirName, directory, prefix] : cases) {
        const jobresults::HostLocation location = jobresults::LocateOnHost(dirName);
        EXPECT_EQ(location.directory, directory) << dirName;
        EXPECT_EQ(location.namePrefix, prefix) << dirName;
    }
}

}  // namespace
}  // namespace jobresults
