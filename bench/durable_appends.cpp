// What each sync level costs per record on the disk that holds DIR, against
// SQLite's one-row transactions in WAL mode (synchronous NORMAL and FULL).
// Each way writes COUNT records into a fresh file, in RUNS rounds; the table
// gives the median, minimum and maximum time per record. DIR must be on a
// real disk: on tmpfs a sync costs nothing.
//
//   durable_appends DIR [COUNT [RUNS]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/workloads.h"
#include "jobresults/cijobresults.h"

namespace {

using Clock = std::chrono::steady_clock;

// Appends records at `level`, syncing after every `group` records when
// group > 0 (a group commit at level name); the save is included. With
// laterOnly the clock starts behind the first append, which makes the file.
bool AppendAt(const std::string& dir, const std::vector<JobResults>& records, JobResultsSync level,
              std::size_t group, bool laterOnly, Clock::time_point& start, std::string& error) {
    CCIJobResults writer;
    writer.setSyncLevel(level);
    writer.createJobResults(dir + "/jr");
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (laterOnly && i == 1) start = Clock::now();
        const bool groupEnds = group > 0 && ((i + 1) % group == 0 || i + 1 == records.size());
        if (writer.addJobResult(records[i]) != 1 || (groupEnds && writer.syncJobResults() != 1)) {
            error = writer.m_sErrorMsg;
            return false;
        }
    }
    if (writer.saveJobResults() == 1) return true;
    error = writer.m_sErrorMsg;
    return false;
}

struct Way {
    const char* name;
    // Runs the way; may move the start of the clock.
    std::function<bool(const std::string&, const std::vector<JobResults>&, Clock::time_point&,
                       std::string&)>
        run;
};

struct Figures {
    double median, low, high;  // microseconds per record
};

// Microseconds per record of one run of `way` in a fresh directory.
double RunOnce(const Way& way, const std::string& base, const std::vector<JobResults>& records) {
    const std::string dir = base + "/run";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string error;
    auto start = Clock::now();
    if (!way.run(dir, records, start, error)) {
        std::fprintf(stderr, "%s: %s\n", way.name, error.c_str());
        std::exit(1);
    }
    const std::chrono::duration<double, std::micro> took = Clock::now() - start;
    std::filesystem::remove_all(dir);
    return took.count() / static_cast<double>(records.size());
}

Figures Summary(std::vector<double> perRecord) {
    std::sort(perRecord.begin(), perRecord.end());
    return {perRecord[perRecord.size() / 2], perRecord.front(), perRecord.back()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [COUNT [RUNS]]\n", argv[0]);
        return 2;
    }
    const std::string base = argv[1];
    const std::uint64_t count = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 200;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::vector<JobResults> records = bench::MakeRecords(count);
    const auto level = [](JobResultsSync sync, std::size_t group, bool laterOnly = false) {
        return [=](const std::string& dir, const std::vector<JobResults>& all,
                   Clock::time_point& start, std::string& error) {
            return AppendAt(dir, all, sync, group, laterOnly, start, error);
        };
    };
    const auto sqlite = [](const char* synchronous) {
        return [synchronous](const std::string& dir, const std::vector<JobResults>& all,
                             Clock::time_point&, std::string& error) {
            return bench::AppendSqlite(dir + "/db", all, error, synchronous);
        };
    };
    const Way ways[] = {
        {"level none", level(JobResultsSync::kNone, 0)},
        {"level none, appends after the first", level(JobResultsSync::kNone, 0, true)},
        {"level name", level(JobResultsSync::kName, 0)},
        {"level name, appends after the first", level(JobResultsSync::kName, 0, true)},
        {"level append", level(JobResultsSync::kAppend, 0)},
        {"group commit of 16 (name + sync)", level(JobResultsSync::kName, 16)},
        {"group commit of 1000 (name + sync)", level(JobResultsSync::kName, 1000)},
        {"SQLite WAL, synchronous=NORMAL", sqlite("NORMAL")},
        {"SQLite WAL, synchronous=FULL", sqlite("FULL")},
    };
    // Rounds of every way in turn, so that a disk that slows down or speeds
    // up during the run weighs on all of them alike.
    constexpr std::size_t kWays = sizeof ways / sizeof ways[0];
    std::vector<std::vector<double>> perRecord(kWays);
    for (int run = 0; run < runs; ++run) {
        for (std::size_t i = 0; i < kWays; ++i) {
            perRecord[i].push_back(RunOnce(ways[i], base, records));
        }
    }
    std::vector<Figures> figures;
    for (auto& times : perRecord) figures.push_back(Summary(std::move(times)));
    const double full = figures[kWays - 1].median;
    const double normal = figures[kWays - 2].median;
    std::printf("%llu records a run, %d runs, microseconds per record\n\n",
                static_cast<unsigned long long>(count), runs);
    std::printf("| way | median | min | max | / SQLite FULL | / SQLite NORMAL |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figures& f = figures[i];
        std::printf("| %s | %.1f | %.1f | %.1f | %.2f | %.2f |\n", ways[i].name, f.median, f.low,
                    f.high, f.median / full, f.median / normal);
    }
    return 0;
}
