// What the module hands Python of the library's verdicts and listings: the
// check of a file and the listed files, as plain tuples that the Python
// part turns into its named tuples, and a listed file back from them.
#ifndef CIJOBRESULTS_PYTHON_LISTING_H
#define CIJOBRESULTS_PYTHON_LISTING_H

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

#include "jobresults/JobResultsCheck.h"
#include "jobresults/JobResultsFiles.h"

namespace pyjobresults {

// (ending, records, damage kind or '', damage offset, damage length).
pybind11::tuple CheckTuple(const jobresults::FileCheck& check);

// (device, inode, birth nanoseconds).
pybind11::tuple IdentityTuple(const jobresults::FileIdentity& identity);

// A listed file as the Python part keeps it: path, size, modification
// time, identity and ending ("saved", "open", or None for neither).
struct ListedFields {
    std::string path;
    std::uint64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t birthNanoseconds = 0;
    std::optional<std::string> ending;
};

// The file the listing gave, back from what Python kept of it; raises
// ValueError for a path with no file name behind a backslash or an ending
// the listing does not give.
jobresults::ResultsFile ListedFile(const ListedFields& fields);

// Adds list_files, describe_file, check_file and directory_name_note.
void AddListingFunctions(pybind11::module_& module);

}  // namespace pyjobresults

#endif
