#include "Listing.h"

#include <cerrno>
#include <vector>

#include "jobresults/JobResultsNames.h"
#include "jobresults/JobResultsPaths.h"
#include "jobresults/JobResultsWriterState.h"

namespace pyjobresults {

namespace py = pybind11;

namespace {

// By FileEnding and DamageKind.
const char* const kEndingWords[] = {"saved", "open", "writing", "cut"};
const char* const kDamageWords[] = {"", "stray", "cut"};

[[noreturn]] void RaiseOSError(int failure, const std::string& path) {
    errno = failure;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

// (path, creation second, size, modification nanoseconds, identity,
// ending or None).
py::tuple FileTuple(const jobresults::ResultsFile& file) {
    const py::object ending =
        file.ending == jobresults::FileEnding::kNeither
            ? py::object(py::none())
            : py::object(py::str(kEndingWords[static_cast<int>(file.ending)]));
    return py::make_tuple(py::bytes(file.path), file.createdSeconds, file.size,
                          file.modifiedNanoseconds, IdentityTuple(file.identity), ending);
}

}  // namespace

py::tuple CheckTuple(const jobresults::FileCheck& check) {
    return py::make_tuple(kEndingWords[static_cast<int>(check.ending)], check.records,
                          kDamageWords[static_cast<int>(check.damage)], check.damageOffset,
                          check.damageLength);
}

py::tuple IdentityTuple(const jobresults::FileIdentity& identity) {
    return py::make_tuple(identity.device, identity.inode, identity.birthNanoseconds);
}

jobresults::ResultsFile ListedFile(const ListedFields& fields) {
    const auto parts = jobresults::SplitWholePath(fields.path);
    if (!parts) throw py::value_error("not the path of a listed job results file");
    jobresults::ResultsFile file;
    file.path = fields.path;
    file.fileName = parts->fileName;
    file.size = fields.size;
    file.modifiedNanoseconds = fields.modifiedNanoseconds;
    file.identity = {fields.device, fields.inode, fields.birthNanoseconds};
    if (!fields.ending) {
        file.ending = jobresults::FileEnding::kNeither;
    } else if (*fields.ending == kEndingWords[0]) {
        file.ending = jobresults::FileEnding::kSaved;
    } else if (*fields.ending == kEndingWords[1]) {
        file.ending = jobresults::FileEnding::kOpen;
    } else {
        throw py::value_error("a listed file ends 'saved', 'open' or neither (None)");
    }
    return file;
}

void AddListingFunctions(py::module_& module) {
    module.def(
        "list_files",
        [](const std::string& dirName) {
            std::vector<jobresults::ResultsFile> files;
            if (const int failure = jobresults::ListResultsFiles(dirName, files)) {
                RaiseOSError(failure, jobresults::LocateOnHost(dirName).directory);
            }
            py::list listed;
            for (const auto& file : files) listed.append(FileTuple(file));
            return listed;
        },
        py::arg("dir_name"),
        "(path, creation second, size, modification ns, (device, inode, birth ns), ending) of "
        "each file, oldest first.");
    module.def(
        "describe_file",
        [](const std::string& path) {
            const auto parts = jobresults::SplitWholePath(path);
            if (!parts) RaiseOSError(ENOENT, path);
            jobresults::ResultsFile file;
            if (const int failure =
                    jobresults::DescribeResultsFile(parts->dirName, parts->fileName, file)) {
                RaiseOSError(failure, path);
            }
            return FileTuple(file);
        },
        py::arg("path"), "One file as list_files gives it; OSError when there is none.");
    module.def(
        "check_file",
        [](const std::string& path) {
            jobresults::FileCheck check;
            {
                py::gil_scoped_release release;
                check = jobresults::CheckResultsFile(path);
            }
            if (check.error != 0) RaiseOSError(check.error, path);
            return CheckTuple(check);
        },
        py::arg("path"), "(ending, records, damage kind or '', damage offset, damage length).");
    module.def(
        "writer_alive",
        [](const std::string& path) {
            const jobresults::WriterProbe probe = jobresults::ProbeWriter(path);
            if (probe.error != 0) RaiseOSError(probe.error, path);
            return probe.alive;
        },
        py::arg("path"), "Whether a writer holds the file now.");
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

}  // namespace pyjobresults
