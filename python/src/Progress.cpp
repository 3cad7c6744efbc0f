#include "Progress.h"

#include <cstddef>
#include <vector>

#include "Listing.h"

namespace pyjobresults {

namespace py = pybind11;

namespace {

const char kSeparator = ' ';

const char kProgressDoc[] =
    "What a reading of one job results file saw, from NewRecords.progress: a value\n"
    "to keep between runs (by the file's id) and hand to read_new() next time.\n"
    "Progress() stands for a file not read yet. to_text() and from_text() give it\n"
    "a stable text form of decimal numbers and a word; it pickles too.";

// Split at every separator, so that an empty field (a time not known)
// keeps its place.
std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (const char c : text) {
        if (c == kSeparator) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace

std::string ProgressText(const jobresults::FileProgress& progress) {
    const std::vector<std::string> fields = jobresults::ProgressFields(progress, true);
    std::string text = fields.front();
    for (std::size_t i = 1; i < fields.size(); ++i) (text += kSeparator) += fields[i];
    return text;
}

jobresults::FileProgress ProgressFromText(const std::string& text) {
    jobresults::FileProgress progress;
    if (!jobresults::ProgressFromFields(SplitFields(text), 0, true, progress)) {
        throw py::value_error("not the text of a Progress: " + text.substr(0, 200));
    }
    return progress;
}

void AddProgressType(py::module_& module) {
    using jobresults::FileProgress;
    py::class_<FileProgress>(module, "Progress", kProgressDoc)
        .def(py::init<>())
        .def_static("from_text", &ProgressFromText, py::arg("text"),
                    "The progress to_text() gave; ValueError for any other text.")
        .def("to_text", &ProgressText, "The progress as one line of text.")
        .def_property_readonly(
            "id",
            [](const FileProgress& progress) {
                return py::module_::import("cijobresults")
                    .attr("FileId")(*IdentityTuple(progress.identity));
            },
            "The id of the file read, as ResultsFile.id; zeros before a reading.")
        .def_property_readonly(
            "state",
            [](const FileProgress& progress) { return jobresults::FileStateName(progress.state); },
            "How the reading left the file: 'open' (its writer may append more), 'saved' "
            "or 'damaged'.")
        .def_property_readonly(
            "offset", [](const FileProgress& progress) { return progress.point.offset; },
            "Where the records not read yet begin: behind the last one read.")
        .def_property_readonly(
            "point",
            [](const FileProgress& progress) {
                return py::make_tuple(progress.point.offset, progress.point.rootContent,
                                      progress.point.fingerprint);
            },
            "The resume point behind the last record read, as Reader.resume_point.")
        .def_property_readonly(
            "size", [](const FileProgress& progress) { return progress.size; },
            "The file's size as listed before the reading.")
        .def(
            "__eq__",
            [](const FileProgress& progress, const FileProgress& other) {
                return ProgressText(progress) == ProgressText(other);
            },
            py::is_operator())
        .def("__hash__",
             [](const FileProgress& progress) { return py::hash(py::str(ProgressText(progress))); })
        .def("__repr__",
             [](const FileProgress& progress) {
                 return "cijobresults.Progress.from_text('" + ProgressText(progress) + "')";
             })
        .def(py::pickle([](const FileProgress& progress) { return ProgressText(progress); },
                        [](const std::string& text) { return ProgressFromText(text); }));
}

}  // namespace pyjobresults
