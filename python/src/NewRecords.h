// Reading on from a kept progress, from Python: what a file gained since
// an earlier reading, as the library's ReadOn finds it, yielded as
// (record, offset) pairs, and then the outcome and the new progress.
//
// ReadOn hands its records to a visitor until the file is read. So that
// Python can iterate, and in the same memory whatever the file's size,
// ReadOn runs on a thread of its own, which never touches Python: it fills
// a batch of records, hands it over, and waits while the batch before is
// still being taken. At most three batches exist at a time.
#ifndef CIJOBRESULTS_PYTHON_NEWRECORDS_H
#define CIJOBRESULTS_PYTHON_NEWRECORDS_H

#include <pybind11/pybind11.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "jobresults/JobResultsProgress.h"

namespace pyjobresults {

class NewRecords {
public:
    // Decides what changed in `file` since `progress` and, unless nothing
    // did, starts reading on.
    NewRecords(jobresults::ResultsFile file, const jobresults::FileProgress& progress,
               bool asBytes);
    // A reading not finished is given up: the thread passes over the rest.
    ~NewRecords();
    NewRecords(const NewRecords&) = delete;
    NewRecords& operator=(const NewRecords&) = delete;

    // The next (record, offset) tuple (a new reference); nullptr without a
    // Python error at the end, with one when another thread uses the
    // object or memory ran out.
    PyObject* Next();
    // Gives the reading up; its outcome stays unknown. False with
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
    // Records per batch: as the streaming reader's, enough to spread the
    // cost of waking the other side, few enough to stay in the cache.
    static constexpr std::size_t kBatchSize = 256;

    struct Delivered {
        JobResults record;
        std::uint64_t offset = 0;
    };

    // On the reading thread.
    void Work();
    void Deliver(const JobResults& record, std::uint64_t offset);
    void HandOver();
    // Takes the next batch; false at the end. Without the GIL.
    bool TakeBatch();
    // Makes the reading thread pass over the rest, and waits for it.
    void Abandon();

    jobresults::ResultsFile m_file;
    jobresults::FileChange m_change = jobresults::FileChange::kChanged;
    std::int64_t m_statusChange = 0;
    bool m_asBytes;

    // Written by the reading thread until it ends, read after that.
    jobresults::FileProgress m_progress;
    jobresults::ProgressOutcome m_outcome;
    bool m_workFailed = false;

    std::mutex m_mutex;
    std::condition_variable m_moved;
    std::vector<Delivered> m_filling;  // the reading thread's
    std::vector<Delivered> m_handed;   // under m_mutex, with the two flags
    bool m_handedReady = false;
    bool m_workDone = false;
    std::atomic<bool> m_abandoned{false};
    std::thread m_worker;

    // Python's side.
    std::vector<Delivered> m_taken;
    std::size_t m_nextTaken = 0;
    bool m_finished = false;
    bool m_closed = false;
    bool m_inUse = false;
};

// Adds the iterator type as NewRecords.
void AddNewRecordsType(pybind11::module_& module);

}  // namespace pyjobresults

#endif
