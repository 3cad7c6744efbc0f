// jobresults metrics DIR: the state of a directory name's job results, per
// client and overall, in the text format of node_exporter's textfile
// collector. With --state, a run reads only what changed since the run
// before (jobresults/JobResultsProgress.h), and verifies some unchanged
// files whole on a budget of bytes; memory grows with the number of clients and
// files, not of records.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "jobresults/JobResultsTally.h"
#include "jrtool/Cli.h"
#include "jrtool/Exposition.h"
#include "jrtool/StateFile.h"
#include "jrtool/Text.h"
#include "jrtool/VerifyBudget.h"
#include "jrtool/WriterState.h"

namespace jrtool {

namespace {

const std::string kStateKind = "jobresults metrics state 2";

using jobresults::ClientSummary;
using jobresults::RecordTotals;

// What one run knows: every file read so far and the clients of their
// records. The state file holds exactly this.
struct Tally {
    std::string dirName;
    jobresults::KnownFiles files;
    jobresults::ClientSummaries clients;
    jobresults::ClientTotals totals;

    std::string StateText() const {
        std::string text = kStateKind + '\n' + StateLine({"dir", dirName});
        for (const auto& [identity, file] : files)
            text += StateLine({"file"}, jobresults::KnownFileFields(file, true));
        for (const auto& [client, summary] : clients)
            text += StateLine({"client", client}, jobresults::ClientSummaryFields(summary));
        for (const auto& [client, total] : totals)
            text += StateLine({"total", client}, jobresults::RecordTotalsFields(total));
        return jobresults::SealText(text);
    }

