#include "Record.h"

#include <array>
#include <cstddef>

#include "RecordFields.h"
#include "Text.h"

namespace pyjobresults {

namespace {

PyTypeObject* g_recordType = nullptr;

// The struct sequence's fields, ended by an empty entry as CPython wants.
std::array<PyStructSequence_Field, jobresults::kRecordFieldCount + 1> g_fields = [] {
    std::array<PyStructSequence_Field, jobresults::kRecordFieldCount + 1> fields{};
    for (std::size_t i = 0; i < jobresults::kRecordFieldCount; ++i) {
        fields[i] = {kPythonFields[i].name, kPythonFields[i].help};
    }
    return fields;
}();

PyStructSequence_Desc g_description = {
    "cijobresults.Record",
    "One job result read from a job results file: a named tuple of client_name,\n"
    "url, backup_job_id, error_string (str, or bytes when read with bytes=True)\n"
    "and size (int).",
    g_fields.data(),
    static_cast<int>(jobresults::kRecordFieldCount),
};

PyObject* NewValue(const JobResults& record, const jobresults::RecordField& field, bool asBytes) {
    if (field.kind == jobresults::FieldKind::kNumber) {
        return PyLong_FromUnsignedLongLong(record.*field.number);
    }
    const std::string& text = record.*field.text;
    return NewText(text.data(), text.size(), asBytes);
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
    for (std::size_t i = 0; i < jobresults::kRecordFieldCount; ++i) {
        PyObject* value = NewValue(record, jobresults::kRecordFields[i], asBytes);
        if (value == nullptr) {
            Py_DECREF(result);
            return nullptr;
        }
        PyStructSequence_SET_ITEM(result, static_cast<Py_ssize_t>(i), value);
    }
    return result;
}

}  // namespace pyjobresults
