// The names Python code uses for the five fields of a job result: the
// attributes of a record read and the keywords of Writer.add, in the order
// of JobResults.
#ifndef CIJOBRESULTS_PYTHON_RECORDFIELDS_H
#define CIJOBRESULTS_PYTHON_RECORDFIELDS_H

namespace pyjobresults {

inline constexpr const char* kClientNameField = "client_name";
inline constexpr const char* kUrlField = "url";
inline constexpr const char* kBackupJobIdField = "backup_job_id";
inline constexpr const char* kErrorStringField = "error_string";
inline constexpr const char* kSizeField = "size";

}  // namespace pyjobresults

#endif
