// Why a call failed, in the words every program that reports it uses: the
// message of the library with the system's text for the errno behind it.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSREASONS_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSREASONS_H

#include <string>

#include "jobresults/JobResultsRecord.h"
#include "xml/LibraryExport.h"

class CCIJobResults;

namespace jobresults {

// "message: reason" with the system's text for errno `error` (a closing
// period of the message dropped); the message alone for 0 or -1.
CIJOBRESULTS_API std::string WithReason(const std::string& message, int error);

// addJobResult, and the errno of its failure in `error` (0 when it gives
// none): the store records it in m_nErrno, except when the creation of a
// new file fails, which leaves m_nErrno as it was and tells it in errno.
CIJOBRESULTS_API int AddJobResultWithReason(CCIJobResults& store, JobResults record, int& error);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSREASONS_H
