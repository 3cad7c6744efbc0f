// The figures of one benchmark run, the table that bench/run prints, and
// the data file behind the read-throughput plot.
#ifndef CIJOBRESULTS_BENCH_TABLE_H
#define CIJOBRESULTS_BENCH_TABLE_H

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace bench {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// Times are medians in seconds; kMissing where nothing was measured.
struct ReadRow {
    std::string tool;
    double fresh = kMissing;      // first pass in a new process
    double warm = kMissing;       // repeated passes in one process
    double peakBytes = kMissing;  // peak resident size above an empty run
    std::string error;
};

struct ReadBlock {
    std::uint64_t records = 0;
    std::uint64_t fileBytes = 0;
    std::vector<ReadRow> rows;
};

struct AppendBlock {
    std::uint64_t records = 0;
    double ours = kMissing;
    double floor = kMissing;
    double sqlite = kMissing;
};

struct Results {
    std::string context;    // machine, compiler, repetitions
    std::string selfCheck;  // generator against the writer
    bool selfCheckOk = false;
    std::vector<ReadBlock> reads;
    std::vector<AppendBlock> appends;
    std::uint64_t scanBytes = 0;
    std::uint64_t scanElements = 0;
    double scanOurs = kMissing;
    double scanFloor = kMissing;
    double scanOursNewList = kMissing;  // into a new list each time
    std::uint64_t treeBytes = 0;
    std::uint64_t treeElements = 0;
    double treeBuildOurs = kMissing;
    double treeBuildPugixml = kMissing;
    double treeRenderOurs = kMissing;
    double treeRenderPugixml = kMissing;
    std::vector<std::string> errors;
};

void PrintTable(const Results& results, std::ostream& out);

// One line per file size: records, MB, then fresh and warm MB/s per tool.
void WritePlotData(const Results& results, std::ostream& out);

}  // namespace bench

#endif  // CIJOBRESULTS_BENCH_TABLE_H
