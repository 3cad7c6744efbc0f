// Records made durable a batch at a time: one sync for many appends, so
// that `write --sync=append` costs a fraction of a sync per record and a
// record still reaches the disk soon after its line arrived.
#ifndef CIJOBRESULTS_TOOLS_JRTOOL_GROUPCOMMIT_H
#define CIJOBRESULTS_TOOLS_JRTOOL_GROUPCOMMIT_H

#include <chrono>
#include <cstddef>
#include <istream>

#include "jrtool/Files.h"

namespace jrtool {

class GroupCommit {
public:
    // A batch ends after this many records, or once its first record has
    // waited this long, or when the input pauses (nothing to read within
    // the rest of that wait).
    static constexpr std::size_t kBatchRecords = 1000;
    static constexpr std::chrono::milliseconds kBatchWait{100};

    // inputFd: the descriptor behind `input` to wait on, -1 for none (a
    // regular file never makes the reader wait).
    GroupCommit(ResultsWriter& writer, std::istream& input, int inputFd)
        : m_writer(writer), m_input(input), m_inputFd(inputFd) {}

    // One more record appended. False when the batch it ended failed to sync.
    bool Added();
    // Before reading the next record: ends the batch when the reader would
    // otherwise keep it waiting past kBatchWait. False when the sync failed.
    bool BeforeRead();
    // Ends the last batch.
    bool Finish() { return Commit(); }
    // Records on the disk.
    std::size_t Durable() const { return m_durable; }

private:
    bool Commit();
    bool InputReadyWithin(std::chrono::milliseconds wait) const;

    ResultsWriter& m_writer;
    std::istream& m_input;
    int m_inputFd;
    std::size_t m_durable = 0;
    std::size_t m_pending = 0;
    std::chrono::steady_clock::time_point m_batchStart;
};

}  // namespace jrtool

#endif
