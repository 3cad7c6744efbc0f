// Refuses a second caller. Reader and writer release the GIL while the
// library works, so another thread could enter the same object meanwhile;
// each call claims the object for its whole duration (under the GIL) and a
// call that finds it claimed raises RuntimeError instead of going on.
#ifndef CIJOBRESULTS_PYTHON_EXCLUSIVE_H
#define CIJOBRESULTS_PYTHON_EXCLUSIVE_H

#include <Python.h>

namespace pyjobresults {

class Exclusive {
public:
    // Claims `inUse`, or sets RuntimeError naming `what` when it is claimed.
    Exclusive(bool& inUse, const char* what) : m_inUse(inUse), m_claimed(!inUse) {
        if (m_claimed) {
            m_inUse = true;
        } else {
            PyErr_Format(PyExc_RuntimeError, "%s is in use by another thread", what);
        }
    }
    ~Exclusive() {
        if (m_claimed) m_inUse = false;
    }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

    explicit operator bool() const { return m_claimed; }

private:
    bool& m_inUse;
    bool m_claimed;
};

}  // namespace pyjobresults

#endif
