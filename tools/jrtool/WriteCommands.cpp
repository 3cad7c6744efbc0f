// write DIR [INPUT]: records from TSV or JSON Lines into a new job results
// file, through the store's writer.
#include <cerrno>
#include <fstream>
#include <iostream>
#include <optional>
#include <vector>

#include "jrtool/Cli.h"
#include "jrtool/Files.h"
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
    "it stay in the saved file, and the exit code is 1.";

class WriteCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "write", "Append records from TSV or JSON Lines to a new job results file");
        command->add_option("DIR", m_dirName, "Directory name of the new file")->required();
        command->add_option("INPUT", m_input, "Input file; '-' or none for standard input");
        command->add_option("--format", m_format, "Input format (default: from the first line)")
            ->check(CLI::IsMember({"tsv", "jsonl"}));
        command->footer(kWriteFooter);
        return command;
    }

    int Run() override {
        if (const auto note = NoteOnDirectoryName(m_dirName)) {
            if (note->unusable) return ReportUsageError(note->text);
            std::cerr << "jobresults: note: " << note->text << '\n';
        }
        if (m_input == "-") return WriteFrom(std::cin, "standard input");
        errno = 0;
        std::ifstream file(m_input, std::ios::binary);
        if (!file) return ReportFailure(WithReason("cannot open input " + m_input, errno));
        return WriteFrom(file, m_input);
    }

private:
    std::optional<InputFormat> ForcedFormat() const {
        if (m_format.empty()) return std::nullopt;
        return m_format == "tsv" ? InputFormat::kTsv : InputFormat::kJsonLines;
    }

    int WriteFrom(std::istream& input, const std::string& inputName) {
        RecordStream records(input, ForcedFormat());
        ResultsWriter writer(m_dirName);
        std::size_t written = 0;
        JobResults record;
        std::string storeError;
        while (storeError.empty() && records.Next(record)) {
            if (writer.Add(record)) {
                ++written;
            } else {
                // The store refuses values it could not read back; the
                // line tells which record.
                storeError = inputName + ": line " + std::to_string(records.LineNumber()) + ": " +
                             writer.Error();
            }
        }
        if (!writer.Save() && storeError.empty()) storeError = writer.Error();
        if (writer.Created()) std::cout << writer.CreatedPath() << '\n';
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
};

}  // namespace

std::unique_ptr<Command> MakeWriteCommand() { return std::make_unique<WriteCommand>(); }

}  // namespace jrtool
