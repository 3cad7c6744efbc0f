#include "jobresults/detail/RescueCopy.h"

#include <cerrno>
#include <utility>

namespace jobresults {

RescueCopy::RescueCopy(std::string dirName) : m_dirName(std::move(dirName)) {}

bool RescueCopy::Add(const JobResults& record) {
    if (!Created()) return AddFirst(record);
    return Succeeded(m_store.addJobResult(record));
}

// The store names the file it created while it holds it open, however it
// chose the name and whatever other writers do in the same directory.
bool RescueCopy::AddFirst(const JobResults& record) {
    // A plain file has no directory name for the copy to default to.
    if (m_dirName.empty()) return Fail(SalvageStep::kNoDirectoryName, EINVAL, "");
    // createJobResults appends to the directory name, so it runs only once.
    if (!m_directorySet && !Succeeded(m_store.createJobResults(m_dirName))) return false;
    m_directorySet = true;
    // A failed creation leaves m_nErrno as it is and errno holds the reason;
    // the other failures of a first append record theirs in m_nErrno.
    m_store.m_nErrno = 0;
    if (m_store.addJobResult(record) != 1) {
        const int reason = errno;
        return Fail(SalvageStep::kCopy, m_store.m_nErrno != 0 ? m_store.m_nErrno : reason,
                    m_store.m_sErrorMsg);
    }
    m_createdPath = m_store.getJobResultsFilePath();
    if (m_createdPath.empty()) return Fail(SalvageStep::kLocateCopy, ENOENT, "");
    return true;
}

bool RescueCopy::Save() { return Succeeded(m_store.saveJobResults()); }

bool RescueCopy::SetSync(JobResultsSync level) { return Succeeded(m_store.setSyncLevel(level)); }

bool RescueCopy::Succeeded(int storeResult) {
    if (storeResult == 1) return true;
    return Fail(SalvageStep::kCopy, m_store.m_nErrno, m_store.m_sErrorMsg);
}

bool RescueCopy::Fail(SalvageStep step, int errorNumber, std::string message) {
    m_failedStep = step;
    m_errorNumber = errorNumber;
    m_storeMessage = std::move(message);
    return false;
}

void RescueCopy::TakeFailure(SalvageResult& result) const {
    result.step = m_failedStep;
    result.errorNumber = m_errorNumber;
    result.storeMessage = m_storeMessage;
}

}  // namespace jobresults
