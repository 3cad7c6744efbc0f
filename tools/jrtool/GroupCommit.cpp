#include "jrtool/GroupCommit.h"

#include <poll.h>

namespace jrtool {

bool GroupCommit::Added() {
    if (m_pending++ == 0) m_batchStart = std::chrono::steady_clock::now();
    return m_pending < kBatchRecords || Commit();
}

bool GroupCommit::BeforeRead() {
    if (m_pending == 0) return true;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_batchStart);
    if (waited < kBatchWait && InputReadyWithin(kBatchWait - waited)) return true;
    return Commit();
}

bool GroupCommit::Commit() {
    if (m_pending == 0) return true;
    if (!m_writer.Sync()) return false;
    m_durable += m_pending;
    m_pending = 0;
    return true;
}

// Bytes already buffered, or the descriptor readable (or at its end) in time.
bool GroupCommit::InputReadyWithin(std::chrono::milliseconds wait) const {
    if (m_inputFd < 0 || m_input.rdbuf()->in_avail() > 0) return true;
    pollfd input{m_inputFd, POLLIN, 0};
    return poll(&input, 1, static_cast<int>(wait.count())) != 0;
}

}  // namespace jrtool
