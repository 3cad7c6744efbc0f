// jobresults report [HOST=]DIR...: one HTML page with the state of the
// backups of one or many hosts, for a person to read each morning. Every file is read once
// through the streaming reader, and once more by check's walk over the
// writer's layout; records are counted and dropped (see ReportTally.h).
#include <algorithm>
#include <ctime>

#include "jrtool/Cli.h"
#include "jrtool/ReportPage.h"
#include "jrtool/ReportSource.h"
#include "jrtool/ReportTally.h"
#include "jrtool/WriterState.h"

namespace jrtool {

namespace {

constexpr int kDefaultDays = 14;
constexpr int kMostDays = 366;

// Reads one file into the tally; an open or damaged one is noted with what
// check says of it.
void ReadFile(const jobresults::ResultsFile& file, std::size_t host, ReportTally& tally) {
    const std::string& path = file.path;
    const std::optional<bool> writerAlive = WriterAlive(path);
    RecordSource source;
    if (source.Open(ResultsFilePath::Plain(path))) {
        JobResults record;
        const RecordOrigin origin{host, file.createdSeconds, path};
        while (source.Next(record)) tally.Add(record, origin);
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
    tally.AddFile({host, path, file.createdSeconds, !verdict.empty(), source.Delivered(),
                   verdict.empty() ? sound : verdict});
}

class ReportCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "report",
            "Write an HTML page of the backups of one or many hosts: outcomes, days, "
            "sizes");
        command
            ->add_option("DIR", m_arguments,
                         "Directory name the files are written with, as DIR or HOST=DIR; the "
                         "page shows the hosts apart")
            ->required();
        command->add_option("--output", m_output,
                            "Write the page to this file, replaced whole (default: standard "
                            "output)");
        command->add_option("--days", m_days, "Days of the grid and the size charts (default 14)")
            ->check(CLI::Range(1, kMostDays));
        command->footer(
            "The page is one self-contained file with no script and no request of its own. "
            "A job's time is the creation time of its file. Exit 1 when a directory cannot "
            "be read or the page cannot be written; damaged files are shown on the page. "
            "HOST=DIR is taken where HOST holds letters, digits and . - _ : alone; any other "
            "argument is a plain DIR, and a leading = makes the rest one (=a=b is the directory "
            "name a=b).");
        return command;
    }

    int Run() override {
        std::vector<ReportSource> sources;
        for (const std::string& argument : m_arguments) {
            sources.push_back(ParseReportSource(argument));
            const ReportSource& added = sources.back();
            const auto same = [&added](const ReportSource& other) {
                return other.host == added.host && other.dirName == added.dirName;
            };
            if (std::count_if(sources.begin(), sources.end(), same) > 1) {
                return ReportUsageError("'" + argument + "' is given twice");
            }
        }
        ReportTally tally(static_cast<long long>(std::time(nullptr)), m_days);
        for (const ReportSource& source : sources) {
            int exitCode = kExitSuccess;
            const auto listed = ListForCommand(source.dirName, exitCode);
            if (!listed) return exitCode;
            const std::size_t host = tally.AddHost(source.host);
            for (const jobresults::ResultsFile& file : *listed) ReadFile(file, host, tally);
        }
        return WriteResult(m_output, ReportPage(sources, tally));
    }

private:
    std::vector<std::string> m_arguments;
    std::string m_output;
    int m_days = kDefaultDays;
};

}  // namespace

std::unique_ptr<Command> MakeReportCommand() { return std::make_unique<ReportCommand>(); }

}  // namespace jrtool
