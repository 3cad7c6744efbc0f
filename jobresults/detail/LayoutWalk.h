// A walk over a job results file that knows the bytes a writer leaves: the
// header, records exactly as the writer composes them, and the ends that a
// saved, an open or an interrupted writer leaves. Everything else is a
// damaged stretch, after which the walk goes on at the next record start.
// It reads through a FileWindow: a block or two of the file is held, or one
// record when that is larger.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_LAYOUTWALK_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_LAYOUTWALK_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "jobresults/JobResultsEnding.h"
#include "jobresults/JobResultsRecord.h"
#include "jobresults/detail/FileWindow.h"

namespace jobresults {

using LayoutEnding = FileEnding;

struct LayoutItem {
    enum class Kind { kRecord, kDamage, kEnd, kFailed };
    Kind kind = Kind::kEnd;
    std::uint64_t offset = 0;  // where the record, stretch or end begins
    std::uint64_t length = 0;  // its bytes (for an end: to the end of the file)
    LayoutEnding ending = LayoutEnding::kCut;
    int error = 0;  // kFailed: errno of the read
    // A record's bytes up to its end tag's ">", without the line break.
    std::uint64_t tagLength = 0;
};

class LayoutWalk {
public:
    // The window reads the file from its start.
    explicit LayoutWalk(FileWindow& window) : m_window(window) {}

    // The next item in file order; a record's fields go to record (each
    // value as the readers give it). After kEnd or kFailed it gives the same
    // item again.
    const LayoutItem& Next(JobResults& record);
    // For a walk that goes on behind a record of the file (the window
    // passes from the header over the records before it): the file ends
    // only once a record is written, and one was.
    void ResumeBehindRecord() { m_sawRecord = true; }

    // An append that a kill or a failed write left unfinished at the end
    // of the file: its torn head, or its tail behind the trailer.
    enum class Unfinished { kNone, kTornHead, kTail };

private:
    enum class Phase { kAtHeader, kBody, kDone };

    std::optional<LayoutItem> Step(JobResults& record);
    std::optional<LayoutItem> AtHeader();
    std::optional<LayoutItem> AtBoundary(JobResults& record);
    std::optional<LayoutItem> Resync();
    int EndsUnfinishedAppend(bool& ends) const;
    bool IsLongRecord() const;
    int JudgeLongRecord();
    LayoutItem DamageUntil(std::uint64_t end);
    LayoutItem EndAt(std::uint64_t offset, LayoutEnding ending);
    std::uint64_t Offset(size_t inWindow) const { return m_window.Dropped() + inWindow; }

    FileWindow& m_window;
    Phase m_phase = Phase::kAtHeader;
    size_t m_pos = 0;  // in the window: where the next item begins
    // While in a damaged stretch: its first byte (absolute).
    std::optional<std::uint64_t> m_damageStart;
    // The damaged stretch began as an unfinished append: it is one when it
    // runs to the end of the file.
    Unfinished m_unfinished = Unfinished::kNone;
    std::optional<LayoutItem> m_pending;
    bool m_sawRecord = false;
    // A record longer than the window's HoldLimit() is held only once its
    // end tag is known to follow (m_holdWhole until it is judged).
    bool m_holdWhole = false;
    LayoutItem m_last;
};

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_LAYOUTWALK_H
