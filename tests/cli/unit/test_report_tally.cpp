// report's tally against a model that keeps every record: directory names
// read one after the other, each in the order of its listing, with equal
// client names on every host and two directory names on one host.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

#include "jrtool/ReportTally.h"
#include "support/repeat.h"

namespace jrtool {
namespace {

TEST(ReportTally, NewestFailuresAndLastJobsAcrossHostsEqualAModel) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    ReportTally tally(1000000, 14);
    using Failure = std::tuple<long long, int, std::size_t>;  // created, read order, host
    std::vector<Failure> failures;
    std::map<std::pair<std::size_t, std::string>, std::pair<long long, int>> last;
    int read = 0;
    for (std::size_t source = 0; source < 4; ++source) {  // the last one, host 0's second
        const std::size_t host = source % 3;
        ASSERT_EQ(tally.AddHost("h" + std::to_string(host)), host);
        long long created = static_cast<long long>(random() % 1000);
        for (int record = 0; record < 200; ++record, ++read) {
            created += static_cast<long long>(random() % 3);  // files share seconds too
            const JobResults job{"c" + std::to_string(random() % 3), "", "",
                                 random() % 4 ? "" : "x", 1};
            tally.Add(job, {host, created, job.ClientName});
            auto& newest = last[{host, job.ClientName}];
            newest = std::max(newest, std::make_pair(created, read));
            if (!job.ErrorString.empty()) failures.emplace_back(created, read, host);
        }
    }
    std::sort(failures.begin(), failures.end());
    if (failures.size() > 50) failures.erase(failures.begin(), failures.end() - 50);
    std::vector<Failure> kept;
    for (const FailedJob& failure : tally.NewestFailures()) {
        kept.emplace_back(failure.created, static_cast<int>(failure.sequence) - 1, failure.host);
    }
    EXPECT_EQ(kept, failures);
    for (const auto& [key, moment] : last) {
        const ClientTally client = tally.ShownClients(key.first).at(key.second);
        EXPECT_EQ(std::make_pair(client.last.created, static_cast<int>(client.last.sequence) - 1),
                  moment);
    }
}

}  // namespace
}  // namespace jrtool
