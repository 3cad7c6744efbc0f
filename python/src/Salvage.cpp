#include "Salvage.h"

#include <cerrno>

#include <string>

#include "Errors.h"
#include "jobresults/JobResultsSalvage.h"

namespace pyjobresults {

namespace py = pybind11;

namespace {

// OSError for a salvage that failed: the store's message where the writer
// failed, otherwise the step that failed.
[[noreturn]] void RaiseSalvageError(const jobresults::SalvageResult& result,
                                    const std::string& path) {
    const bool writerAlive =
        result.step == jobresults::SalvageStep::kOpen && result.errorNumber == EBUSY;
    const std::string text =
        result.step == jobresults::SalvageStep::kCopy && !result.storeMessage.empty()
            ? result.storeMessage
        : writerAlive ? std::string("salvage refused: the file's writer is alive")
                      : std::string("salvage failed: ") + jobresults::SalvageStepName(result.step);
    SetOSError(result.errorNumber, text, path);
    throw py::error_already_set();
}

// (sound, records, [(offset, length)], damaged bytes, cut, cut at, copy
// path, damaged path, [(leftover, errno)]); paths as bytes, b"" for none.
py::tuple ResultTuple(const jobresults::SalvageResult& result) {
    py::list stretches;
    for (const jobresults::DamagedStretch& stretch : result.stretches) {
        stretches.append(py::make_tuple(stretch.offset, stretch.length));
    }
    py::list leftovers;
    for (const jobresults::LeftoverRemoval& leftover : result.leftovers) {
        leftovers.append(py::make_tuple(py::bytes(leftover.path), leftover.error));
    }
    return py::make_tuple(result.sound, result.records, stretches, result.damagedBytes, result.cut,
                          result.cutAt, py::bytes(result.copyPath), py::bytes(result.damagedPath),
                          leftovers);
}

}  // namespace

void AddSalvageFunctions(py::module_& module) {
    module.def(
        "salvage_file",
        [](const std::string& path, const std::string& outDirName) {
            jobresults::SalvageOptions options;
            options.outDirName = outDirName;
            jobresults::SalvageResult result;
            {
                py::gil_scoped_release release;
                result = jobresults::SalvageResultsFile(path, options);
            }
            if (!result.ok()) RaiseSalvageError(result, path);
            return ResultTuple(result);
        },
        py::arg("path"), py::arg("out_dir_name"),
        "(sound, records, stretches, damaged bytes, cut, cut at, copy path, damaged path, "
        "leftovers).");
    module.def(
        "rescue_leftovers",
        [](const std::string& dirName) {
            py::list listed;
            for (const jobresults::RescueLeftover& leftover :
                 jobresults::ListRescueLeftovers(dirName)) {
                listed.append(
                    py::make_tuple(py::bytes(leftover.path), py::bytes(leftover.original)));
            }
            return listed;
        },
        py::arg("dir_name"), "(copy path, path of the file it was made for) of each leftover.");
}

}  // namespace pyjobresults
