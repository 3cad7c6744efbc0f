// The copy a salvage writes: records appended through the store's writer
// into a new file, whose path is found while the store holds it open.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_RESCUECOPY_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_RESCUECOPY_H

#include <string>

#include "jobresults/JobResultsRecord.h"
#include "jobresults/JobResultsSalvage.h"
#include "jobresults/JobResultsSync.h"
#include "jobresults/cijobresults.h"

namespace jobresults {

class RescueCopy {
public:
    explicit RescueCopy(std::string dirName);

    // Appends one record; the first creates the file. False with the
    // failure (TakeFailure).
    bool Add(const JobResults& record);
    // Finishes the file; true when nothing was written.
    bool Save();
    // The store's sync level for the file it creates, and the one in progress.
    bool SetSync(JobResultsSync level);

    bool Created() const { return !m_createdPath.empty(); }
    // The whole path of the created file; empty before the first append.
    const std::string& CreatedPath() const { return m_createdPath; }
    const std::string& DirName() const { return m_dirName; }
    // Copies the last failure's step, errno and store message into `result`.
    void TakeFailure(SalvageResult& result) const;

private:
    bool AddFirst(const JobResults& record);
    // True for the store's 1; otherwise records the store's failure.
    bool Succeeded(int storeResult);
    bool Fail(SalvageStep step, int errorNumber, std::string message);

    std::string m_dirName;
    CCIJobResults m_store;
    bool m_directorySet = false;
    std::string m_createdPath;
    SalvageStep m_failedStep = SalvageStep::kNone;
    int m_errorNumber = 0;
    std::string m_storeMessage;
};

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_RESCUECOPY_H
