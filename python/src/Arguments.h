// The arguments of a method called the vectorcall way (METH_FASTCALL |
// METH_KEYWORDS): each parameter by position or by name, as a Python def
// takes them, without the tuple and dictionary of a classic call. Used where
// the call itself is a large part of the work (Writer.add).
#ifndef CIJOBRESULTS_PYTHON_ARGUMENTS_H
#define CIJOBRESULTS_PYTHON_ARGUMENTS_H

#include <Python.h>

#include <cstddef>
#include <vector>

namespace pyjobresults {

class Arguments {
public:
    // The parameters in order; the first `required` must be given. Needs
    // the GIL (the names are interned).
    Arguments(const char* function, std::vector<const char*> names, std::size_t required);

    // Fills values[i] with the argument for parameter i (a borrowed
    // reference; nullptr for an optional parameter not given). False with
    // TypeError set for a missing, repeated or unknown argument.
    bool Parse(PyObject* const* args, Py_ssize_t positional, PyObject* keywordNames,
               PyObject** values) const;

private:
    Py_ssize_t IndexOf(PyObject* name) const;

    const char* m_function;
    std::vector<const char*> m_names;
    std::vector<PyObject*> m_interned;
    std::size_t m_required;
};

}  // namespace pyjobresults

#endif
