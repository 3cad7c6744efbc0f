// salvage FILE: the intact records of a damaged file copied, through the
// store's writer, into a file of the same creation time. By default the
// copy takes the damaged file's own name and the damaged file is kept as
// "<name>.damaged", which no listing takes for a job results file: the
// history (creation time, records) stays as it was, and nothing is lost
// whenever the process stops (see Replace).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <optional>

#include "jrtool/Cli.h"
#include "jrtool/Files.h"
#include "jrtool/Text.h"

namespace jrtool {

namespace {

// Appended to a damaged file's path when the rescue takes its place.
constexpr char kDamagedSuffix[] = ".damaged";

// What a walk over the file found.
struct SalvageTally {
    std::uint64_t records = 0;
    std::uint64_t stretches = 0;
    std::uint64_t skippedBytes = 0;
    bool cut = false;
    std::uint64_t cutAt = 0;
    int readError = 0;

    bool Sound() const { return stretches == 0 && !cut && readError == 0; }
};

// Walks the file's records and damage into `tally`; every intact record
// goes to `copy` when given, each skipped stretch is printed when `report`.
// False when the copy fails.
bool Walk(JobResultsRecovery& walk, ResultsWriter* copy, bool report, SalvageTally& tally) {
    for (;;) {
        switch (walk.next()) {
            case JobResultsRecovery::Found::kRecord:
                if (copy != nullptr && !copy->Add(walk.record())) return false;
                ++tally.records;
                break;
            case JobResultsRecovery::Found::kDamage:
                if (report) {
                    std::cout << "skipped: " << Counted(walk.length(), "byte") << " at byte "
                              << walk.offset() << '\n';
                }
                ++tally.stretches;
                tally.skippedBytes += walk.length();
                break;
            case JobResultsRecovery::Found::kEnd:
                tally.cut = walk.ending() == JobResultsRecovery::Ending::kCut;
                tally.cutAt = walk.offset();
                return true;
            case JobResultsRecovery::Found::kReadFailed:
                tally.readError = walk.errorNumber();
                return true;
        }
    }
}

std::string HostDirectoryOf(const ResultsFilePath& file) {
    if (!file.IsPlain()) return LocateOnHost(file.dirName).directory;
    const auto slash = file.fileName.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : file.fileName.substr(0, slash);
}

// Syncs a file, or a directory after renames in it; errno on failure.
int Sync(const std::string& path, int flags) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) return errno;
    const int failure = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return failure;
}

// Whether two paths name the same file.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Moves the synced rescue to `target`. In place, the damaged file gets a
// second name first and the rescue then replaces the first one in a single
// rename: a stop before it leaves the damaged file under both names, a stop
// after it the rescue under the file's name; the rescue's temporary name
// is never listed. The directory is synced between the link and the
// rename: a power loss may otherwise keep the rename and lose the link,
// and with it the damaged file. Elsewhere, `target` is never overwritten.
bool Replace(const std::string& rescue, const ResultsFilePath& target, bool inPlace,
             std::string& error) {
    const std::string path = target.WholePath();
    const std::string directory = HostDirectoryOf(target);
    if (const int failure = Sync(rescue, 0)) {
        error = WithReason("cannot sync " + rescue, failure);
        return false;
    }
    if (inPlace) {
        const std::string kept = path + kDamagedSuffix;
        // A run stopped behind the link left the same file there.
        if (link(path.c_str(), kept.c_str()) != 0 && !(errno == EEXIST && SameFile(path, kept))) {
            error = errno == EEXIST ? kept +
                                          " exists (a damaged file set aside before): move it "
                                          "away and salvage again"
                                    : WithReason("cannot link " + path + " to " + kept, errno);
            return false;
        }
        if (const int failure = Sync(directory, O_DIRECTORY)) {
            error = WithReason("cannot sync the directory of " + path, failure);
            return false;
        }
        if (rename(rescue.c_str(), path.c_str()) != 0) {
            error = WithReason("cannot rename " + rescue + " to " + path, errno);
            return false;
        }
    } else {
        if (link(rescue.c_str(), path.c_str()) != 0) {
            error = WithReason("cannot name the copy " + path, errno);
            return false;
        }
        unlink(rescue.c_str());
    }
    if (const int failure = Sync(directory, O_DIRECTORY)) {
        error = WithReason("cannot sync the directory of " + path, failure);
        return false;
    }
    return true;
}

class SalvageCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "salvage", "Replace a damaged file by a copy of its intact records");
        m_fileArgument.Register(command);
        command->add_option("--out", m_outDirName,
                            "Write the copy under this directory name and leave FILE as it is");
        command->footer(FileArgumentHelp() +
                        "\nEach intact record is copied, in order, to a file of the same "
                        "creation time. Without --out the copy takes FILE's name and the "
                        "damaged file is kept as FILE" +
                        std::string(kDamagedSuffix) + ". A file without damage is not copied.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto file = m_fileArgument.Parse(error);
        if (!file) return ReportUsageError(error);
        if (const auto target = Target(*file)) RemoveLeftovers(target->WholePath());
        SalvageTally survey;
        if (!Survey(*file, survey, error)) return ReportFailure(error);
        if (survey.readError != 0) {
            return ReportFailure(WithReason("cannot read " + file->WholePath(), survey.readError));
        }
        if (survey.Sound() && ReaderAccepts(*file)) {
            std::cout << "sound: " << file->WholePath() << " holds "
                      << Counted(survey.records, "record") << " and no damage; nothing copied\n";
            return kExitSuccess;
        }
        return Rescue(*file);
    }