    // False when a line does not fit; the caller then starts afresh.
    bool Load(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            const std::vector<std::string> fields = StateFields(line);
            if (fields.size() == 2 && fields[0] == "dir") {
                dirName = fields[1];
            } else if (fields.size() > 3 && fields[0] == "file") {
                jobresults::KnownFile file;
                if (!jobresults::KnownFileFromFields(fields, 1, true, file)) return false;
                files[file.progress.identity] = file;
            } else if (fields.size() == 9 && fields[0] == "client") {
                if (!jobresults::ClientSummaryFromFields(fields, 2, clients[fields[1]]))
                    return false;
            } else if (fields.size() == 4 && fields[0] == "total") {
                if (!jobresults::RecordTotalsFromFields(fields, 2, totals[fields[1]])) return false;
            } else {
                return false;
            }
        }
        return true;
    }
};

// Counts of one run, for --verbose.
struct RunCounts {
    std::size_t filesRead = 0;
    std::size_t filesUnchanged = 0;
    std::size_t filesVerified = 0;  // of the unchanged ones
    std::size_t records = 0;
    bool recounted = false;
};

std::string Number(std::uint64_t value) { return std::to_string(value); }

enum class FileRead { kRead, kUnreadable, kReplaced };

// Why the tally holds records that `file` no longer has.
std::string ReplacedText(const jobresults::ResultsFile& file, std::uint64_t pointBefore) {
    if (file.size < pointBefore) {
        return "shorter than when it was read (" + Number(file.size) + " bytes; read up to byte " +
               Number(pointBefore) + "), as a power loss leaves it";
    }
    return "not the file read before (damaged in front of the records counted, rewritten or "
           "replaced)";
}

// Reads `file` into the tally as planned. kUnreadable when the file could
// not be read (its problem went to standard error), kReplaced when the
// records counted before are not all in it any more: the tally holds
// records that are gone, and a line on standard error names the file.
FileRead ReadFile(const jobresults::ResultsFile& file, const jobresults::PlannedReading& plan,
                  std::int64_t startedNs, Tally& tally, RunCounts& counts) {
    jobresults::KnownFile& known = jobresults::KnownEntry(tally.files, file);
    if (plan.change == jobresults::FileChange::kUnchanged) {
        ++counts.filesUnchanged;
        if (!plan.verifying) return FileRead::kRead;
        ++counts.filesVerified;
    } else {
        ++counts.filesRead;
    }
    const std::uint64_t pointBefore = known.progress.point.offset;
    const bool damagedBefore = known.progress.state == jobresults::FileState::kDamaged;
    jobresults::RecordPlace place{file.createdSeconds, file.fileName, 0};
    const jobresults::ProgressOutcome outcome = jobresults::ReadOn(
        file, plan.change, known.progress, [&](const JobResults& record, std::uint64_t offset) {
            place.offset = offset;
            tally.clients[jobresults::ClientKey(record.ClientName)].Count(record, place);
        });
    const bool whole = plan.change != jobresults::FileChange::kGrew;
    const std::string problem = ProblemText(file, outcome, whole);
    counts.records += outcome.records;
    if (outcome.replaced && pointBefore > 0) {
        std::cerr << "jobresults: " << file.path << ": " << ReplacedText(file, pointBefore)
                  << ": counting anew\n";
        return FileRead::kReplaced;
    }
    const bool damaged = known.progress.state == jobresults::FileState::kDamaged;
    // A verification that finds the damage already known has nothing to say.
    if (!problem.empty() && !(plan.verifying && damagedBefore && damaged)) {
        std::cerr << "jobresults: " << file.path << ": " << problem << '\n';
    }
    if (!problem.empty() && !damaged) {
        tally.files.erase(file.identity);
        return FileRead::kUnreadable;
    }
    known.progress.statusChangeNanoseconds = plan.statusChangeNanoseconds;
    if (whole) known.progress.verifiedNanoseconds = startedNs;
    return FileRead::kRead;
}

// What the run itself adds to the tally's counts.
struct RunFacts {
    long long now = 0;
    std::int64_t startedNs = 0;  // the same moment, to order verifications
    // Files that could not be read at all; they count as damaged.
    std::vector<std::string> unreadable;
    // Files not saved whose writer was gone before they were read.
    std::set<std::string> writerGone;
};

// Probed before the files are read: a file found without a writer and then
// read open stays open.
std::set<std::string> WriterGone(const std::vector<jobresults::ResultsFile>& listed) {
    std::set<std::string> gone;
    for (const jobresults::ResultsFile& file : listed) {
        if (file.ending == jobresults::FileEnding::kSaved) continue;
        const std::optional<bool> alive = WriterAlive(file.path);
        if (alive && !*alive) gone.insert(file.path);
    }
    return gone;
}

// Open files whose writer is gone, each named, so that an alert can say
// which file to close and clears once it is closed.
void RenderWriterGone(const Tally& tally, const std::vector<jobresults::ResultsFile>& listed,
                      const RunFacts& run, Exposition& text) {
    text.Family("jobresults_file_writer_gone",
                "1 for each open job results file whose writer is gone (killed before its "
                "save), named by its whole path; jobresults close saves it.",
                "gauge");
    for (const jobresults::ResultsFile& file : listed) {
        const auto known = tally.files.find(file.identity);
        if (run.writerGone.count(file.path) != 0 && known != tally.files.end() &&
            known->second.progress.state == jobresults::FileState::kOpen) {
            text.Sample("jobresults_file_writer_gone", {{"file", file.path}}, "1");
        }
    }
}

// Each client is a label value of its own: LabelValue never makes two names
// one.
std::map<std::string, ClientSummary> ShownClients(const Tally& tally) {
    std::map<std::string, ClientSummary> shown;
    for (const auto& [client, counts] : tally.clients) {
        shown[client].Merge(counts);
    }
    return shown;
}

// The modification time of a file the tally read, when it was read.
long long ModifiedSeconds(const Tally& tally, const std::string& fileName) {
    const jobresults::KnownFile* file = jobresults::FindByName(tally.files, fileName);
    return file == nullptr ? 0 : file->progress.modifiedNanoseconds / 1000000000;
}

// A family of counts by client and outcome (error text empty or not).
template <class Counts>
void ByOutcome(const std::map<std::string, Counts>& shown, const char* name, const char* help,
               const char* type, Exposition& text) {
    text.Family(name, help, type);
    for (const auto& [client, counts] : shown) {
        text.Sample(name, {{"client", client}, {"outcome", "success"}}, Number(counts.success));
        text.Sample(name, {{"client", client}, {"outcome", "error"}}, Number(counts.error));
    }
}

void RenderClients(const Tally& tally, Exposition& text) {
    const auto shown = ShownClients(tally);
    const auto perClient = [&](const char* name, const char* help, auto value) {
        text.Family(name, help, "gauge");
        for (const auto& [client, t] : shown) text.Sample(name, {{"client", client}}, value(t));
    };
    perClient("jobresults_last_job_timestamp_seconds",
              "Creation time of the newest job results file holding a record of the client.",
              [](const ClientSummary& t) { return std::to_string(t.last.created); });
    perClient("jobresults_last_append_timestamp_seconds",
              "Modification time, when it was read, of the file holding the newest record of "
              "the client: the time of that record's append or of a later one in that file.",
              [&](const ClientSummary& t) {
                  return std::to_string(ModifiedSeconds(tally, t.last.fileName));
              });
    perClient("jobresults_last_job_success",
              "1 when the newest record of the client has an empty error text, else 0.",
              [](const ClientSummary& t) { return std::string(t.lastSuccess ? "1" : "0"); });
    perClient("jobresults_last_job_size", "Size of the newest record of the client.",
              [](const ClientSummary& t) { return Number(t.lastSize); });
    ByOutcome(shown, "jobresults_records",
              "Records in the job results files, by client and outcome (error text empty or not).",
              "gauge", text);
}

void RenderTotals(const Tally& tally, Exposition& text) {
    std::map<std::string, RecordTotals> shown;
    for (const auto& [client, total] : tally.totals) shown[client].Merge(total);
    ByOutcome(shown, "jobresults_records_total",
              "Records counted since the state file began, by client and outcome; unlike "
              "jobresults_records it does not drop when files are removed.",
              "counter", text);
}

void RenderFiles(const Tally& tally, const std::vector<jobresults::ResultsFile>& listed,
                 const RunFacts& run, Exposition& text) {
    const jobresults::FilesOverview files =
        jobresults::OverviewOfFiles(listed, tally.files, run.unreadable);
    text.Family("jobresults_files",
                "Job results files by state: saved, open (its writer may append), damaged (the "
                "reader refuses it from some byte on, or it cannot be read).",
                "gauge");
    using jobresults::FileState;
    for (const FileState state : {FileState::kSaved, FileState::kOpen, FileState::kDamaged}) {
        text.Sample("jobresults_files", {{"state", jobresults::FileStateName(state)}},
                    Number(files.InState(state)));
    }
    text.Family("jobresults_file_damaged",
                "1 for each damaged job results file, named by its whole path; jobresults "
                "salvage replaces it by its intact records.",
                "gauge");
    for (const std::string& path : files.damaged)
        text.Sample("jobresults_file_damaged", {{"file", path}}, "1");
    text.Gauge("jobresults_newest_file_timestamp_seconds",
               "Creation time of the newest job results file; 0 when there is none.",
               std::to_string(files.newestCreated));
    text.Gauge("jobresults_oldest_open_file_age_seconds",
               "Seconds since the creation of the oldest file that its writer has not saved; 0 "
               "when every file is saved.",
               std::to_string(files.InState(FileState::kOpen) == 0
                                  ? 0
                                  : std::max(0LL, run.now - files.oldestOpenCreated)));
}

void RenderRun(const RunFacts& run, Exposition& text) {
    text.Gauge("jobresults_metrics_run_timestamp_seconds",
               "When the run that wrote these metrics started.", std::to_string(run.now));
    text.Gauge("jobresults_metrics_run_success",
               "1 when the run read every file, else 0 (a file could not be read).",
               run.unreadable.empty() ? "1" : "0");
}

// The labels of the series above, and the two that Prometheus gives every
// series of a scrape target: --label may add none of them.
const std::vector<std::string> kTakenLabels = {"client", "outcome",  "state",
                                               "file",   "instance", "job"};

std::string Render(const Tally& tally, const std::vector<jobresults::ResultsFile>& listed,
                   const RunFacts& run, const Exposition::Labels& constant) {
    Exposition text(constant);
    RenderClients(tally, text);
    RenderTotals(tally, text);
    RenderFiles(tally, listed, run, text);
    RenderWriterGone(tally, listed, run, text);
    RenderRun(run, text);
    return text.Text();
}

class MetricsCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "metrics", "Print the state of a directory name's job results as Prometheus metrics");
        AddDirectoryNameArgument(command, m_dirName);
        command->add_option("--output", m_output,
                            "Write the metrics to this file, replaced whole (for the textfile "
                            "collector: a name ending in .prom)");
        command->add_option("--state", m_state,
                            "Keep what this run read in this file, so that the next run reads "
                            "only what the files gained since");
        command
            ->add_option("--verify-budget", m_verifyBudget,
                         std::string("With --state: read up to this many bytes of unchanged files "
                                     "whole again, those verified longest ago first, so that "
                                     "damage that changes nothing visible shows (K, M, G: powers "
                                     "of 1024; 0: none; default ") +
                             kDefaultVerifyBudget + ")")
            ->type_name("BYTES");
        command
            ->add_option("--label", m_labels,
                         "Add this label to every series (repeatable), for example "
                         "dir=nightly, so that the metrics of two directory names on one "
                         "host stay apart")
            ->type_name("KEY=VALUE");
        command->add_flag("--verbose", m_verbose,
                          "Say on standard error how many files were read and how many records");
        command->footer(
            "Every family is present even without files; jobresults(1) lists them. Exit 1 when a "
            "file cannot be read (it counts as damaged) or the output cannot be written.");
        return command;
    }

    int Run() override {
        const auto verifyBudget = ParseByteCount(m_verifyBudget);
        if (!verifyBudget) {
            return ReportUsageError(
                "--verify-budget: not a count of bytes (digits, then K, M or "
                "G for powers of 1024): " +
                m_verifyBudget);
        }
        Exposition::Labels constant;
        std::string fault;
        if (!ParseConstantLabels(m_labels, kTakenLabels, constant, fault)) {
            return ReportUsageError("--label: " + fault);
        }
        int exitCode = kExitSuccess;
        const auto listed = ListForCommand(m_dirName, exitCode);
        if (!listed) return exitCode;
        // A state that cannot be written fails the run before any output.
        std::string error;
        if (!m_state.empty() && !CheckWritable(m_state, error)) return ReportFailure(error);
        Tally tally;
        RunCounts counts;
        if (!LoadState(tally, counts, error)) return ReportFailure(error);
        // Totals of another directory name do not carry over.
        const bool sameDirectory = tally.dirName == m_dirName;
        const auto countsBefore = sameDirectory ? tally.clients : decltype(tally.clients)();
        jobresults::ClientTotals totals =
            sameDirectory ? std::move(tally.totals) : jobresults::ClientTotals();
        RunFacts run = StartRun(*listed);
        ReadAll(*listed, sameDirectory, *verifyBudget, run, tally, counts);
        jobresults::AdvanceTotals(countsBefore, tally.clients, totals);
        tally.totals = std::move(totals);
        if (m_verbose) Tell(counts);
        const std::string text = Render(tally, *listed, run, constant);
        if (const int written = WriteResult(m_output, text)) return written;
        // A file that could not be read may have given some records: the
        // state before this run stays, as it agrees with itself.
        if (!m_state.empty() && run.unreadable.empty() &&
            !ReplaceFile(m_state, tally.StateText(), 0600, error)) {
            return ReportFailure(error);
        }
        return run.unreadable.empty() ? kExitSuccess : kExitFailure;
    }

