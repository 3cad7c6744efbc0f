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
    return DescribeResultsFile(dirName, file.fileName, now) == 0 &&
           now.identity == file.identity && now.size == file.size &&
           now.modifiedNanoseconds == file.modifiedNanoseconds;
}

// Whether the reader stands at `point` of the file a reading before saw.
bool AtSamePoint(const JobResultsReader& reader, const ResumePoint& point) {
    if (reader.validBytes() != point.offset) return false;
    const ResumePoint now = reader.resumePoint();
    return now.rootContent == point.rootContent && now.fingerprint == point.fingerprint;
}

// The reader refused the content, rather than a system call failing.
bool Refused(const JobResultsReader& reader) {
    return !reader.ok() && reader.errorNumber() == -1;
}

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

// Hands the record the reader delivered last to `visit`.
void Visit(const JobResultsReader& reader, const JobResults& record, FileProgress& progress,
           const ProgressVisitor& visit, ProgressOutcome& outcome) {
    if (progress.firstRecord == 0) progress.firstRecord = reader.resumePoint().fingerprint;
    visit(record, reader.recordOffset());
    ++outcome.records;
}

// Goes on behind the point; a file that is not the one read is read again
// from its start.
void ReadBehindPoint(const ResultsFile& file, JobResultsReader& reader, FileProgress& progress,
                     const ProgressVisitor& visit, ProgressOutcome& outcome) {
    bool opened = reader.resume(file.path, progress.point);
    if (!opened && reader.errorNumber() == ESTALE) {
        outcome.replaced = true;
        progress = FileProgress();
        opened = reader.resume(file.path, progress.point);
    }
    JobResults record;
    while (opened && reader.next(record)) Visit(reader, record, progress, visit, outcome);
}

// Reads from the start, passing over the records counted before once the
// point shows them unchanged. False when it does not.
bool ReadWhole(const ResultsFile& file, JobResultsReader& reader, FileProgress& progress,
               const ProgressVisitor& visit, ProgressOutcome& outcome) {
    const ResumePoint counted = progress.point;
    const bool opened = reader.open(file.path);
    bool sameInFront = counted.offset == 0 || (opened && AtSamePoint(reader, counted));
    JobResults record;
    while (opened && reader.next(record)) {
        if (reader.validBytes() <= counted.offset) {
            sameInFront = sameInFront || AtSamePoint(reader, counted);
            continue;
        }
        if (!sameInFront) break;
        Visit(reader, record, progress, visit, outcome);
    }
    return sameInFront;
}

}  // namespace

ProgressOutcome ReadOn(const ResultsFile& file, FileChange change, FileProgress& progress,
                       const ProgressVisitor& visit) {
    ProgressOutcome outcome;
    if (progress.identity != file.identity) progress = FileProgress();
    JobResultsReader reader;
    reader.setStrict(true);
    bool inStep = true;
    if (change == FileChange::kGrew) {
        ReadBehindPoint(file, reader, progress, visit, outcome);
    } else {
        inStep = ReadWhole(file, reader, progress, visit, outcome);
    }
    outcome.check = reader.check();
    if (!reader.ok() && !Refused(reader)) {
        outcome.problem = ProgressProblem::kFailed;
        outcome.check.error = reader.errorNumber();
        outcome.message = reader.errorMessage();
        return outcome;
    }
    if (!inStep) {
        outcome.replaced = true;
        return outcome;
    }
    Settle(file, reader, progress, outcome);
    return outcome;
}

}  // namespace jobresults
