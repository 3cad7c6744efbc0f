// The exceptions the module raises for the library's failures: OSError
// (mapped by errno onto FileNotFoundError and its kin) for a failed system
// call, DamagedFileError for a file whose content the readers refuse.
#ifndef CIJOBRESULTS_PYTHON_ERRORS_H
#define CIJOBRESULTS_PYTHON_ERRORS_H

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "jobresults/JobResultsReasons.h"

namespace pyjobresults {

// Creates DamagedFileError, a subclass of OSError, and adds it to the module.
void AddErrorTypes(pybind11::module_& module);

// Sets OSError(errorNumber, text, path) as the Python error; the path is
// left out when empty, the errno too when it is not positive.
void SetOSError(int errorNumber, const std::string& text, const std::string& path);

// Sets DamagedFileError(message) with filename `path` and valid_bytes.
void SetDamagedFileError(const std::string& message, const std::string& path,
                         std::uint64_t validBytes);

using jobresults::WithReason;

}  // namespace pyjobresults

#endif
