// The records that reading yields: a named tuple type (a struct sequence,
// like os.stat_result) with the attributes client_name, url, backup_job_id,
// error_string and size, built in C++ without a dictionary per record.
#ifndef CIJOBRESULTS_PYTHON_RECORD_H
#define CIJOBRESULTS_PYTHON_RECORD_H

#include <pybind11/pybind11.h>

#include "jobresults/cijobresults.h"

namespace pyjobresults {

// Creates the type and adds it to the module as Record.
void AddRecordType(pybind11::module_& module);

// A new Record holding `record`, its strings as str or bytes; nullptr with
// a Python error set when out of memory.
PyObject* NewRecord(const JobResults& record, bool asBytes);

}  // namespace pyjobresults

#endif
