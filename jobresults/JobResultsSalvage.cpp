// The salvage protocol: leftovers of stopped salvages removed, the file
// judged by a walk over it (and by the reader when the walk finds it
// whole), then every intact record copied at sync level none under a
// temporary name, and the copy synced and put in place (RescuePlacement).
#include "jobresults/JobResultsSalvage.h"

#include <unistd.h>

#include <cerrno>
#include <optional>

#include "jobresults/JobResultsNames.h"
#include "jobresults/JobResultsPaths.h"
#include "jobresults/JobResultsReader.h"
#include "jobresults/JobResultsRecovery.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/RescueCopy.h"
#include "jobresults/detail/RescuePlacement.h"
#include "jobresults/detail/WriterLock.h"

namespace jobresults {

namespace {

using FilePlace = ResultsPath;

// Where the copy goes: the file itself, or outDirName under the same
// creation time. Nullopt when there is no creation time to keep: the
// writer then names the copy.
std::optional<FilePlace> TargetOf(const FilePlace& file, const std::string& outDirName) {
    std::string base = file.fileName.substr(file.fileName.rfind('/') + 1);
    // A damaged file set aside by an earlier salvage keeps its time.
    if (base.size() > kDamagedSuffix.size() &&
        base.compare(base.size() - kDamagedSuffix.size(), kDamagedSuffix.size(), kDamagedSuffix) ==
            0) {
        base.resize(base.size() - kDamagedSuffix.size());
    }
    if (outDirName.empty()) {
        if (file.IsPlain() || !CreationTimeFromFileName(file.fileName)) return std::nullopt;
        return file;
    }
    const auto created = CreationTimeFromFileName(base);
    if (!created) return std::nullopt;
    return FilePlace{outDirName, ResultsFileName(*created)};
}

// The copies that salvages of the same target left when they were
// stopped: nothing else removes them.
void RemoveLeftovers(const std::string& path, SalvageResult& result) {
    for (const std::string& leftover : RescueLeftoversOf(path)) {
        if (unlink(leftover.c_str()) == 0) {
            result.leftovers.push_back({leftover, 0});
        } else if (errno != ENOENT) {
            result.leftovers.push_back({leftover, errno});
        }
    }
}

// Walks the file's records and damage into `result`; every intact record
// goes to `copy` when given. `readError` is the errno of a failed read.
// False when the copy fails.
bool Walk(JobResultsRecovery& walk, RescueCopy* copy, SalvageResult& result, int& readError) {
    for (;;) {
        switch (walk.next()) {
            case JobResultsRecovery::Found::kRecord:
                if (copy != nullptr && !copy->Add(walk.record())) return false;
                ++result.records;
                break;
            case JobResultsRecovery::Found::kDamage:
                result.stretches.push_back({walk.offset(), walk.length()});
                result.damagedBytes += walk.length();
                break;
            case JobResultsRecovery::Found::kEnd:
                result.cut = walk.ending() == JobResultsRecovery::Ending::kCut;
                result.cutAt = walk.offset();
                return true;
            case JobResultsRecovery::Found::kReadFailed:
                readError = walk.errorNumber();
                return true;
        }
    }
}

bool Fail(SalvageStep step, int errorNumber, SalvageResult& result) {
    result.step = step;
    result.errorNumber = errorNumber;
    return false;
}

bool OpenWalk(const FilePlace& file, JobResultsRecovery& walk, SalvageResult& result) {
    return walk.open(file.WholePath()) || Fail(SalvageStep::kOpen, walk.errorNumber(), result);
}

// A file the layout walk finds whole may still be one the reader
// refuses (cut inside its final end tag): the copy then mends it.
bool ReaderAccepts(const FilePlace& file) {
    JobResultsReader reader;
    reader.setStrict(true);
    if (!(file.IsPlain() ? reader.open(file.fileName) : reader.open(file.dirName, file.fileName))) {
        return false;
    }
    JobResults record;
    while (reader.next(record)) {
    }
    return reader.ok();
}

// Judges the file: sets result.sound for one with nothing to copy. False
// when it cannot be read.
bool Survey(const FilePlace& file, SalvageResult& result) {
    JobResultsRecovery walk;
    int readError = 0;
    if (!OpenWalk(file, walk, result)) return false;
    Walk(walk, nullptr, result, readError);
    if (readError != 0) return Fail(SalvageStep::kSurvey, readError, result);
    result.sound = result.stretches.empty() && !result.cut && ReaderAccepts(file);
    if (!result.sound) {
        // The copy's walk tells what it found again.
        result.records = 0;
        result.stretches.clear();
        result.damagedBytes = 0;
    }
    return true;
}

void Rescue(const FilePlace& file, const std::optional<FilePlace>& target,
            const std::string& outDirName, SalvageResult& result) {
    JobResultsRecovery walk;
    if (!OpenWalk(file, walk, result)) return;
    RescueCopy copy(target               ? RescueDirName(target->WholePath())
                    : outDirName.empty() ? file.dirName
                                         : outDirName);
    // A copy under a temporary name is synced by PlaceRescue, name and all;
    // one the writer names itself goes to the disk whole before the save
    // returns.
    result.copyDirName = copy.DirName();
    const JobResultsSync level = target ? JobResultsSync::kNone : JobResultsSync::kAppend;
    int readError = 0;
    const bool copied = copy.SetSync(JobResultsSync::kNone) && Walk(walk, &copy, result, readError);
    if (!copied || !copy.SetSync(level) || !copy.Save()) {
        if (copy.Created()) unlink(copy.CreatedPath().c_str());
        copy.TakeFailure(result);
        return;
    }
    result.rescuePath = copy.CreatedPath();
    if (result.records == 0) {
        Fail(SalvageStep::kNoRecord, ENODATA, result);
        return;
    }
    if (readError != 0) {
        unlink(result.rescuePath.c_str());
        Fail(SalvageStep::kCopyRead, readError, result);
        return;
    }
    if (!target) {
        result.copyPath = result.rescuePath;
        return;
    }
    if (!PlaceRescue(target->WholePath(), target->dirName, outDirName.empty(), result)) {
        unlink(result.rescuePath.c_str());
    }
}

// Keeps writers out of the file while it is salvaged: a shared hold on the
// writer's lock, released when the salvage closes its descriptor. A file
// whose writer is alive is refused (kOpen, EBUSY): its records appended
// after the copy would stay in the damaged file, which no listing takes.
// A file that cannot be opened here is left to the survey to report, and
// a file system without locks to the salvage as it was.
class WriterExclusion {
public:
    explicit WriterExclusion(const FilePlace& file)
        : m_fd(FileWindow::OpenToRead(file.WholePath())) {}
    ~WriterExclusion() {
        if (m_fd >= 0) ::close(m_fd);
    }
    WriterExclusion(const WriterExclusion&) = delete;
    WriterExclusion& operator=(const WriterExclusion&) = delete;

    bool WriterAlive() const { return m_fd >= 0 && ShareWriterLock(m_fd) == EAGAIN; }

private:
    int m_fd;
};

}  // namespace

SalvageResult SalvageResultsFile(const std::string& dirName, const std::string& fileName,
                                 const SalvageOptions& options) {
    SalvageResult result;
    const FilePlace file{dirName, fileName};
    const WriterExclusion exclusion(file);
    if (exclusion.WriterAlive()) {
        Fail(SalvageStep::kOpen, EBUSY, result);
        return result;
    }
    const std::optional<FilePlace> target = TargetOf(file, options.outDirName);
    if (target) RemoveLeftovers(target->WholePath(), result);
    if (Survey(file, result) && !result.sound) Rescue(file, target, options.outDirName, result);
    return result;
}

SalvageResult SalvageResultsFile(const std::string& path, const SalvageOptions& options) {
    const FilePlace file = SplitWholePath(path).value_or(ResultsPath::Plain(path));
    return SalvageResultsFile(file.dirName, file.fileName, options);
}

}  // namespace jobresults
