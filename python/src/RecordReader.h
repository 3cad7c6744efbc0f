// Reading a job results file from Python: an iterator over its records
// through the library's streaming reader, in the same memory whatever the
// size of the file. Records are read in batches with the GIL released, then
// turned into Record objects; the verdict of the library's reader decides
// how the iteration ends.
#ifndef CIJOBRESULTS_PYTHON_RECORDREADER_H
#define CIJOBRESULTS_PYTHON_RECORDREADER_H

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jobresults/JobResultsReader.h"

namespace pyjobresults {

class RecordReader {
public:
    // Opens dirName + "\" + fileName; raises OSError or DamagedFileError.
    // With `resume`, goes on behind that point (OSError ESTALE when the file
    // is not the one it was taken in).
    RecordReader(const std::string& dirName, const std::string& fileName, bool asBytes,
                 const std::optional<jobresults::ResumePoint>& resume);

    // The next record (a new reference). nullptr without a Python error at
    // the end; with one when the file fails, after its sound records, or
    // when another thread uses the reader.
    PyObject* Next();

    // Releases the file; iteration stops. False with RuntimeError set when
    // another thread uses the reader.
    bool Close();

    // The whole path of the file.
    const std::string& Path() const { return m_path; }
    // The end of the last sound record read so far (see JobResultsReader).
    std::uint64_t ValidBytes() const { return m_reader.validBytes(); }
    // Behind the last record handed out, to resume from later. Raises
    // (nullopt, Python error set) when the file cannot be read again to
    // find it.
    std::optional<jobresults::ResumePoint> Point();

private:
    // Records per batch: enough to spread the cost of releasing the GIL,
    // few enough to stay in the cache.
    static constexpr std::size_t kBatchSize = 256;

    bool Refill();
    std::size_t ReadBatch();
    void SetVerdictError();

    JobResultsReader m_reader;
    // Where the batch being handed out began: the reader stands behind it.
    jobresults::ResumePoint m_batchStart;
    std::string m_path;
    bool m_asBytes;
    bool m_inUse = false;
    bool m_drained = false;
    bool m_verdictGiven = false;
    std::array<JobResults, kBatchSize> m_batch;
    std::vector<pybind11::object> m_ready;
    std::size_t m_nextReady = 0;
};

// Adds the iterator type as Reader.
void AddReaderType(pybind11::module_& module);

}  // namespace pyjobresults

#endif
