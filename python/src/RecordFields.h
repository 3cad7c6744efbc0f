// The names Python code uses for the fields of a job result: the attributes
// of a record read and the keywords of Writer.add. Entry i names the
// record's field jobresults::kRecordFields[i], so the module follows the
// record's table; only the names and their help are the module's own.
#ifndef CIJOBRESULTS_PYTHON_RECORDFIELDS_H
#define CIJOBRESULTS_PYTHON_RECORDFIELDS_H

#include <cstddef>
#include <iterator>

#include "jobresults/JobResultsRecord.h"

namespace pyjobresults {

struct PythonField {
    const char* name;
    const char* help;
};

inline constexpr PythonField kPythonFields[] = {
    {"client_name", "name of the client the job ran for"},
    {"url", "URL text of the job"},
    {"backup_job_id", "identifier of the job, as text"},
    {"error_string", "error text of the job; empty when there was none"},
    {"size", "size reported for the job"},
};
static_assert(std::size(kPythonFields) == jobresults::kRecordFieldCount,
              "every field of a record has a Python name");

// Writer.add requires the fields before this one; the rest default to empty
// text and 0 (an empty error text means the job succeeded).
inline constexpr std::size_t kRequiredFieldCount = 3;

}  // namespace pyjobresults

#endif
