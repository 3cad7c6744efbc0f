#include "jrtool/WholeFileReading.h"

#include "jrtool/Cli.h"

namespace jrtool {

namespace {

// Whether the reader stands at `point` of the file a run before read.
bool AtSamePoint(const RecordSource& source, const jobresults::ResumePoint& point) {
    if (source.ValidBytes() != point.offset) return false;
    const jobresults::ResumePoint now = source.Point();
    return now.rootContent == point.rootContent && now.fingerprint == point.fingerprint;
}

// Moves the progress to where a reading that `source` ended stands, with
// check's verdict on the file (empty when it passes).
void Settle(const jobresults::ResultsFile& file, const RecordSource& source,
            const std::string& verdict, FileProgress& progress, ReadOutcome& outcome) {
    const jobresults::ResumePoint point = source.Point();
    if (point.offset > 0) progress.point = point;
    progress.identity = file.identity;
    progress.size = file.size;
    progress.modifiedNs = file.modifiedNanoseconds;
    if (verdict.empty()) {
        progress.state = AcceptedState(source.Check());
    } else if (SameAsListed(file)) {
        progress.state = FileState::kDamaged;
        outcome.problem = verdict;
    } else {
        // Caught in the middle of an append: the next change reads on.
        progress.state = FileState::kOpen;
        progress.size = 0;
    }
}

}  // namespace

ReadOutcome ReadWholeFile(const jobresults::ResultsFile& file, FileProgress& progress,
                          const RecordVisitor& visit) {
    ReadOutcome outcome;
    if (progress.identity != file.identity) progress = FileProgress();
    const jobresults::ResumePoint counted = progress.point;
    const ResultsFilePath path = ResultsFilePath::Plain(file.path);
    RecordSource source;
    const bool opened = source.Open(path);
    bool sameInFront = counted.offset == 0 || (opened && AtSamePoint(source, counted));
    JobResults record;
    while (opened && source.Next(record)) {
        if (source.ValidBytes() <= counted.offset) {
            sameInFront = sameInFront || AtSamePoint(source, counted);
            continue;
        }
        if (!sameInFront) break;
        if (progress.firstRecord == 0) progress.firstRecord = source.Point().fingerprint;
        visit(record, source.RecordOffset());
        ++outcome.records;
    }
    if (!source.Valid() && !source.Damaged()) {
        outcome.problem = source.Error();
        return outcome;
    }
    if (!sameInFront) {
        outcome.replaced = true;
        return outcome;
    }
    Settle(file, source, CheckVerdict(path, source), progress, outcome);
    return outcome;
}

}  // namespace jrtool
