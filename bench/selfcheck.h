// Checks that the generator's files are byte for byte what the store's
// writer produces for the same records, before and after the save.
#ifndef CIJOBRESULTS_BENCH_SELFCHECK_H
#define CIJOBRESULTS_BENCH_SELFCHECK_H

#include <string>

namespace bench {

// Writes a few record counts through CCIJobResults in a scratch directory
// and compares. `report` says what was compared, or where the bytes differ.
bool GeneratorMatchesWriter(std::string& report);

// The whole content of a file; false when it cannot be read.
bool SlurpFile(const std::string& path, std::string& text);

}  // namespace bench

#endif  // CIJOBRESULTS_BENCH_SELFCHECK_H
