#include "NewRecords.h"

#include <pybind11/stl.h>

#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>

#include "Errors.h"
#include "Exclusive.h"
#include "Instance.h"
#include "Listing.h"
#include "Record.h"

namespace pyjobresults {

namespace py = pybind11;

namespace {

const char kWhat[] = "this cijobresults reading";

// By FileChange and ProgressProblem.
const char* const kChangeWords[] = {"unchanged", "grew", "changed"};
const char* const kProblemWords[] = {"", "damaged", "failed"};

// Whether the reading moved the progress: it leaves it as it was when a system
// call failed, and when the records counted before are gone from a file
// read whole.
bool ProgressMoved(jobresults::FileChange change, const jobresults::ProgressOutcome& outcome) {
    if (outcome.problem == jobresults::ProgressProblem::kFailed) return false;
    return !outcome.replaced || change == jobresults::FileChange::kGrew;
}

}  // namespace

NewRecords::NewRecords(jobresults::ResultsFile file, const jobresults::FileProgress& progress,
                       bool asBytes)
    : m_file(std::move(file)), m_asBytes(asBytes), m_progress(progress) {
    py::gil_scoped_release release;
    // Taken after the listing and before the reading, as the progress
    // keeps it.
    m_statusChange = jobresults::StatusChangeNanoseconds(m_file.path);
    m_change = jobresults::ChangeSince(m_progress, m_file, m_statusChange);
    if (m_change == jobresults::FileChange::kUnchanged) {
        m_finished = true;
        return;
    }
    m_reading = std::make_unique<jobresults::ProgressReading>(m_file, m_change, m_progress);
}

PyObject* NewRecords::Next() {
    Exclusive use(m_inUse, kWhat);
    if (!use) return nullptr;
    if (m_nextPulled == m_pulled && !Refill()) return nullptr;
    const std::size_t index = m_nextPulled++;
    PyObject* record = NewRecord(m_batch[index], m_asBytes);
    if (record == nullptr) return nullptr;
    PyObject* offset = PyLong_FromUnsignedLongLong(m_offsets[index]);
    if (offset == nullptr) {
        Py_DECREF(record);
        return nullptr;
    }
    PyObject* pair = PyTuple_Pack(2, record, offset);
    Py_DECREF(record);
    Py_DECREF(offset);
    return pair;
}

bool NewRecords::Refill() {
    m_nextPulled = m_pulled = 0;
    try {
        m_pulled = m_reading ? PullBatch() : 0;
    } catch (const std::bad_alloc&) {
        // Records of the batch are lost: the reading cannot go on.
        m_reading.reset();
        throw;
    }
    if (m_pulled > 0) return true;
    if (m_reading && m_reading->Over()) Finish();
    return false;
}

std::size_t NewRecords::PullBatch() {
    py::gil_scoped_release release;
    std::size_t count = 0;
    while (count < kBatchSize) {
        JobResults& record = m_batch[count];
        jobresults::ClearRecord(record);
        if (!m_reading->Next(record, m_offsets[count])) break;
        ++count;
    }
    return count;
}

void NewRecords::Finish() {
    m_outcome = m_reading->Outcome();
    m_progress = m_reading->Progress();
    if (ProgressMoved(m_change, m_outcome)) m_progress.statusChangeNanoseconds = m_statusChange;
    m_reading.reset();
    m_finished = true;
}

bool NewRecords::Close() {
    Exclusive use(m_inUse, kWhat);
    if (!use) return false;
    m_reading.reset();
    m_pulled = m_nextPulled = 0;
    return true;
}

// --- the Python type -------------------------------------------------------

namespace {

const char kNewRecordsDoc[] =
    "The records a job results file gained since a kept Progress, from\n"
    "cijobresults.read_new(): (record, offset) pairs in file order, offset being\n"
    "where the record begins. Once they are all taken, progress is the Progress\n"
    "to keep for the next run and problem, check, replaced say what the reading\n"
    "found. The file is read as the loop goes, in the same memory whatever its\n"
    "size. Use from one thread at a time: a second thread gets RuntimeError.";

// The outcome, which is only known once every record was taken.
const NewRecords& Finished(const NewRecords& reading) {
    if (!reading.Finished()) {
        throw std::runtime_error(
            "the reading is not finished: take every record first (iterate to the end)");
    }
    return reading;
}

py::object ProblemWord(const NewRecords& reading) {
    const auto problem = Finished(reading).Outcome().problem;
    if (problem == jobresults::ProgressProblem::kNone) return py::none();
    return py::str(kProblemWords[static_cast<int>(problem)]);
}

// A reading's check; None when nothing was read or a system call failed.
py::object CheckFields(const NewRecords& reading) {
    const jobresults::ProgressOutcome& outcome = Finished(reading).Outcome();
    if (reading.Change() == jobresults::FileChange::kUnchanged ||
        outcome.problem == jobresults::ProgressProblem::kFailed) {
        return py::none();
    }
    return CheckTuple(outcome.check);
}

// The failure as the OSError that read() raises for it; None without one.
py::object FailureError(const NewRecords& reading) {
    const jobresults::ProgressOutcome& outcome = Finished(reading).Outcome();
    if (outcome.problem != jobresults::ProgressProblem::kFailed) return py::none();
    SetOSError(outcome.check.error, outcome.message, reading.File().path);
    py::error_already_set error;
    return error.value();
}

std::unique_ptr<NewRecords> Create(const std::string& path, std::uint64_t size,
                                   std::int64_t modifiedNanoseconds,
                                   const std::tuple<std::uint64_t, std::uint64_t, std::int64_t>& id,
                                   const std::optional<std::string>& ending,
                                   const std::optional<jobresults::FileProgress>& progress,
                                   bool asBytes) {
    const ListedFields fields{
        path, size, modifiedNanoseconds, std::get<0>(id), std::get<1>(id), std::get<2>(id), ending};
    return std::make_unique<NewRecords>(ListedFile(fields),
                                        progress.value_or(jobresults::FileProgress()), asBytes);
}

}  // namespace

void AddNewRecordsType(py::module_& module) {
    py::class_<NewRecords>(module, "NewRecords", kNewRecordsDoc,
                           py::custom_type_setup([](PyHeapTypeObject* heapType) {
                               heapType->ht_type.tp_iter = IterSelf;
                               heapType->ht_type.tp_iternext = IterNext<NewRecords>;
                           }))
        .def(py::init(&Create), py::arg("path"), py::arg("size"), py::arg("modified_ns"),
             py::arg("id"), py::arg("ending"), py::arg("progress"), py::arg("as_bytes") = false,
             "Reads on in a listed file; use cijobresults.read_new() instead.")
        .def(
            "close",
            [](NewRecords& reading) {
                if (!reading.Close()) throw py::error_already_set();
            },
            "Gives the reading up before its end: its outcome stays unknown and the "
            "Progress it was given stays as it was.")
        .def("__enter__", [](py::object self) { return self; })
        .def(
            "__exit__",
            [](NewRecords& reading, py::args) {
                if (!reading.Close()) throw py::error_already_set();
            },
            "Closes the reading.")
        .def_property_readonly(
            "change",
            [](const NewRecords& reading) {
                return kChangeWords[static_cast<int>(reading.Change())];
            },
            "What changed since the progress: 'unchanged' (the file is not opened), 'grew' "
            "(read on behind the progress) or 'changed' (read from its start).")
        .def_property_readonly(
            "progress", [](const NewRecords& reading) { return Finished(reading).Progress(); },
            "The Progress to keep for the file, for the next run.")
        .def_property_readonly(
            "records",
            [](const NewRecords& reading) { return Finished(reading).Outcome().records; },
            "How many records were yielded.")
        .def_property_readonly(
            "replaced",
            [](const NewRecords& reading) { return Finished(reading).Outcome().replaced; },
            "The file is not the one the progress was kept of (rewritten, replaced, or "
            "damaged in front of the progress).")
        .def_property_readonly("problem", &ProblemWord,
                               "None, 'damaged' (refused while it stood still) or 'failed' "
                               "(a system call failed; see error).")
        .def_property_readonly("_check_fields", &CheckFields)
        .def_property_readonly("error", &FailureError,
                               "For problem 'failed', the OSError that reading the file met.");
}

}  // namespace pyjobresults
