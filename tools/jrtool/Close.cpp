// close FILE: saves a file whose writer is gone (killed before its save),
// as that save would have, keeping every record, the file's name and its
// creation time. The library's CloseLeftFile does it all under the
// writer's lock; this command puts the outcome into words.
#include <iostream>

#include "jrtool/Cli.h"
#include "jrtool/Files.h"
#include "jrtool/Text.h"
#include "jrtool/WriterState.h"

namespace jrtool {

namespace {

using jobresults::CloseOutcome;

// The words for a close of the file at `path` that changed nothing or failed.
std::string RefusalText(const jobresults::CloseResult& result, const std::string& path) {
    const int reason = result.errorNumber;
    switch (result.outcome) {
        case CloseOutcome::kClosed:
        case CloseOutcome::kAlreadySaved:
            break;
        case CloseOutcome::kWriterAlive:
            return path +
                   ": its writer is alive (or another close runs): it saves the file itself; "
                   "nothing changed";
        case CloseOutcome::kDamaged:
            return path + ": " + DamagedAt(path, result.check, true) +
                   "; nothing changed: jobresults salvage '" + path +
                   "' replaces it by its intact records";
        case CloseOutcome::kOpenFailed:
            return WithReason("cannot open " + path, reason);
        case CloseOutcome::kLockFailed:
            return WithReason("cannot lock " + path + " against its writer; nothing changed",
                              reason);
        case CloseOutcome::kReadFailed:
            return WithReason("cannot read " + path + "; nothing changed", reason);
        case CloseOutcome::kFinishFailed:
            return WithReason("cannot write the end of " + path + "; it reads as before", reason);
        case CloseOutcome::kSyncFailed:
            return WithReason("cannot sync " + path + " after saving it", reason);
    }
    return "";
}

class CloseCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "close", "Save a file whose writer is gone, keeping every record");
        m_fileArgument.Register(command);
        command->footer(FileArgumentHelp() +
                        "\nThe file keeps its name and creation time and ends as a save "
                        "leaves it. A file whose writer is alive, and a damaged file, are "
                        "left as they are (exit 1); a saved file is left too (exit 0).");
        return command;
    }

    int Run() override {
        std::string error;
        const auto file = m_fileArgument.Parse(error);
        if (!file) return ReportUsageError(error);
        const std::string path = file->WholePath();
        const jobresults::CloseResult result = jobresults::CloseLeftFile(path);
        if (result.outcome == CloseOutcome::kAlreadySaved) {
            std::cout << "saved already: " << path << " holds "
                      << Counted(result.check.records, "record") << "; nothing changed\n";
            return kExitSuccess;
        }
        if (!result.ok()) return ReportFailure(RefusalText(result, path));
        std::cout << "closed: " << path << " holds " << Counted(result.check.records, "record")
                  << " and is saved\n";
        return kExitSuccess;
    }

private:
    SingleFileArgument m_fileArgument;
};

}  // namespace

std::unique_ptr<Command> MakeCloseCommand() { return std::make_unique<CloseCommand>(); }

}  // namespace jrtool
