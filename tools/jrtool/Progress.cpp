#include "jrtool/Progress.h"

#include <array>

#include "jrtool/StateFile.h"

namespace jrtool {

namespace {

constexpr std::array<const char*, 3> kStateNames = {"open", "saved", "damaged"};

constexpr std::size_t kProgressFields = 10;

}  // namespace

bool SameAsListed(const jobresults::ResultsFile& file) {
    jobresults::ResultsFile now;
    const std::string dirName = file.path.substr(0, file.path.size() - file.fileName.size() - 1);
    return jobresults::DescribeResultsFile(dirName, file.fileName, now) == 0 &&
           now.identity == file.identity && now.size == file.size &&
           now.modifiedNanoseconds == file.modifiedNanoseconds;
}

FileState AcceptedState(const jobresults::FileCheck& check) {
    return check.ending == jobresults::FileEnding::kSaved ? FileState::kSaved : FileState::kOpen;
}

const char* FileStateName(FileState state) { return kStateNames[static_cast<std::size_t>(state)]; }

bool FileProgress::Unchanged(const jobresults::ResultsFile& file) const {
    return (point.offset > 0 || state == FileState::kDamaged) && size > 0 &&
           point.offset <= file.size && identity == file.identity && size == file.size &&
           modifiedNs == file.modifiedNanoseconds;
}

std::vector<std::string> FileProgress::Fields() const {
    return {std::to_string(identity.device),
            std::to_string(identity.inode),
            std::to_string(identity.birthNanoseconds),
            std::to_string(size),
            std::to_string(modifiedNs),
            std::to_string(point.offset),
            std::to_string(point.rootContent),
            std::to_string(point.fingerprint),
            std::to_string(firstRecord),
            FileStateName(state)};
}

std::optional<FileProgress> FileProgress::FromFields(const std::vector<std::string>& fields,
                                                     std::size_t first) {
    if (fields.size() != first + kProgressFields) return std::nullopt;
    FileProgress p;
    const std::string* f = &fields[first];
    std::size_t state = kStateNames.size();
    for (std::size_t i = 0; i < kStateNames.size(); ++i) {
        if (f[9] == kStateNames[i]) state = i;
    }
    if (!ParseStateNumber(f[0], p.identity.device) || !ParseStateNumber(f[1], p.identity.inode) ||
        !ParseStateNumber(f[2], p.identity.birthNanoseconds) || !ParseStateNumber(f[3], p.size) ||
        !ParseStateNumber(f[4], p.modifiedNs) || !ParseStateNumber(f[5], p.point.offset) ||
        !ParseStateNumber(f[6], p.point.rootContent) ||
        !ParseStateNumber(f[7], p.point.fingerprint) || !ParseStateNumber(f[8], p.firstRecord) ||
        state == kStateNames.size()) {
        return std::nullopt;
    }
    p.state = static_cast<FileState>(state);
    return p;
}

ReadOutcome ReadNewRecords(const jobresults::ResultsFile& file, FileProgress& progress,
                           const RecordVisitor& visit) {
    ReadOutcome outcome;
    if (progress.identity != file.identity) progress = FileProgress();
    RecordSource source;
    bool opened = source.Resume(file.path, progress.point);
    if (!opened && source.Stale()) {
        outcome.replaced = true;
        progress = FileProgress();
        opened = source.Resume(file.path, progress.point);
    }
    JobResults record;
    while (opened && source.Next(record)) {
        if (progress.firstRecord == 0) progress.firstRecord = source.Point().fingerprint;
        visit(record, source.RecordOffset());
        ++outcome.records;
    }
    if (!source.Valid() && !source.Damaged()) {
        outcome.problem = source.Error();
        return outcome;
    }
    const jobresults::ResumePoint point = source.Point();
    if (point.offset > 0) progress.point = point;
    progress.identity = file.identity;
    progress.size = file.size;
    progress.modifiedNs = file.modifiedNanoseconds;
    if (source.Valid()) {
        progress.state = AcceptedState(source.Check());
    } else if (SameAsListed(file)) {
        progress.state = FileState::kDamaged;
        outcome.problem = "damaged at byte " + std::to_string(source.DamageOffset()) + ": " +
                          DamageText(source.Check());
    } else {
        // Caught in the middle of an append: the next change reads on.
        progress.state = FileState::kOpen;
        progress.size = 0;
    }
    return outcome;
}

}  // namespace jrtool
