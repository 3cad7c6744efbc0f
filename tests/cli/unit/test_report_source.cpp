// report's arguments: where HOST=DIR splits, and where a '=' stays in DIR.
#include <gtest/gtest.h>

#include "jrtool/ReportSource.h"

namespace jrtool {
namespace {

TEST(ReportSource, SplitsOnlyAfterAHostName) {
    const char* const cases[][3] = {
        // argument, host, directory name
        {"/var/ci/results", "", "/var/ci/results"},
        {"web-1.example.net=/var/ci/a=b", "web-1.example.net", "/var/ci/a=b"},
        {"[::1]=d", "", "[::1]=d"},  // brackets are no host's: the whole is DIR
        {"fe80::1_x=d", "fe80::1_x", "d"},
        {"./a=b", "", "./a=b"},
        {"h\xC3\xA9=d", "", "h\xC3\xA9=d"},
        {"=a=b", "", "a=b"},
        {"==x", "", "=x"},
        {"h=", "h", ""},
    };
    for (const auto& c : cases) {
        const ReportSource source = ParseReportSource(c[0]);
        EXPECT_EQ(source.host + "|" + source.dirName, std::string(c[1]) + "|" + c[2]) << c[0];
    }
}

}  // namespace
}  // namespace jrtool
