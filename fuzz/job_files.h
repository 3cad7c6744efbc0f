// Job results files in a private temporary directory, for the store targets
// and the seed corpus generator, on top of the tests' scratch helpers.
//
// The store names a file  dirName + separator + fileName  (the library's
// kDirectorySeparator, a backslash that on POSIX is part of the file name).
// With dirName = <temp dir>/jr the files are "jr\<name>" inside the
// temporary directory.
#ifndef CIJOBRESULTS_FUZZ_JOB_FILES_H
#define CIJOBRESULTS_FUZZ_JOB_FILES_H

#include <string>
#include <vector>

#include "jobresults/detail/JobResultsFormat.h"
#include "tests/support/scratch.h"

namespace jobfiles {

using testsupport::LowestFreeDescriptor;
using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

class TempDir : public testsupport::ScratchDir {
public:
    // The directory name to hand to the store.
    std::string StoreDir() const { return Path() + "/jr"; }
    // Full path of the store's file fileName.
    std::string StorePath(const std::string& fileName) const {
        return StoreDir() + jobresults::kDirectorySeparator + fileName;
    }

    // The store file names (the part after "jr\"), sorted.
    std::vector<std::string> StoreFiles() const {
        std::vector<std::string> files;
        const std::string prefix = std::string("jr") + jobresults::kDirectorySeparator;
        for (const std::string& name : Entries()) {
            if (name.compare(0, prefix.size(), prefix) == 0)
                files.push_back(name.substr(prefix.size()));
        }
        return files;
    }
};

}  // namespace jobfiles

#endif  // CIJOBRESULTS_FUZZ_JOB_FILES_H
