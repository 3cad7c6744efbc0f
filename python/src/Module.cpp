// The compiled part of the cijobresults package: the library's streaming
// reader and its writer, with the record type and the exceptions.
#include <pybind11/pybind11.h>

#include <string>

#include "Errors.h"
#include "Record.h"
#include "RecordReader.h"
#include "RecordWriter.h"
#include "jobresults/JobResultsNames.h"

namespace py = pybind11;

PYBIND11_MODULE(_core, module) {
    module.doc() = "The compiled part of cijobresults; use the package cijobresults.";
    pyjobresults::AddRecordType(module);
    pyjobresults::AddErrorTypes(module);
    pyjobresults::AddReaderType(module);
    pyjobresults::AddWriterType(module);
    // How the store names its files, for listing them.
    module.attr("DIRECTORY_SEPARATOR") = py::bytes(std::string(1, jobresults::kDirectorySeparator));
    module.attr("FILE_NAME_START") =
        py::bytes(std::string(jobresults::kBaseFileName) + jobresults::kTimeSeparator);
    module.attr("FILE_NAME_END") = py::bytes(std::string(jobresults::kExtension));
}
