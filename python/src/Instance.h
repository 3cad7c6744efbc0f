// The C++ object inside an instance of a class bound with pybind11, for the
// type slots and raw methods that Python calls once per record. A checked
// cast looks the type up in pybind11's registry on every call, which costs
// about as much as building the record; these functions are only reached
// through the class's own slots and methods, so `self` is an instance of it
// (or of a Python subclass, whose first value is the class's object).
#ifndef CIJOBRESULTS_PYTHON_INSTANCE_H
#define CIJOBRESULTS_PYTHON_INSTANCE_H

#include <pybind11/pybind11.h>

#include <new>

namespace pyjobresults {

// The object, or nullptr with TypeError set when __init__ has not run.
template <typename T>
T* CppObject(PyObject* self) {
    auto* instance = reinterpret_cast<pybind11::detail::instance*>(self);
    void* value = instance->get_value_and_holder().value_ptr();
    if (value == nullptr) {
        PyErr_Format(PyExc_TypeError, "%.100s object is not initialised", Py_TYPE(self)->tp_name);
    }
    return static_cast<T*>(value);
}

// tp_iter of an iterator class: the iterator itself.
inline PyObject* IterSelf(PyObject* self) {
    Py_INCREF(self);
    return self;
}

// tp_iternext of an iterator class T whose Next() gives a new reference, or
// nullptr with an error or StopIteration set: a for loop reaches the next
// item without the dispatch of a bound method.
template <typename T>
PyObject* IterNext(PyObject* self) {
    T* iterator = CppObject<T>(self);
    if (iterator == nullptr) return nullptr;
    try {
        return iterator->Next();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace pyjobresults

#endif
