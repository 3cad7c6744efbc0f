// Appends the generated records 0 .. COUNT-1 with CCIJobResults into a new
// file in the empty directory DIR, in a process of its own, and prints
// "<ns> <path>": the time of the append loop with the save. The reference
// for appends from other languages (bench/python_bench.py).
//
//   append_once DIR COUNT
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/workloads.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIR COUNT\n", argv[0]);
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[2], nullptr, 10);
    const std::vector<JobResults> records = bench::MakeRecords(count);
    std::string path;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    const bool written = bench::AppendOurs(argv[1], records, path, error);
    const auto stop = std::chrono::steady_clock::now();
    if (!written) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%lld %s\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(stop - start).count()),
                path.c_str());
    return 0;
}
