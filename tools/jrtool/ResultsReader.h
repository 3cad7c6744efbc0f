// Reads a whole job results file through the store's reader.
#ifndef JRTOOL_RESULTSREADER_H
#define JRTOOL_RESULTSREADER_H

#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "jrtool/FilePath.h"

namespace jrtool {

struct ReadOutcome {
    bool valid = false;
    std::vector<JobResults> records;
    // The reader's own message when it refused the file.
    std::string error;
};

// Every record of the file, or the reader's error. A file that does not
// exist is reported as such and never handed to the reader.
ReadOutcome ReadAllRecords(const ResultsFilePath& file);

// How a file that the reader accepts was left by its writer.
enum class FileEnding { kSaved, kOpen };

// kOpen when the file ends in the trailer of an append ("</JobResult>",
// a newline, "</Root>") rather than in the end tag of a save.
FileEnding EndingOf(const std::string& wholePath);

// The raw bytes of a file; false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string& bytes);

}  // namespace jrtool

#endif
