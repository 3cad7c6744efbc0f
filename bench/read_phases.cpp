// Splits our read into its three phases, per record: openJobResults, the
// getNextJobResult calls, and destroying the reader. Passes run in one
// process, so from the second on the heap is warm.
//
//   read_phases DIR FILE-NAME [PASSES]     (reads DIR\FILE-NAME)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "jobresults/cijobresults.h"

namespace {

using Clock = std::chrono::steady_clock;

double Nanoseconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::nano>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIR FILE-NAME [PASSES]\n", argv[0]);
        return 2;
    }
    const int passes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    double open = 0, next = 0, release = 0;
    unsigned long long records = 0, checksum = 0;
    for (int pass = 0; pass < passes; ++pass) {
        const auto start = Clock::now();
        auto reader = std::make_unique<CCIJobResults>();
        if (reader->openJobResults(argv[1], argv[2]) != 1) {
            std::fprintf(stderr, "%s\n", reader->m_sErrorMsg.c_str());
            return 1;
        }
        const auto opened = Clock::now();
        JobResults record;
        for (int status = 1; status == 1;) {
            status = reader->getNextJobResult(record);
            if (status < 0) break;
            checksum += record.Size + record.Url.size();
            ++records;
        }
        const auto read = Clock::now();
        reader.reset();
        const auto released = Clock::now();
        open += Nanoseconds(start, opened);
        next += Nanoseconds(opened, read);
        release += Nanoseconds(read, released);
    }
    if (records == 0) return 1;
    const double n = static_cast<double>(records);
    std::printf(
        "ns per record: open %.1f  next %.1f  destroy %.1f  total %.1f  (%llu records, %llu)\n",
        open / n, next / n, release / n, (open + next + release) / n, records, checksum);
    return 0;
}
