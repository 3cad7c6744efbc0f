#include "jobresults/JobResultsReasons.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "jobresults/cijobresults.h"

namespace jobresults {

std::string WithReason(const std::string& message, int error) {
    if (error <= 0) return message;
    const bool period = !message.empty() && message.back() == '.';
    return message.substr(0, message.size() - (period ? 1 : 0)) + ": " + std::strerror(error);
}

int AddJobResultWithReason(CCIJobResults& store, JobResults record, int& error) {
    const bool creates = !store.m_bHeaderWritten;
    store.m_nErrno = 0;
    const int added = store.addJobResult(std::move(record));
    const int reason = errno;
    error = added == 1 ? 0 : store.m_nErrno != 0 ? store.m_nErrno : creates ? reason : 0;
    return added;
}

}  // namespace jobresults
