// The library's salvage of a damaged file and its listing of the copies
// that stopped salvages left, for cijobresults.salvage and
// cijobresults.rescue_leftovers.
#ifndef CIJOBRESULTS_PYTHON_SALVAGE_H
#define CIJOBRESULTS_PYTHON_SALVAGE_H

#include <pybind11/pybind11.h>

namespace pyjobresults {

// Adds salvage_file and rescue_leftovers to the module.
void AddSalvageFunctions(pybind11::module_& module);

}  // namespace pyjobresults

#endif
