#include "RecordReader.h"

#include <pybind11/stl.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <tuple>

#include "Errors.h"
#include "Exclusive.h"
#include "Instance.h"
#include "Record.h"
#include "Text.h"
#include "jobresults/JobResultsNames.h"

namespace pyjobresults {

namespace py = pybind11;

namespace {

const char kWhat[] = "this cijobresults reader";

}  // namespace

// An empty directory name: the file name is the file's whole path.
RecordReader::RecordReader(const std::string& dirName, const std::string& fileName, bool asBytes,
                           const std::optional<jobresults::ResumePoint>& resume)
    : m_path(dirName.empty() ? fileName : jobresults::JoinResultsPath(dirName, fileName)),
      m_asBytes(asBytes) {
    if (fileName.empty()) throw py::value_error("the file name must not be empty");
    m_ready.reserve(kBatchSize);
    // Damage is found where `jobresults check` finds it.
    m_reader.setStrict(true);
    bool opened;
    {
        py::gil_scoped_release release;
        if (resume) {
            opened = m_reader.resume(m_path, *resume);
        } else {
            opened = dirName.empty() ? m_reader.open(fileName) : m_reader.open(dirName, fileName);
        }
    }
    if (!opened) {
        SetVerdictError();
        throw py::error_already_set();
    }
}

PyObject* RecordReader::Next() {
    Exclusive use(m_inUse, kWhat);
    if (!use) return nullptr;
    if (m_nextReady == m_ready.size() && !Refill()) return nullptr;
    return m_ready[m_nextReady++].release().ptr();
}

bool RecordReader::Close() {
    Exclusive use(m_inUse, kWhat);
    if (!use) return false;
    m_reader.close();
    m_drained = true;
    m_verdictGiven = true;
    m_ready.clear();
    m_nextReady = 0;
    return true;
}

// Reads the next batch and builds its records. False at the end, with the
// verdict's error set when the file failed (once).
bool RecordReader::Refill() {
    m_ready.clear();
    m_nextReady = 0;
    const std::size_t count = m_drained ? 0 : ReadBatch();
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* record = NewRecord(m_batch[i], m_asBytes);
        if (record == nullptr) return false;
        m_ready.push_back(py::reinterpret_steal<py::object>(record));
    }
    if (count > 0) return true;
    if (!m_verdictGiven && !m_reader.ok()) SetVerdictError();
    m_verdictGiven = true;
    return false;
}

std::size_t RecordReader::ReadBatch() {
    py::gil_scoped_release release;
    m_batchStart = m_reader.resumePoint();
    std::size_t count = 0;
    while (count < kBatchSize) {
        JobResults& record = m_batch[count];
        jobresults::ClearRecord(record);
        if (!m_reader.next(record)) {
            m_drained = true;
            break;
        }
        ++count;
    }
    return count;
}

// The records read ahead in a batch move the reader past those handed out:
// the point behind the last one handed out is found by reading the batch
// again up to it, from the point where it began.
std::optional<jobresults::ResumePoint> RecordReader::Point() {
    Exclusive use(m_inUse, kWhat);
    if (!use) return std::nullopt;
    if (m_nextReady == m_ready.size()) return m_reader.resumePoint();
    JobResultsReader again;
    again.setStrict(true);
    JobResults record;
    bool read;
    {
        py::gil_scoped_release release;
        read = again.resume(m_path, m_batchStart);
        for (std::size_t i = 0; read && i < m_nextReady; ++i) read = again.next(record);
    }
    if (read) return again.resumePoint();
    const std::string& message = again.errorMessage();
    SetOSError(again.ok() ? ESTALE : again.errorNumber(),
               message.empty() ? std::strerror(ESTALE) : message, m_path);
    return std::nullopt;
}

// The reader reports refused content with errno -1, a failed system call
// with its errno.
void RecordReader::SetVerdictError() {
    if (m_reader.errorNumber() == -1) {
        const std::uint64_t damage = m_reader.check().damageOffset;
        SetDamagedFileError(
            m_reader.errorMessage() + " (the damage begins at byte " + std::to_string(damage) + ")",
            m_path, damage);
    } else if (m_reader.errorNumber() == ESTALE) {
        // The system's text for ESTALE speaks of file handles.
        SetOSError(ESTALE, m_reader.errorMessage(), m_path);
    } else {
        // As open() reports it: the system's text, the file name apart.
        SetOSError(m_reader.errorNumber(), std::strerror(m_reader.errorNumber()), m_path);
    }
}

// --- the Python type -------------------------------------------------------

namespace {

const char kReaderDoc[] =
    "Iterator over the records of one job results file, from cijobresults.read().\n\n"
    "Yields Record objects in file order while it reads the file, in the same\n"
    "memory whatever the file's size. When the file turns out damaged, the\n"
    "records in front of the damage come first, then DamagedFileError.\n"
    "Use from one thread at a time: a second thread gets RuntimeError.";

}  // namespace

void AddReaderType(py::module_& module) {
    py::class_<RecordReader>(module, "Reader", kReaderDoc,
                             py::custom_type_setup([](PyHeapTypeObject* heapType) {
                                 heapType->ht_type.tp_iter = IterSelf;
                                 heapType->ht_type.tp_iternext = IterNext<RecordReader>;
                             }))
        .def(py::init(
                 [](const std::string& dirName, const std::string& fileName, bool asBytes,
                    const std::optional<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>>&
                        resume) {
                     std::optional<jobresults::ResumePoint> point;
                     if (resume) {
                         point = jobresults::ResumePoint{std::get<0>(*resume), std::get<1>(*resume),
                                                         std::get<2>(*resume)};
                     }
                     return std::make_unique<RecordReader>(dirName, fileName, asBytes, point);
                 }),
             py::arg("dir_name"), py::arg("file_name"), py::arg("as_bytes") = false,
             py::arg("resume") = py::none(),
             "Opens dir_name + '\\\\' + file_name, or the path file_name when dir_name is "
             "empty, from its start or behind a resume point; use cijobresults.read() "
             "instead.")
        .def(
            "close",
            [](RecordReader& reader) {
                if (!reader.Close()) throw py::error_already_set();
            },
            "Releases the file; the iteration ends.")
        .def("__enter__", [](py::object self) { return self; })
        .def(
            "__exit__",
            [](RecordReader& reader, py::args) {
                if (!reader.Close()) throw py::error_already_set();
            },
            "Closes the reader.")
        .def_property_readonly(
            "path",
            [](const RecordReader& reader) {
                PyObject* path = NewFileName(reader.Path());
                if (path == nullptr) throw py::error_already_set();
                return py::reinterpret_steal<py::object>(path);
            },
            "The whole path of the file.")
        .def_property_readonly("valid_bytes", &RecordReader::ValidBytes,
                               "The offset just behind the last sound record read so far.")
        .def_property_readonly(
            "resume_point",
            [](RecordReader& reader) {
                const auto point = reader.Point();
                if (!point) throw py::error_already_set();
                return py::make_tuple(point->offset, point->rootContent, point->fingerprint);
            },
            "Behind the last record handed out: pass it as read(..., resume=) to go on "
            "from there later, in this process or another.");
}

}  // namespace pyjobresults
