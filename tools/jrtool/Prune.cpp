// prune DIR --older-than DAYS: removes the saved, sound files of a
// directory name created more than DAYS days ago, and none that a given
// follow state has not read to its end. The library judges and removes
// each file under the writer's lock (RemoveSavedFile); this command picks
// the files and puts the outcomes into words.
#include <ctime>
#include <iostream>

#include "jobresults/JobResultsRetention.h"
#include "jrtool/Cli.h"
#include "jrtool/FollowState.h"
#include "jrtool/Text.h"

namespace jrtool {

namespace {

using jobresults::RemoveOutcome;

// Why a file old enough stays; empty when it went (or would go).
std::string KeptBecause(const jobresults::RemoveResult& result) {
    const int reason = result.errorNumber;
    switch (result.outcome) {
        case RemoveOutcome::kRemoved:
            return "";
        case RemoveOutcome::kNotSaved:
            return "not saved: its writer is alive, or jobresults close saves it";
        case RemoveOutcome::kDamaged:
            return "damaged: jobresults salvage replaces it by its intact records";
        case RemoveOutcome::kWriterAlive:
            return "a writer, a close or a salvage holds it";
        case RemoveOutcome::kReplaced:
            return "another file took its name while it was judged";
        case RemoveOutcome::kOpenFailed:
            return WithReason("cannot open it", reason);
        case RemoveOutcome::kLockFailed:
            return WithReason("cannot test its writer's lock", reason);
        case RemoveOutcome::kReadFailed:
            return WithReason("cannot read it", reason);
        case RemoveOutcome::kRemoveFailed:
            return WithReason("cannot remove it", reason);
        case RemoveOutcome::kSyncFailed:
            return WithReason("removed, but its directory could not be synced", reason);
    }
    return "";
}

// Whether the follow state `files` has read the file to its saved end.
bool ReadToItsEnd(const jobresults::KnownFiles& files, const jobresults::ResultsFile& file) {
    const auto known = files.find(file.identity);
    return known != files.end() && known->second.progress.state == jobresults::FileState::kSaved;
}

class PruneCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "prune", "Remove the saved, sound files of a directory name older than some days");
        AddDirectoryNameArgument(command, m_dirName);
        command->add_option("--older-than", m_days, "Remove files created more than DAYS days ago")
            ->required()
            ->check(CLI::Range(0, 1000000));
        command->add_option("--state", m_states,
                            "Keep every file this follow state has not read to its end "
                            "(repeatable)");
        command->add_flag("--dry-run", m_dryRun, "Say what would be removed; remove nothing");
        command->footer(
            "A file stays when it is not saved, is damaged or is held by its writer. Prints "
            "\"removed: FILE\" for each file removed and \"kept: FILE: reason\" for each old "
            "enough that stays. Exit 1 when a file could not be judged or removed.");
        return command;
    }

    int Run() override {
        std::vector<jobresults::KnownFiles> states(m_states.size());
        for (std::size_t i = 0; i < m_states.size(); ++i) {
            bool resumed = false;
            std::string error;
            if (!LoadFollowState(m_states[i], m_dirName, states[i], resumed, error))
                return ReportFailure(error);
        }
        int exitCode = kExitSuccess;
        const auto listed = ListForCommand(m_dirName, exitCode);
        if (!listed) return exitCode;
        const long long cutoff = static_cast<long long>(std::time(nullptr)) - m_days * 86400LL;
        for (const jobresults::ResultsFile& file : *listed) {
            if (file.createdSeconds >= cutoff) continue;
            if (!Prune(file, states)) exitCode = kExitFailure;
        }
        return exitCode;
    }

private:
    // False when the file could not be judged or removed.
    bool Prune(const jobresults::ResultsFile& file,
               const std::vector<jobresults::KnownFiles>& states) const {
        for (std::size_t i = 0; i < states.size(); ++i) {
            if (ReadToItsEnd(states[i], file)) continue;
            std::cout << "kept: " << file.path << ": the follow state " << m_states[i]
                      << " has not read it to its end\n";
            return true;
        }
        const jobresults::RemoveResult result = jobresults::RemoveSavedFile(file.path, m_dryRun);
        const std::string kept = KeptBecause(result);
        if (kept.empty()) {
            std::cout << (m_dryRun ? "would remove: " : "removed: ") << file.path << '\n';
            return true;
        }
        std::cout << "kept: " << file.path << ": " << kept << '\n';
        return result.errorNumber == 0 || result.outcome == RemoveOutcome::kWriterAlive;
    }

    std::string m_dirName;
    long long m_days = 0;
    std::vector<std::string> m_states;
    bool m_dryRun = false;
};

}  // namespace

std::unique_ptr<Command> MakePruneCommand() { return std::make_unique<PruneCommand>(); }

}  // namespace jrtool
