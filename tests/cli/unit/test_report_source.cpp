// report's arguments: where HOST=DIR splits, and where a '=' stays in DIR.
#include <gtest/gtest.h>

#include "jrtool/ReportSource.h"

namespace jrtool {
namespace {

TEST(ReportSource, SplitsOnlyAfterAHostName) {
    const struct {
        const char* argument;
        const char* host;
        const char* dirName;
    } cases[] = {
        {"/var/ci/results", "", "/var/ci/results"},
        {"web-1.example.net=/var/ci/a=b", "web-1.example.net", "/var/ci/a=b"},
        {"[::1]=d", "", "[::1]=d"},  // brackets are no host's: the whole is DIR
        {"fe80::1_x=d", "fe80::1_x", "d"},
        {"./a=b", "", "./a=b"},
        {"a b=c", "", "a b=c"},
        {"h\xC3\xA9=d", "", "h\xC3\xA9=d"},
        {"=a=b", "", "a=b"},
        {"==x", "", "=x"},
        {"h=", "h", ""},
    };
    for (const auto& c : cases) {
        const ReportSource source = ParseReportSource(c.argument);
        EXPECT_EQ(source.host, c.host) << c.argument;
        EXPECT_EQ(source.dirName, c.dirName) << c.argument;
    }
}

}  // namespace
}  // namespace jrtool
