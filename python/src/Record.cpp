#include "Record.h"

#include "RecordFields.h"
#include "Text.h"

namespace pyjobresults {

namespace {

PyTypeObject* g_recordType = nullptr;

PyStructSequence_Field g_fields[] = {
    {kClientNameField, "name of the client the job ran for"},
    {kUrlField, "URL text of the job"},
    {kBackupJobIdField, "identifier of the job, as text"},
    {kErrorStringField, "error text of the job; empty when there was none"},
    {kSizeField, "size reported for the job"},
    {nullptr, nullptr},
};

PyStructSequence_Desc g_description = {
    "cijobresults.Record",
    "One job result read from a job results file: a named tuple of client_name,\n"
    "url, backup_job_id, error_string (str, or bytes when read with bytes=True)\n"
    "and size (int).",
    g_fields,
    5,
};

bool SetText(PyObject* record, Py_ssize_t index, const std::string& text, bool asBytes) {
    PyObject* value = NewText(text.data(), text.size(), asBytes);
    if (value == nullptr) return false;
    PyStructSequence_SET_ITEM(record, index, value);
    return true;
}

}  // namespace

void AddRecordType(pybind11::module_& module) {
    g_recordType = PyStructSequence_NewType(&g_description);
    if (g_recordType == nullptr) throw pybind11::error_already_set();
    module.add_object("Record", reinterpret_cast<PyObject*>(g_recordType));
}

PyObject* NewRecord(const JobResults& record, bool asBytes) {
    PyObject* result = PyStructSequence_New(g_recordType);
    if (result == nullptr) return nullptr;
    PyObject* size = PyLong_FromUnsignedLongLong(record.Size);
    if (size == nullptr || !SetText(result, 0, record.ClientName, asBytes) ||
        !SetText(result, 1, record.Url, asBytes) ||
        !SetText(result, 2, record.BackupJobId, asBytes) ||
        !SetText(result, 3, record.ErrorString, asBytes)) {
        Py_XDECREF(size);
        Py_DECREF(result);
        return nullptr;
    }
    PyStructSequence_SET_ITEM(result, 4, size);
    return result;
}

}  // namespace pyjobresults
