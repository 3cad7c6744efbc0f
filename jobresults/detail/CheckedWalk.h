// The records of a job results file as the walk over the writer's layout
// finds them, up to the first damage, and the file's check once they end:
// the strict reading of JobResultsReader and CheckResultsFile.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_CHECKEDWALK_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_CHECKEDWALK_H

#include <cstdint>

#include "jobresults/JobResultsCheck.h"
#include "jobresults/JobResultsRecord.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/LayoutWalk.h"

namespace jobresults {

class CheckedWalk {
public:
    // The window reads the file from its start, or passes from the header
    // over the records in front of the point a reader resumes at (then
    // ResumeBehindRecord).
    explicit CheckedWalk(FileWindow& window) : m_window(window), m_walk(window) {}
    CheckedWalk(const CheckedWalk&) = delete;
    CheckedWalk& operator=(const CheckedWalk&) = delete;

    void ResumeBehindRecord() { m_walk.ResumeBehindRecord(); }

    // The next sound record into `record`: true; false once the check is
    // made (Check()), and from then on.
    bool Next(JobResults& record);

    const FileCheck& Check() const { return m_check; }
    bool Done() const { return m_done; }

    // File offsets of the last record found: its "<", and behind its end
    // tag (0 before the first record).
    std::uint64_t RecordStart() const { return m_recordStart; }
    std::uint64_t RecordEnd() const { return m_recordEnd; }

private:
    void Conclude(const LayoutItem& item);

    FileWindow& m_window;
    LayoutWalk m_walk;
    FileCheck m_check;
    bool m_done = false;
    std::uint64_t m_recordStart = 0;
    std::uint64_t m_recordEnd = 0;
};

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_CHECKEDWALK_H