private:
    static RunFacts StartRun(const std::vector<jobresults::ResultsFile>& listed) {
        RunFacts run;
        run.writerGone = WriterGone(listed);
        const auto started = std::chrono::system_clock::now();
        run.now = static_cast<long long>(std::chrono::system_clock::to_time_t(started));
        run.startedNs =
            std::chrono::duration_cast<std::chrono::nanoseconds>(started.time_since_epoch())
                .count();
        return run;
    }

    // Reads every listed file into the tally. The tally is carried on only
    // when every file it knows is still there; otherwise its counts would
    // hold records that are gone.
    void ReadAll(const std::vector<jobresults::ResultsFile>& listed, bool sameDirectory,
                 std::uint64_t verifyBudget, RunFacts& run, Tally& tally, RunCounts& counts) const {
        for (bool carryOn = sameDirectory && jobresults::KeepListed(tally.files, listed);;
             carryOn = false) {
            if (!carryOn) {
                counts.recounted = counts.recounted || !tally.files.empty();
                tally = Tally();
            }
            tally.dirName = m_dirName;
            run.unreadable.clear();
            bool replaced = false;
            const auto plans =
                jobresults::PlanReadings(listed, jobresults::LookupIn(tally.files), verifyBudget);
            for (std::size_t i = 0; i < listed.size(); ++i) {
                const jobresults::ResultsFile& file = listed[i];
                const FileRead read = ReadFile(file, plans[i], run.startedNs, tally, counts);
                if (read == FileRead::kUnreadable) run.unreadable.push_back(file.path);
                replaced = replaced || read == FileRead::kReplaced;
            }
            if (!replaced) break;
        }
    }

    // A state cut short or garbled is no partial truth: the run counts
    // everything anew, and says so.
    bool LoadState(Tally& tally, RunCounts& counts, std::string& error) const {
        if (m_state.empty()) return true;
        bool broken = false;
        const auto lines = ReadStateLines(m_state, kStateKind, error, broken);
        if (broken) {
            std::cerr << "jobresults: " << error << "; counting anew\n";
            counts.recounted = true;
            return true;
        }
        if (!lines) return false;
        if (!tally.Load(*lines)) {
            std::cerr << "jobresults: " << m_state
                      << " holds a line this command does not write; counting anew\n";
            tally = Tally();
            counts.recounted = true;
        }
        return true;
    }

    static void Tell(const RunCounts& counts) {
        std::cerr << "jobresults: metrics: " << counts.filesRead << " files read ("
                  << counts.records << " records), " << counts.filesUnchanged << " unchanged ("
                  << counts.filesVerified << " verified)"
                  << (counts.recounted ? "; counted afresh" : "") << '\n';
    }

    std::string m_dirName;
    std::string m_output;
    std::string m_state;
    std::string m_verifyBudget = kDefaultVerifyBudget;
    std::vector<std::string> m_labels;
    bool m_verbose = false;
};

}  // namespace

std::unique_ptr<Command> MakeMetricsCommand() { return std::make_unique<MetricsCommand>(); }

}  // namespace jrtool
