#include "RecordWriter.h"

#include <cerrno>
#include <new>
#include <vector>

#include "Arguments.h"
#include "Errors.h"
#include "Exclusive.h"
#include "Instance.h"
#include "RecordFields.h"
#include "Text.h"

namespace pyjobresults {

namespace py = pybind11;

namespace {

const char kWhat[] = "this cijobresults writer";

void Require(bool done) {
    if (!done) throw py::error_already_set();
}

}  // namespace

RecordWriter::RecordWriter(const std::string& dirName, const py::object& sync) {
    if (m_store.createJobResults(dirName) != 1) throw py::value_error(m_store.m_sErrorMsg);
    if (sync.is_none()) return;
    JobResultsSync level;
    if (!py::isinstance<py::str>(sync) ||
        !jobresults::ParseSyncLevel(sync.cast<std::string>(), level)) {
        throw py::value_error("sync must be None, 'none', 'name' or 'append', not " +
                              py::repr(sync).cast<std::string>());
    }
    m_store.setSyncLevel(level);
}

bool RecordWriter::Add(const Values& values) {
    Exclusive use(m_inUse, kWhat);
    if (!use) return false;
    if (m_saved) {
        PyErr_SetString(PyExc_ValueError, "the writer has saved its file; use a new Writer");
        return false;
    }
    JobResults record;
    return Convert(values, record) && Append(std::move(record));
}

bool RecordWriter::Convert(const Values& values, JobResults& record) const {
    for (std::size_t i = 0; i < jobresults::kRecordFieldCount; ++i) {
        const jobresults::RecordField& field = jobresults::kRecordFields[i];
        if (field.kind == jobresults::FieldKind::kText) {
            if (!BytesOf(values[i], kPythonFields[i].name, record.*field.text)) return false;
            continue;
        }
        unsigned long long& number = record.*field.number;
        number = PyLong_AsUnsignedLongLong(values[i]);
        if (number == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    }
    return true;
}

// The store creates a new file whenever no file is in progress: on the
// first append, and after a failure that made it give its file up.
bool RecordWriter::Append(JobResults record) {
    const bool creates = !m_store.m_bHeaderWritten;
    int added;
    int number;
    {
        py::gil_scoped_release release;
        added = jobresults::AddJobResultWithReason(m_store, std::move(record), number);
    }
    if (added == 1) {
        if (creates) RememberCreatedFile();
        return true;
    }
    // The store refuses a value it cannot keep (a format tag, a NUL byte)
    // with EINVAL before writing anything: the caller's mistake.
    if (number == EINVAL) {
        PyErr_SetString(PyExc_ValueError, m_store.m_sErrorMsg.c_str());
        return false;
    }
    SetOSError(number, WithReason(m_store.m_sErrorMsg, number), std::string());
    return false;
}

// The store names the file by its descriptor only while it is open.
void RecordWriter::RememberCreatedFile() { m_createdPath = m_store.getJobResultsFilePath(); }

void RecordWriter::Save() {
    if (m_saved) return;
    RunOrRaise(&CCIJobResults::saveJobResults);
    m_saved = true;
}

void RecordWriter::Sync() { RunOrRaise(&CCIJobResults::syncJobResults); }

// A store operation without the GIL; OSError with the store's message when
// it fails.
void RecordWriter::RunOrRaise(int (CCIJobResults::*operation)()) {
    Exclusive use(m_inUse, kWhat);
    Require(static_cast<bool>(use));
    int result;
    {
        py::gil_scoped_release release;
        result = (m_store.*operation)();
    }
    if (result == 1) return;
    SetOSError(m_store.m_nErrno, WithReason(m_store.m_sErrorMsg, m_store.m_nErrno), std::string());
    throw py::error_already_set();
}

py::object RecordWriter::CreatedPath() const {
    if (m_createdPath.empty()) return py::none();
    return py::bytes(m_createdPath);
}

// --- the Python type -------------------------------------------------------

namespace {

const char kWriterDoc[] =
    "Writes job results into a new file of the directory name dir_name.\n\n"
    "The first add() creates dir_name + '\\\\' + 'ci_push_<seconds>.xml'; every\n"
    "record is in the file, which is a complete document, when add() returns.\n"
    "Leaving a with block saves the file (writes its final end tag).\n\n"
    "sync says what a power loss may cost: 'none', 'name' (the file and its\n"
    "first record survive; the default), 'append' (every record is on the disk\n"
    "when add() returns), or None for the environment's CIJOBRESULTS_SYNC.";

// The signature line lets help() and inspect show the parameters.
const char kAddDoc[] =
    "add($self, /, client_name, url, backup_job_id, error_string='', size=0)\n--\n\n"
    "Appends one job result; the first call creates the file.\n\n"
    "Strings are str (encoded as UTF-8, surrogateescape) or bytes; size is an\n"
    "int from 0 to 2**64 - 1. Raises OSError with the library's message when\n"
    "the append fails; the file keeps every earlier record.";

std::vector<const char*> FieldNames() {
    std::vector<const char*> names;
    for (const PythonField& field : kPythonFields) names.push_back(field.name);
    return names;
}

// Writer.add, called the vectorcall way: an append costs about a
// microsecond, and a classic call with keywords would add most of another.
PyObject* AddMethod(PyObject* self, PyObject* const* args, Py_ssize_t positional,
                    PyObject* keywordNames) {
    static const Arguments arguments("add", FieldNames(), kRequiredFieldCount);
    static PyObject* const emptyText = PyUnicode_FromStringAndSize("", 0);
    static PyObject* const zero = PyLong_FromLong(0);
    RecordWriter::Values values;
    if (!arguments.Parse(args, positional, keywordNames, values.data())) return nullptr;
    for (std::size_t i = kRequiredFieldCount; i < jobresults::kRecordFieldCount; ++i) {
        if (values[i] != nullptr) continue;
        const bool text = jobresults::kRecordFields[i].kind == jobresults::FieldKind::kText;
        values[i] = text ? emptyText : zero;
    }
    RecordWriter* writer = CppObject<RecordWriter>(self);
    try {
        if (writer == nullptr || !writer->Add(values)) return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    Py_RETURN_NONE;
}

PyMethodDef g_addDefinition = {
    "add", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(AddMethod)),
    METH_FASTCALL | METH_KEYWORDS, kAddDoc};

}  // namespace

void AddWriterType(py::module_& module) {
    py::class_<RecordWriter> writer(module, "Writer", kWriterDoc);
    writer
        .def(py::init<const std::string&, const py::object&>(), py::arg("dir_name"),
             py::arg("sync") = py::none())
        .def("save", &RecordWriter::Save,
             "Writes the final end tag and closes the file; nothing when no record was added.")
        .def_property_readonly("saved", &RecordWriter::Saved, "True once save() has run.")
        .def("sync", &RecordWriter::Sync,
             "Puts every record added so far on the disk with one sync (a group commit).")
        .def_property_readonly("_created_path", &RecordWriter::CreatedPath)
        .def("__enter__", [](py::object self) { return self; })
        .def(
            "__exit__", [](RecordWriter& self, py::args) { self.Save(); }, "Saves the file.");
    PyObject* add =
        PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(writer.ptr()), &g_addDefinition);
    if (add == nullptr) throw py::error_already_set();
    writer.attr("add") = py::reinterpret_steal<py::object>(add);
}

}  // namespace pyjobresults
