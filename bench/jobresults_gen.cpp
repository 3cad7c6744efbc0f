// Writes job results files of generated records, byte for byte what the
// store's writer produces for the same records and a save.
//
//   jobresults_gen COUNT PATH     writes COUNT records to PATH
//   jobresults_gen --self-check   writes records through CCIJobResults in a
//                                 scratch directory and compares the bytes
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/records.h"
#include "bench/selfcheck.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--self-check") {
        std::string report;
        const bool same = bench::GeneratorMatchesWriter(report);
        std::printf("%s\n", report.c_str());
        return same ? 0 : 1;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s COUNT PATH | --self-check\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!bench::WriteJobResultsFile(argv[2], std::strtoull(argv[1], nullptr, 10), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
