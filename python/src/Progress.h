// The library's FileProgress as the Python type Progress: what a reading
// of one file saw, a value a program keeps between runs. Its text is the
// library's progress fields (times included, which tell an unchanged file
// without opening it) joined by single blanks; pickling goes through it.
#ifndef CIJOBRESULTS_PYTHON_PROGRESS_H
#define CIJOBRESULTS_PYTHON_PROGRESS_H

#include <pybind11/pybind11.h>

#include <string>

#include "jobresults/JobResultsProgress.h"

namespace pyjobresults {

std::string ProgressText(const jobresults::FileProgress& progress);

// Raises ValueError for a text that holds no progress.
jobresults::FileProgress ProgressFromText(const std::string& text);

// Adds the type as Progress.
void AddProgressType(pybind11::module_& module);

}  // namespace pyjobresults

#endif
