#include "Text.h"

namespace pyjobresults {

namespace {

const char kSurrogateEscape[] = "surrogateescape";

bool EncodedStr(PyObject* value, std::string& out) {
    Py_ssize_t size = 0;
    // The UTF-8 form CPython keeps with the string: no copy for plain text.
    if (const char* data = PyUnicode_AsUTF8AndSize(value, &size)) {
        out.assign(data, static_cast<std::size_t>(size));
        return true;
    }
    // Lone surrogates have no UTF-8 form of their own; those that stand for
    // bytes go back to the bytes, any other fails.
    PyErr_Clear();
    PyObject* encoded = PyUnicode_AsEncodedString(value, "utf-8", kSurrogateEscape);
    if (encoded == nullptr) return false;
    out.assign(PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded)));
    Py_DECREF(encoded);
    return true;
}

}  // namespace

PyObject* NewText(const char* data, std::size_t size, bool asBytes) {
    const auto length = static_cast<Py_ssize_t>(size);
    if (asBytes) return PyBytes_FromStringAndSize(data, length);
    return PyUnicode_DecodeUTF8(data, length, kSurrogateEscape);
}

PyObject* NewFileName(const std::string& path) {
    return PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
}

bool BytesOf(PyObject* value, const char* what, std::string& out) {
    if (PyUnicode_Check(value)) return EncodedStr(value, out);
    if (PyBytes_Check(value)) {
        out.assign(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value)));
        return true;
    }
    if (PyObject_CheckBuffer(value)) {
        Py_buffer view;
        if (PyObject_GetBuffer(value, &view, PyBUF_SIMPLE) != 0) return false;
        out.assign(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len));
        PyBuffer_Release(&view);
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s must be str or bytes, not %.100s", what,
                 Py_TYPE(value)->tp_name);
    return false;
}

}  // namespace pyjobresults