private:
    // The copies that salvages of the same target left when they were
    // stopped: nothing else removes them. A salvage of the same file
    // running at this moment would lose its copy and fail; salvages of one
    // file run one at a time.
    static void RemoveLeftovers(const std::string& path) {
        for (const std::string& leftover : RescueLeftoversOf(path)) {
            if (unlink(leftover.c_str()) == 0) {
                std::cout << "removed: " << leftover << " (left by a salvage that stopped)\n";
            } else if (errno != ENOENT) {
                std::cerr << "jobresults: " << WithReason("cannot remove " + leftover, errno)
                          << '\n';
            }
        }
    }

    static bool Survey(const ResultsFilePath& file, SalvageTally& tally, std::string& error) {
        JobResultsRecovery walk;
        return OpenLayoutWalk(file, walk, error) && Walk(walk, nullptr, false, tally);
    }

    // A file the layout walk finds whole may still be one the reader
    // refuses (cut inside its final end tag): the copy then mends it.
    static bool ReaderAccepts(const ResultsFilePath& file) {
        RecordSource source;
        if (!source.Open(file)) return false;
        JobResults record;
        while (source.Next(record)) {
        }
        return source.Valid();
    }

    // Where the copy goes: the file itself, or the --out directory name
    // under the same creation time (the current one when the name has none).
    std::optional<ResultsFilePath> Target(const ResultsFilePath& file) const {
        std::string base = file.fileName.substr(file.fileName.rfind('/') + 1);
        // A damaged file set aside by an earlier salvage keeps its time.
        const std::string kept = kDamagedSuffix;
        if (base.size() > kept.size() &&
            base.compare(base.size() - kept.size(), kept.size(), kept) == 0) {
            base.resize(base.size() - kept.size());
        }
        const auto created = CreationTimeFromFileName(base);
        if (m_outDirName.empty()) {
            if (file.IsPlain() || !CreationTimeFromFileName(file.fileName)) return std::nullopt;
            return file;
        }
        if (!created) return std::nullopt;
        return ResultsFilePath{m_outDirName, ResultsFileName(*created)};
    }

    int Rescue(const ResultsFilePath& file) const {
        std::string error;
        JobResultsRecovery walk;
        if (!OpenLayoutWalk(file, walk, error)) return ReportFailure(error);
        const auto target = Target(file);
        // Without a creation time to keep, the writer names the copy.
        ResultsWriter writer(target                 ? RescueDirName(target->WholePath())
                             : m_outDirName.empty() ? file.dirName
                                                    : m_outDirName);
        // A copy under a temporary name is synced by Replace, name and all;
        // one the writer names itself goes to the disk whole before the save
        // returns.
        const JobResultsSync level = target ? JobResultsSync::kNone : JobResultsSync::kAppend;
        SalvageTally tally;
        const bool copied =
            writer.SetSync(JobResultsSync::kNone) && Walk(walk, &writer, true, tally);
        const bool saved = copied && writer.SetSync(level) && writer.Save();
        if (!copied || !saved) return Failed(writer);
        if (tally.cut) {
            std::cout << "cut: the file stops at byte " << tally.cutAt
                      << ", where a record or its end tag should follow\n";
        }
        std::cout << "recovered: " << Counted(tally.records, "record") << '\n'
                  << "discarded: " << Counted(tally.skippedBytes, "byte") << " in "
                  << Counted(tally.stretches, "damaged stretch", "damaged stretches") << '\n';
        if (tally.records == 0)
            return ReportFailure("no intact record to recover; no file written");
        if (tally.readError != 0) {
            unlink(writer.CreatedPath().c_str());
            return ReportFailure(WithReason("read failed", tally.readError));
        }
        if (!target) {
            std::cout << "written: " << writer.CreatedPath() << '\n';
            return kExitSuccess;
        }
        const bool inPlace = m_outDirName.empty();
        if (!Replace(writer.CreatedPath(), *target, inPlace, error)) {
            unlink(writer.CreatedPath().c_str());
            return ReportFailure(error);
        }
        std::cout << "written: " << target->WholePath() << '\n';
        if (inPlace)
            std::cout << "damaged file kept as: " << target->WholePath() << kDamagedSuffix << '\n';
        return kExitSuccess;
    }

    static int Failed(const ResultsWriter& writer) {
        if (writer.Created()) unlink(writer.CreatedPath().c_str());
        return ReportFailure(writer.Error().empty() ? "the copy could not be saved"
                                                    : writer.Error());
    }

    SingleFileArgument m_fileArgument;
    std::string m_outDirName;
};

}  // namespace

std::unique_ptr<Command> MakeSalvageCommand() { return std::make_unique<SalvageCommand>(); }

}  // namespace jrtool
