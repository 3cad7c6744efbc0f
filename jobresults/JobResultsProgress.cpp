// Reading on from a progress: behind the resume point for a file that grew,
// whole from the start for one that changed otherwise. Both settle the
// progress the same way once the reader gave its verdict.
#include "jobresults/JobResultsProgress.h"

#include <cerrno>

namespace jobresults {

namespace {

// Whether the file is still as the listing saw it: a file refused while it
// changes is a writer at work, not damage.
bool SameAsListed(const ResultsFile& file) {
    ResultsFile now;
    const std::string dirName = file.path.substr(0, file.path.size() - file.fileName.size() - 1);
    return DescribeResultsFile(dirName, file.fileName, now) == 0 && now.identity == file.identity &&
           now.size == file.size && now.modifiedNanoseconds == file.modifiedNanoseconds;
}

// Whether the reader stands at `point` of the file a reading before saw.
bool AtSamePoint(const JobResultsReader& reader, const ResumePoint& point) {
    if (reader.validBytes() != point.offset) return false;
    const ResumePoint now = reader.resumePoint();
    return now.rootContent == point.rootContent && now.fingerprint == point.fingerprint;
}

// The reader refused the content, rather than a system call failing.
bool Refused(const JobResultsReader& reader) { return !reader.ok() && reader.errorNumber() == -1; }

// Moves the progress to where the reading that `reader` ended stands.
void Settle(const ResultsFile& file, const JobResultsReader& reader, FileProgress& progress,
            ProgressOutcome& outcome) {
    const ResumePoint point = reader.resumePoint();
    if (point.offset > 0) progress.point = point;
    progress.identity = file.identity;
    progress.size = file.size;
    progress.modifiedNanoseconds = file.modifiedNanoseconds;
    if (reader.ok()) {
        progress.state =
            outcome.check.ending == FileEnding::kSaved ? FileState::kSaved : FileState::kOpen;
    } else if (SameAsListed(file)) {
        progress.state = FileState::kDamaged;
        outcome.problem = ProgressProblem::kDamaged;
    } else {
        // Caught in the middle of an append: the next change reads on.
        progress.state = FileState::kOpen;
        progress.size = 0;
    }
}

}  // namespace

struct ProgressReading::State {
    ResultsFile file;
    FileProgress progress;
    JobResultsReader reader;
    ProgressOutcome outcome;
    // Read whole from the start: the records up to `counted` were handed
    // out before, and are passed over once the bytes in front of it are
    // known to be the same (sameInFront).
    bool whole = false;
    ResumePoint counted;
    bool sameInFront = true;
    bool over = false;

    State(const ResultsFile& listed, FileChange change, const FileProgress& kept)
        : file(listed), progress(kept) {
        if (progress.identity != file.identity) progress = FileProgress();
        reader.setStrict(true);
        const bool opened = change == FileChange::kGrew ? OpenBehindPoint() : OpenWhole();
        if (!opened) Finish();
    }

    // Goes on behind the point; a file that is not the one read is read
    // again from its start.
    bool OpenBehindPoint() {
        if (reader.resume(file.path, progress.point)) return true;
        if (reader.errorNumber() != ESTALE) return false;
        outcome.replaced = true;
        progress = FileProgress();
        return reader.resume(file.path, progress.point);
    }

    bool OpenWhole() {
        whole = true;
        counted = progress.point;
        const bool opened = reader.open(file.path);
        sameInFront = counted.offset == 0 || (opened && AtSamePoint(reader, counted));
        return opened;
    }

    bool Next(JobResults& record, std::uint64_t& offset) {
        if (over) return false;
        while (reader.next(record)) {
            if (whole && reader.validBytes() <= counted.offset) {
                sameInFront = sameInFront || AtSamePoint(reader, counted);
                continue;
            }
            if (!sameInFront) break;
            if (progress.firstRecord == 0) progress.firstRecord = reader.resumePoint().fingerprint;
            offset = reader.recordOffset();
            ++outcome.records;
            return true;
        }
        Finish();
        return false;
    }

    void Finish() {
        over = true;
        outcome.check = reader.check();
        if (!reader.ok() && !Refused(reader)) {
            outcome.problem = ProgressProblem::kFailed;
            outcome.check.error = reader.errorNumber();
            outcome.message = reader.errorMessage();
        } else if (!sameInFront) {
            // The caller holds records the file no longer has: the
            // progress stays.
            outcome.replaced = true;
        } else {
            Settle(file, reader, progress, outcome);
        }
        reader.close();
    }
};

ProgressReading::ProgressReading(const ResultsFile& file, FileChange change,
                                 const FileProgress& progress)
    : m_state(std::make_unique<State>(file, change, progress)) {}

ProgressReading::~ProgressReading() = default;

bool ProgressReading::Next(JobResults& record, std::uint64_t& offset) {
    return m_state->Next(record, offset);
}

bool ProgressReading::Over() const { return m_state->over; }

const ProgressOutcome& ProgressReading::Outcome() const { return m_state->outcome; }

const FileProgress& ProgressReading::Progress() const { return m_state->progress; }

FileProgress ProgressReading::ProgressSoFar() const {
    const State& state = *m_state;
    if (state.over || state.outcome.records == 0) return state.progress;
    FileProgress progress = state.progress;
    progress.identity = state.file.identity;
    progress.point = state.reader.resumePoint();
    progress.size = 0;
    progress.modifiedNanoseconds = state.file.modifiedNanoseconds;
    progress.state = FileState::kOpen;
    return progress;
}

ProgressOutcome ReadOn(const ResultsFile& file, FileChange change, FileProgress& progress,
                       const ProgressVisitor& visit) {
    ProgressReading reading(file, change, progress);
    JobResults record;
    std::uint64_t offset = 0;
    // The visitor may look at the progress: it names the file by its first
    // record from the first visit on.
    while (reading.Next(record, offset)) {
        progress = reading.Progress();
        visit(record, offset);
    }
    progress = reading.Progress();
    return reading.Outcome();
}

}  // namespace jobresults
