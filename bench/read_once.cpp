// Reads one job results file once with one tool, in a process of its own,
// and prints "<nanoseconds> <records> <digest>". The parent takes the peak
// resident size from wait4. The tool "none" reads nothing: its peak is the
// baseline of an empty run with the same libraries loaded.
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/readers.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s TOOL DIR FILE-NAME  (reads DIR\\FILE-NAME)\n", argv[0]);
        return 2;
    }
    const std::string tool = argv[1];
    if (tool == "none") {
        std::printf("0 0 0\n");
        return 0;
    }
    bench::Reader reader;
    if (!bench::ReaderByName(tool, reader)) {
        std::fprintf(stderr, "unknown tool %s\n", tool.c_str());
        return 2;
    }
    const bench::JobResultsFile file{argv[2], argv[3]};
    const auto start = std::chrono::steady_clock::now();
    const bench::ReadResult result = bench::ReadAll(reader, file);
    const auto stop = std::chrono::steady_clock::now();
    if (!result.ok) {
        std::fprintf(stderr, "%s: %s\n", tool.c_str(), result.error.c_str());
        return 1;
    }
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(stop - start).count();
    std::printf("%lld %llu %llu\n", ns, static_cast<unsigned long long>(result.digest.records),
                static_cast<unsigned long long>(result.digest.hash));
    return 0;
}
