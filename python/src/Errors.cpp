#include "Errors.h"

#include "Text.h"

namespace pyjobresults {

namespace py = pybind11;

namespace {

PyObject* g_damagedFileError = nullptr;

const char kDamagedFileErrorDoc[] =
    "A job results file whose content the reader refuses: cut off, overwritten\n"
    "or not a job results file at all. Raised after the records in front of the\n"
    "damage have been delivered. filename is the file's path, valid_bytes the\n"
    "offset where the damage begins (the end of the last sound record).";

py::object FileNameObject(const std::string& path) {
    PyObject* name = NewFileName(path);
    if (name == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(name);
}

// Text of the library, which may hold any byte, as str.
py::object TextObject(const std::string& text) {
    PyObject* object = NewText(text.data(), text.size(), false);
    if (object == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(object);
}

void Raise(PyObject* type, const py::tuple& arguments) {
    PyObject* error = PyObject_Call(type, arguments.ptr(), nullptr);
    if (error == nullptr) return;  // its own error stands
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
    Py_DECREF(error);
}

}  // namespace

void AddErrorTypes(py::module_& module) {
    g_damagedFileError = PyErr_NewExceptionWithDoc("cijobresults.DamagedFileError",
                                                   kDamagedFileErrorDoc, PyExc_OSError, nullptr);
    if (g_damagedFileError == nullptr) throw py::error_already_set();
    // OSError's own str() shows errno and strerror, which a damage lacks:
    // "[Errno None] None: '<path>'". The message carries the offset.
    const py::handle type(g_damagedFileError);
    py::setattr(
        type, "__str__",
        py::cpp_function(
            [](py::handle self) -> py::object {
                const py::tuple arguments = self.attr("args");
                if (arguments.size() == 1) return py::str(arguments[0]);
                return py::reinterpret_borrow<py::object>(PyExc_OSError).attr("__str__")(self);
            },
            py::is_method(type)));
    module.add_object("DamagedFileError", g_damagedFileError);
}

void SetOSError(int errorNumber, const std::string& text, const std::string& path) {
    try {
        const py::object message = TextObject(text);
        if (errorNumber <= 0) return Raise(PyExc_OSError, py::make_tuple(message));
        // OSError itself picks the subclass for the errno.
        if (path.empty()) return Raise(PyExc_OSError, py::make_tuple(errorNumber, message));
        Raise(PyExc_OSError, py::make_tuple(errorNumber, message, FileNameObject(path)));
    } catch (py::error_already_set& error) {
        error.restore();
    }
}

void SetDamagedFileError(const std::string& message, const std::string& path,
                         std::uint64_t validBytes) {
    try {
        py::object error =
            py::reinterpret_borrow<py::object>(g_damagedFileError)(TextObject(message));
        error.attr("filename") = FileNameObject(path);
        error.attr("valid_bytes") = validBytes;
        PyErr_SetObject(g_damagedFileError, error.ptr());
    } catch (py::error_already_set& error) {
        error.restore();
    }
}

}  // namespace pyjobresults
