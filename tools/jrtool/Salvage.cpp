// salvage FILE: the intact records of a damaged file copied, through the
// store's writer, into a file of the same creation time. By default the
// copy takes the damaged file's own name and the damaged file is kept as
// "<name>.damaged", which no listing takes for a job results file: the
// history (creation time, records) stays as it was, and nothing is lost
// whenever the process stops. The library's SalvageResultsFile does it
// all; this command puts what it did into words.
#include <cerrno>
#include <iostream>

#include "jrtool/Cli.h"
#include "jrtool/Files.h"
#include "jrtool/Text.h"

namespace jrtool {

namespace {

using jobresults::SalvageResult;
using jobresults::SalvageStep;

// The copies of stopped salvages removed (or not) before the salvage.
void ReportLeftovers(const SalvageResult& result) {
    for (const jobresults::LeftoverRemoval& leftover : result.leftovers) {
        if (leftover.error == 0) {
            std::cout << "removed: " << leftover.path << " (left by a salvage that stopped)\n";
        } else {
            std::cerr << "jobresults: "
                      << WithReason("cannot remove " + leftover.path, leftover.error) << '\n';
        }
    }
}

// What the copy's walk found: the damaged stretches as they were found,
// then, once the copy is saved, the sum of it.
void ReportWalk(const SalvageResult& result, bool saved) {
    for (const jobresults::DamagedStretch& stretch : result.stretches) {
        std::cout << "skipped: " << Counted(stretch.length, "byte") << " at byte " << stretch.offset
                  << '\n';
    }
    if (!saved) return;
    if (result.cut) {
        std::cout << "cut: the file stops at byte " << result.cutAt
                  << ", where a record or its end tag should follow\n";
    }
    std::cout << "recovered: " << Counted(result.records, "record") << '\n'
              << "discarded: " << Counted(result.damagedBytes, "byte") << " in "
              << Counted(result.stretches.size(), "damaged stretch", "damaged stretches") << '\n';
}

// The words for a failed salvage of the file at `path`.
std::string FailureText(const SalvageResult& result, const std::string& path) {
    const int reason = result.errorNumber;
    const std::string& copy = result.copyPath;
    switch (result.step) {
        case SalvageStep::kNone:
            break;
        case SalvageStep::kOpen:
            if (reason == EBUSY) {
                return path +
                       ": its writer is alive and may still append; nothing changed (salvage "
                       "it once its writer has stopped)";
            }
            return WithReason("cannot open " + path, reason);
        case SalvageStep::kSurvey:
            return WithReason("cannot read " + path, reason);
        case SalvageStep::kNoDirectoryName:
            return kNoDirectoryNameMessage;
        case SalvageStep::kCopy:
            if (result.storeMessage.empty()) return "the store failed without a message";
            return WithReason(result.storeMessage, reason);
        case SalvageStep::kLocateCopy:
            return NoCreatedFileMessage(result.copyDirName);
        case SalvageStep::kNoRecord:
            return "no intact record to recover; no file written";
        case SalvageStep::kCopyRead:
            return WithReason("read failed", reason);
        case SalvageStep::kSyncCopy:
            return WithReason("cannot sync " + result.rescuePath, reason);
        case SalvageStep::kSetAside:
            if (reason == EEXIST) {
                return result.damagedPath +
                       " exists (a damaged file set aside before): move it away and salvage "
                       "again";
            }
            return WithReason("cannot link " + copy + " to " + result.damagedPath, reason);
        case SalvageStep::kSyncDirectory:
            return WithReason("cannot sync the directory of " + copy, reason);
        case SalvageStep::kRename:
            return WithReason("cannot rename " + result.rescuePath + " to " + copy, reason);
        case SalvageStep::kNameCopy:
            return WithReason("cannot name the copy " + copy, reason);
    }
    return "";
}

// Whether the copy was saved before the step failed (or none failed).
bool CopySaved(SalvageStep step) {
    return step != SalvageStep::kNoDirectoryName && step != SalvageStep::kCopy &&
           step != SalvageStep::kLocateCopy;
}

int Report(const SalvageResult& result, const std::string& path) {
    ReportLeftovers(result);
    if (result.step == SalvageStep::kOpen || result.step == SalvageStep::kSurvey) {
        return ReportFailure(FailureText(result, path));
    }
    if (result.sound) {
        std::cout << "sound: " << path << " holds " << Counted(result.records, "record")
                  << " and no damage; nothing copied\n";
        return kExitSuccess;
    }
    ReportWalk(result, CopySaved(result.step));
    if (!result.ok()) return ReportFailure(FailureText(result, path));
    std::cout << "written: " << result.copyPath << '\n';
    if (!result.damagedPath.empty())
        std::cout << "damaged file kept as: " << result.damagedPath << '\n';
    return kExitSuccess;
}

class SalvageCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "salvage", "Replace a damaged file by a copy of its intact records");
        m_fileArgument.Register(command);
        command->add_option("--out", m_options.outDirName,
                            "Write the copy under this directory name and leave FILE as it is");
        command->footer(FileArgumentHelp() +
                        "\nEach intact record is copied, in order, to a file of the same "
                        "creation time. Without --out the copy takes FILE's name and the "
                        "damaged file is kept as FILE" +
                        std::string(jobresults::kDamagedSuffix) +
                        ". A file without damage is not copied.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto file = m_fileArgument.Parse(error);
        if (!file) return ReportUsageError(error);
        return Report(jobresults::SalvageResultsFile(file->dirName, file->fileName, m_options),
                      file->WholePath());
    }

private:
    SingleFileArgument m_fileArgument;
    jobresults::SalvageOptions m_options;
};

}  // namespace

std::unique_ptr<Command> MakeSalvageCommand() { return std::make_unique<SalvageCommand>(); }

}  // namespace jrtool
