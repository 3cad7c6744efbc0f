// The compiled part of the cijobresults package: the library's streaming
// reader and its writer, its salvage, its listing and check, the reading
// on across runs, with the record type and the exceptions.
#include <pybind11/pybind11.h>

#include <string>

#include "Errors.h"
#include "Listing.h"
#include "NewRecords.h"
#include "Progress.h"
#include "Record.h"
#include "RecordReader.h"
#include "RecordWriter.h"
#include "Salvage.h"
#include "jobresults/JobResultsNames.h"

namespace py = pybind11;

PYBIND11_MODULE(_core, module) {
    module.doc() = "The compiled part of cijobresults; use the package cijobresults.";
    pyjobresults::AddRecordType(module);
    pyjobresults::AddErrorTypes(module);
    pyjobresults::AddReaderType(module);
    pyjobresults::AddWriterType(module);
    pyjobresults::AddSalvageFunctions(module);
    module.attr("DIRECTORY_SEPARATOR") = py::bytes(std::string(1, jobresults::kDirectorySeparator));
    pyjobresults::AddListingFunctions(module);
    pyjobresults::AddProgressType(module);
    pyjobresults::AddNewRecordsType(module);
}
