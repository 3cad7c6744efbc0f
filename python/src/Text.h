// Conversions between the byte strings of the library and Python objects.
// The library passes bytes through unchanged; Python sees them as str
// decoded from UTF-8 with "surrogateescape", so that bytes that are no
// UTF-8 survive a round trip, or as bytes when asked for.
#ifndef CIJOBRESULTS_PYTHON_TEXT_H
#define CIJOBRESULTS_PYTHON_TEXT_H

#include <Python.h>

#include <string>

namespace pyjobresults {

// A new reference to str or bytes holding `size` bytes at `data`; nullptr
// with a Python error set when out of memory.
PyObject* NewText(const char* data, std::size_t size, bool asBytes);

// A new reference to a str for a file name: bytes decoded as the file
// system's names are (os.fsdecode).
PyObject* NewFileName(const std::string& path);

// The bytes of a str (encoded as UTF-8, lone surrogates of
// "surrogateescape" back to their bytes) or of a bytes-like object, into
// `out`. False with TypeError or UnicodeEncodeError set, naming `what`.
bool BytesOf(PyObject* value, const char* what, std::string& out);

}  // namespace pyjobresults

#endif
