// Writing a job results file from Python: the library's writer behind
// cijobresults.Writer. Every append is in the file when add returns; the
// GIL is released while the library writes.
#ifndef CIJOBRESULTS_PYTHON_RECORDWRITER_H
#define CIJOBRESULTS_PYTHON_RECORDWRITER_H

#include <pybind11/pybind11.h>

#include <array>
#include <string>

#include "jobresults/JobResultsRecord.h"
#include "jobresults/cijobresults.h"

namespace pyjobresults {

class RecordWriter {
public:
    // Raises ValueError for an empty directory name, and for a sync level
    // other than None (the environment's), "none", "name" or "append".
    RecordWriter(const std::string& dirName, const pybind11::object& sync);

    // The values of one record, in the order of JobResults: four str or
    // bytes objects and an int.
    using Values = std::array<PyObject*, jobresults::kRecordFieldCount>;

    // Appends one record; the first creates the file. False with a Python
    // error set: OSError with the library's message when the append fails
    // (the file keeps every earlier record), ValueError after the save,
    // TypeError for a value of the wrong type.
    bool Add(const Values& values);

    // Writes the final end tag and closes the file; later calls do nothing.
    void Save();
    bool Saved() const { return m_saved; }
    // Every record added so far on the disk (a group commit); OSError when
    // the sync fails.
    void Sync();

    // The whole path (bytes) of the file, once the first append has created
    // it; None before.
    pybind11::object CreatedPath() const;

private:
    bool Convert(const Values& values, JobResults& record) const;
    bool Append(JobResults record);
    void RememberCreatedFile();
    void RunOrRaise(int (CCIJobResults::*operation)());

    CCIJobResults m_store;
    bool m_inUse = false;
    bool m_saved = false;
    std::string m_createdPath;
};

// Adds the writer type as Writer.
void AddWriterType(pybind11::module_& module);

}  // namespace pyjobresults

#endif
