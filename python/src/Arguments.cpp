#include "Arguments.h"

#include <utility>

namespace pyjobresults {

Arguments::Arguments(const char* function, std::vector<const char*> names, std::size_t required)
    : m_function(function), m_names(std::move(names)), m_required(required) {
    // Immortal for the life of the process, like the module itself.
    for (const char* name : m_names) m_interned.push_back(PyUnicode_InternFromString(name));
}

// Keyword names in a call are interned strings as a rule, so the identity
// test nearly always decides; the comparison covers names built at run time.
Py_ssize_t Arguments::IndexOf(PyObject* name) const {
    for (std::size_t i = 0; i < m_interned.size(); ++i) {
        if (m_interned[i] == name) return static_cast<Py_ssize_t>(i);
    }
    for (std::size_t i = 0; i < m_names.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(name, m_names[i]) == 0) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

bool Arguments::Parse(PyObject* const* args, Py_ssize_t positional, PyObject* keywordNames,
                      PyObject** values) const {
    const auto count = static_cast<Py_ssize_t>(m_names.size());
    positional = PyVectorcall_NARGS(static_cast<size_t>(positional));
    if (positional > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd arguments (%zd given)", m_function,
                     count, positional);
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) values[i] = i < positional ? args[i] : nullptr;
    const Py_ssize_t keywords = keywordNames == nullptr ? 0 : PyTuple_GET_SIZE(keywordNames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* name = PyTuple_GET_ITEM(keywordNames, k);
        const Py_ssize_t index = IndexOf(name);
        if (index < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         m_function, name);
            return false;
        }
        if (values[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", m_function,
                         m_names[static_cast<size_t>(index)]);
            return false;
        }
        values[index] = args[positional + k];
    }
    for (std::size_t i = 0; i < m_required; ++i) {
        if (values[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", m_function,
                         m_names[i]);
            return false;
        }
    }
    return true;
}

}  // namespace pyjobresults
