// Writes records into a new job results file through the store's writer,
// and works out the path of the file that the store created.
#ifndef JRTOOL_RESULTSWRITER_H
#define JRTOOL_RESULTSWRITER_H

#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "jrtool/FilePath.h"

namespace jrtool {

class ResultsWriter {
public:
    explicit ResultsWriter(std::string dirName);

    // Appends one record; the first creates the file. False with Error().
    bool Add(const JobResults& record);
    // Finishes the file; true when nothing was written.
    bool Save();

    bool Created() const { return !createdPath_.empty(); }
    // The whole path of the created file; empty before the first append.
    const std::string& CreatedPath() const { return createdPath_; }
    const std::string& Error() const { return error_; }

private:
    bool AddFirst(const JobResults& record);
    std::vector<bool> TakenNames(long long first) const;
    std::string StoreError() const;

    std::string dirName_;
    CCIJobResults store_;
    bool directorySet_ = false;
    std::string createdPath_;
    std::string error_;
};

}  // namespace jrtool

#endif
