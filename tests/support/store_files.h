// Helpers for the job results store tests: the shared scratch files,
// finding the file the writer created, and reading a job results file back
// record by record.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_STORE_FILES_H
#define CIJOBRESULTS_TESTS_SUPPORT_STORE_FILES_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/golden.h"
#include "support/repeat.h"
#include "support/scratch.h"

namespace storetest {

using testsupport::LowestFreeDescriptor;
using testsupport::OpenDescriptorCount;
using testsupport::ReadWholeFile;
using testsupport::Repetitions;
using testsupport::ScratchDir;
using testsupport::UntouchedRecord;
using testsupport::WriteWholeFile;

// The path of the only file in dir, if the writer created it for the
// directory name dir.Path() + "/" + dirLeaf; empty otherwise.
std::string CreatedFile(const ScratchDir& dir, const std::string& dirLeaf);

// The file name a reader passes for a created file: what follows the
// backslash.
std::string ReaderName(const std::string& path);

struct ReadBack {
    int openResult = 0;
    std::vector<JobResults> records;
    int lastResult = 0;  // result of the last getNextJobResult
    std::string errorMsg;
};

// Opens dir\fileName and reads records until getNextJobResult stops.
ReadBack ReadAllRecords(const std::string& dir, const std::string& fileName);

// Equal records; a failure shows both.
::testing::AssertionResult SameRecord(const JobResults& actual, const JobResults& expected);

// Record number index, with values of varied shape: blanks inside, an empty
// Url, a tab, the largest Size.
JobResults SampleRecord(int index);

}  // namespace storetest

#endif  // CIJOBRESULTS_TESTS_SUPPORT_STORE_FILES_H
