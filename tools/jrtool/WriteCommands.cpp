// write DIR [INPUT]: records from TSV or JSON Lines into a new job results
// file, through the store's writer.
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iostream>
#include <optional>
#include <vector>

#include "jrtool/Cli.h"
#include "jrtool/Files.h"
#include "jrtool/GroupCommit.h"
#include "jrtool/Input.h"

namespace jrtool {

namespace {

// --- write --------------------------------------------------------------

const char* const kWriteFooter =
    "TSV: the columns client, url, job id, error and size separated by tabs; an optional "
    "first line names them. In a value \\t, \\n, \\r and \\\\ stand for a tab, a line "
    "break, a carriage return and a backslash.\n"
    "JSON Lines: objects with the keys client, url, job_id, error (optional) and size.\n"
    "A malformed line or a value the file cannot carry stops the input; the records before "
    "it stay in the saved file, and the exit code is 1.\n"
    "--sync: none, name or append (default: CIJOBRESULTS_SYNC, else name). With append the "
    "records reach the disk a batch at a time (1000 lines, or 100 ms after a batch's first "
    "line), and a record counts as written once its batch is.";

class WriteCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "write", "Append records from TSV or JSON Lines to a new job results file");
        command->add_option("DIR", m_dirName, "Directory name of the new file")->required();
        command->add_option("INPUT", m_input, "Input file; '-' or none for standard input");
        command->add_option("--format", m_format, "Input format (default: from the first line)")
            ->check(CLI::IsMember({"tsv", "jsonl"}));
        command->add_option("--sync", m_sync, "What a power loss may cost: none, name or append")
            ->check(CLI::IsMember({"none", "name", "append"}));
        command->footer(kWriteFooter);
        return command;
    }

    int Run() override {
        if (const auto note = NoteOnDirectoryName(m_dirName)) {
            if (note->endsInSlash) return ReportUsageError(note->text);
            std::cerr << "jobresults: note: " << note->text << '\n';
        }
        if (m_input == "-") return WriteFrom(std::cin, STDIN_FILENO, "standard input");
        errno = 0;
        std::ifstream file(m_input, std::ios::binary);
        if (!file) return ReportFailure(WithReason("cannot open input " + m_input, errno));
        return WriteFrom(file, -1, m_input);
    }

private:
    std::optional<InputFormat> ForcedFormat() const {
        if (m_format.empty()) return std::nullopt;
        return m_format == "tsv" ? InputFormat::kTsv : InputFormat::kJsonLines;
    }

    // With --sync=append the file and its first record are made durable at
    // creation (level name) and the rest a batch at a time.
    JobResultsSync StoreLevel() const {
        JobResultsSync level = JobResultsSync::kFromEnvironment;
        if (!m_sync.empty()) jobresults::ParseSyncLevel(m_sync, level);
        return level == JobResultsSync::kAppend ? JobResultsSync::kName : level;
    }

    int WriteFrom(std::istream& input, int inputFd, const std::string& inputName) {
        RecordStream records(input, ForcedFormat());
        ResultsWriter writer(m_dirName);
        writer.SetSync(StoreLevel());
        GroupCommit batches(writer, input, inputFd);
        const bool grouped = m_sync == "append";
        std::size_t added = 0;
        JobResults record;
        std::string storeError;
        while (storeError.empty()) {
            if (grouped && !batches.BeforeRead()) {
                storeError = writer.Error();
                break;
            }
            if (!records.Next(record)) break;
            if (!writer.Add(record)) {
                // The store refuses values it could not read back; the
                // line tells which record.
                storeError = inputName + ": line " + std::to_string(records.LineNumber()) + ": " +
                             writer.Error();
                break;
            }
            ++added;
            if (grouped && !batches.Added()) storeError = writer.Error();
        }
        // The last batch, then the save, on the disk too.
        if (grouped && storeError.empty() &&
            !(batches.Finish() && writer.SetSync(JobResultsSync::kAppend))) {
            storeError = writer.Error();
        }
        if (!writer.Save() && storeError.empty()) storeError = writer.Error();
        if (writer.Created()) std::cout << writer.CreatedPath() << '\n';
        const std::size_t written = grouped ? batches.Durable() : added;
        return Outcome(writer.Created(), written, inputName, records, storeError, input.bad());
    }

    int Outcome(bool created, std::size_t written, const std::string& inputName,
                const RecordStream& records, const std::string& storeError, bool readFailed) const {
        const std::string before =
            written == 1 ? "the record before it is"
                         : "the " + std::to_string(written) + " records before it are";
        const std::string kept = created ? " (" + before + " in the file)" : " (no file created)";
        if (!storeError.empty()) return ReportFailure(storeError + kept);
        if (!records.Fault().empty())
            return ReportFailure(inputName + ": " + records.Fault() + kept);
        if (readFailed) return ReportFailure("error while reading " + inputName + kept);
        if (written == 0) return ReportFailure(inputName + " holds no records; no file created");
        return kExitSuccess;
    }

    std::string m_dirName;
    std::string m_input = "-";
    std::string m_format;
    std::string m_sync;
};

}  // namespace

std::unique_ptr<Command> MakeWriteCommand() { return std::make_unique<WriteCommand>(); }

}  // namespace jrtool
