// Reads one job results file with one tool, in a process of its own, and
// prints "<ns> <records> <digest> <warm-ns> <peak-kB>": the time of the
// first pass (fresh: nothing of the tool's in the heap yet), the median time
// of the passes after it (warm: the same process, its heap as the tool left
// it, no other tool's allocations in between), and the peak resident size
// after the first pass. The tool "none" reads nothing: its peak is the
// baseline of an empty run with the same libraries loaded.
//
//   read_once TOOL DIR FILE-NAME [PASSES]      (reads DIR\FILE-NAME)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/readers.h"

namespace {

// The process's peak resident size so far, from /proc/self/status.
long PeakKilobytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long peak = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %ld kB", &peak) == 1) break;
    }
    std::fclose(status);
    return peak;
}

long long TimedPass(const bench::Reader reader, const bench::JobResultsFile& file,
                    bench::ReadResult& result) {
    const auto start = std::chrono::steady_clock::now();
    result = bench::ReadAll(reader, file);
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(stop - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s TOOL DIR FILE-NAME [PASSES]  (reads DIR\\FILE-NAME)\n",
                     argv[0]);
        return 2;
    }
    const std::string tool = argv[1];
    if (tool == "none") {
        std::printf("0 0 0 0 %ld\n", PeakKilobytes());
        return 0;
    }
    bench::Reader reader;
    if (!bench::ReaderByName(tool, reader)) {
        std::fprintf(stderr, "unknown tool %s\n", tool.c_str());
        return 2;
    }
    const int passes = argc == 5 ? std::max(1, std::atoi(argv[4])) : 1;
    const bench::JobResultsFile file{argv[2], argv[3]};
    bench::ReadResult first;
    const long long freshNs = TimedPass(reader, file, first);
    const long peak = PeakKilobytes();
    std::vector<long long> later;
    for (int pass = 1; pass < passes && first.ok; ++pass) {
        bench::ReadResult again;
        later.push_back(TimedPass(reader, file, again));
        if (!again.ok || !(again.digest == first.digest)) {
            std::fprintf(stderr, "%s: pass %d delivered other records\n", tool.c_str(), pass + 1);
            return 1;
        }
    }
    if (!first.ok) {
        std::fprintf(stderr, "%s: %s\n", tool.c_str(), first.error.c_str());
        return 1;
    }
    std::sort(later.begin(), later.end());
    const size_t mid = later.size() / 2;
    const long long warmNs = later.empty()           ? 0
                             : later.size() % 2 == 1 ? later[mid]
                                                     : (later[mid - 1] + later[mid]) / 2;
    std::printf("%lld %llu %llu %lld %ld\n", freshNs,
                static_cast<unsigned long long>(first.digest.records),
                static_cast<unsigned long long>(first.digest.hash), warmNs, peak);
    return 0;
}
