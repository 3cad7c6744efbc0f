// jobresults report DIR: one HTML page with the state of a directory name's
// backups, for a person to read each morning. Every file is read once
// through the streaming reader, and once more by check's walk over the
// writer's layout; records are counted and dropped (see ReportTally.h).
#include <ctime>

#include "jrtool/Cli.h"
#include "jrtool/ReportPage.h"
#include "jrtool/ReportTally.h"
#include "jrtool/WriterState.h"

namespace jrtool {

namespace {

constexpr int kDefaultDays = 14;
constexpr int kMostDays = 366;

// Reads one file into the tally; an open or damaged one is noted with what
// check says of it.
void ReadFile(const jobresults::ResultsFile& file, ReportTally& tally) {
    const std::string& path = file.path;
    const std::optional<bool> writerAlive = WriterAlive(path);
    RecordSource source;
    if (source.Open(ResultsFilePath::Plain(path))) {
        JobResults record;
        while (source.Next(record)) tally.Add(record, file.createdSeconds, path);
    }
    const std::string verdict = CheckVerdict(ResultsFilePath::Plain(path), source);
    if (verdict.empty() && source.Check().ending == jobresults::FileEnding::kSaved) {
        tally.CountSavedFile();
        return;
    }
    const char* const sound =
        Abandoned(writerAlive, false)
            ? kWriterGoneText
            : "check passes it: it ends as a writer leaves it after an append";
    tally.AddFile({path, file.createdSeconds, !verdict.empty(), source.Delivered(),
                   verdict.empty() ? sound : verdict});
}

class ReportCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "report", "Write an HTML page of a directory name's backups: outcomes, days, sizes");
        AddDirectoryNameArgument(command, m_dirName);
        command->add_option("--output", m_output,
                            "Write the page to this file, replaced whole (default: standard "
                            "output)");
        command->add_option("--days", m_days, "Days of the grid and the size charts (default 14)")
            ->check(CLI::Range(1, kMostDays));
        command->footer(
            "The page is one self-contained file with no script and no request of its own. "
            "A job's time is the creation time of its file. Exit 1 when the directory cannot "
            "be read or the page cannot be written; damaged files are shown on the page.");
        return command;
    }

    int Run() override {
        int exitCode = kExitSuccess;
        const auto listed = ListForCommand(m_dirName, exitCode);
        if (!listed) return exitCode;
        ReportTally tally(static_cast<long long>(std::time(nullptr)), m_days);
        for (const jobresults::ResultsFile& file : *listed) ReadFile(file, tally);
        return WriteResult(m_output, ReportPage(m_dirName, tally));
    }

private:
    std::string m_dirName;
    std::string m_output;
    int m_days = kDefaultDays;
};

}  // namespace

std::unique_ptr<Command> MakeReportCommand() { return std::make_unique<ReportCommand>(); }

}  // namespace jrtool
