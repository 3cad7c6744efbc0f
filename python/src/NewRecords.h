// Reading on from a kept progress, from Python: what a file gained since
// an earlier reading, as the library's ProgressReading finds it, yielded
// as (record, offset) pairs, and then the outcome and the new progress.
//
// Records are pulled in batches with the GIL released, as the reader of
// read() does, and turned into Python objects one at a time: memory stays
// the same whatever the file's size. The reading works on a copy of the
// progress, so one given up early changes nothing the caller holds.
#ifndef CIJOBRESULTS_PYTHON_NEWRECORDS_H
#define CIJOBRESULTS_PYTHON_NEWRECORDS_H

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "jobresults/JobResultsProgress.h"

namespace pyjobresults {

class NewRecords {
public:
    // Decides what changed in `file` since `progress` and, unless nothing
    // did, opens the reading.
    NewRecords(jobresults::ResultsFile file, const jobresults::FileProgress& progress,
               bool asBytes);

    // The next (record, offset) tuple (a new reference); nullptr without a
    // Python error at the end, with one when another thread uses the
    // object.
    PyObject* Next();
    // Drops the reading; its outcome stays unknown. False with
    // RuntimeError set when another thread uses the object.
    bool Close();

    jobresults::FileChange Change() const { return m_change; }
    const jobresults::ResultsFile& File() const { return m_file; }
    // Whether the records were all taken, and so the outcome known.
    bool Finished() const { return m_finished; }
    // Once finished: the progress to keep, and what the reading found.
    const jobresults::FileProgress& Progress() const { return m_progress; }
    const jobresults::ProgressOutcome& Outcome() const { return m_outcome; }

private:
    // Records per batch: enough to spread the cost of releasing the GIL,
    // few enough to stay in the cache.
    static constexpr std::size_t kBatchSize = 256;

    // Pulls the next batch; false once the reading is over.
    bool Refill();
    std::size_t PullBatch();
    // Takes the outcome and the progress of the reading over, and drops it.
    void Finish();

    jobresults::ResultsFile m_file;
    jobresults::FileChange m_change = jobresults::FileChange::kChanged;
    std::int64_t m_statusChange = 0;
    bool m_asBytes;

    std::unique_ptr<jobresults::ProgressReading> m_reading;
    std::array<JobResults, kBatchSize> m_batch;
    std::array<std::uint64_t, kBatchSize> m_offsets{};
    std::size_t m_pulled = 0;
    std::size_t m_nextPulled = 0;

    jobresults::FileProgress m_progress;
    jobresults::ProgressOutcome m_outcome;
    bool m_finished = false;
    bool m_inUse = false;
};

// Adds the iterator type as NewRecords.
void AddNewRecordsType(pybind11::module_& module);

}  // namespace pyjobresults

#endif
