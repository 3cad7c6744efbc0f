// The compiled part of the cijobresults package: the library's streaming
// reader and its writer, its salvage, with the record type and the
// exceptions.
#include <pybind11/pybind11.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Errors.h"
#include "Record.h"
#include "RecordReader.h"
#include "RecordWriter.h"
#include "Salvage.h"
#include "jobresults/JobResultsCheck.h"
#include "jobresults/JobResultsFiles.h"
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
    module.def(
        "list_files",
        [](const std::string& dirName) {
            std::vector<jobresults::ResultsFile> files;
            if (const int failure = jobresults::ListResultsFiles(dirName, files)) {
                errno = failure;
                PyErr_SetFromErrnoWithFilename(
                    PyExc_OSError, jobresults::LocateOnHost(dirName).directory.c_str());
                throw py::error_already_set();
            }
            py::list listed;
            for (const auto& file : files) {
                listed.append(py::make_tuple(py::bytes(file.path), file.createdSeconds, file.size));
            }
            return listed;
        },
        py::arg("dir_name"), "(path, creation second, size) of each file, oldest first.");
    module.def(
        "check_file",
        [](const std::string& path) {
            jobresults::FileCheck check;
            {
                py::gil_scoped_release release;
                check = jobresults::CheckResultsFile(path);
            }
            if (check.error != 0) {
                errno = check.error;
                PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
                throw py::error_already_set();
            }
            static const char* const kEndings[] = {"saved", "open", "writing", "cut"};
            static const char* const kDamage[] = {"", "stray", "cut"};
            return py::make_tuple(kEndings[static_cast<int>(check.ending)], check.records,
                                  kDamage[static_cast<int>(check.damage)], check.damageOffset,
                                  check.damageLength);
        },
        py::arg("path"), "(ending, records, damage kind or '', damage offset, damage length).");
    module.def(
        "directory_name_note",
        [](const std::string& dirName) -> py::object {
            const jobresults::DirectoryNameNote note = jobresults::NoteOnDirectoryName(dirName);
            if (!note.applies) return py::none();
            return py::make_tuple(py::str(note.text), note.endsInSlash);
        },
        py::arg("dir_name"),
        "None, or (what the directory name means, whether it ends in '/') for one that is a "
        "directory.");
}
