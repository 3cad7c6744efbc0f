// The commands that create job results files through the store's writer:
// write DIR [INPUT] (records from TSV or JSON Lines into a new file) and
// salvage FILE (the complete records of a file with a damaged end copied
// into a new file; the damaged file is only read).
#include <cerrno>
#include <cstdint>
#include <filesystem>
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
    "TSV: one record a line, the columns client, url, job id, error and size "
    "separated by tabs; an optional first line names the columns. Inside a "
    "value, \\t, \\n, \\r and \\\\ stand for a tab, a line break, a carriage "
    "return and a backslash; any other backslash is kept as it is, and so is a "
    "NUL byte.\n"
    "JSON Lines: one object a line with the keys client, url, job_id, error "
    "(optional) and size; \\u0000 stands for a NUL byte.\n"
    "A malformed line stops the input: the records before it stay in the file, "
    "which is saved, and the exit code is 1. On success the path of the new "
    "file is printed.";

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
            if (note->endsInSlash) return ReportUsageError(note->text);
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
                storeError = writer.Error();
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

// --- salvage ------------------------------------------------------------

std::string Counted(std::uint64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

class SalvageCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "salvage", "Recover the complete records of a file whose end is damaged");
        m_fileArgument.Register(command);
        command->add_option("--out", m_outDirName,
                            "Directory name for the new file (default: that of FILE)");
        command->footer(FileArgumentHelp() +
                        "\nEvery record that the reader delivers before the damage is "
                        "written to a new file; the damaged file is left as it is. Prints "
                        "the counts of records recovered and of bytes discarded (those "
                        "behind the last complete record), and the new file's path.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto file = m_fileArgument.Parse(error);
        if (!file) return ReportUsageError(error);
        RecordSource source;
        // A file damaged before its first record still gets its counts.
        if (!source.Open(*file) && !source.Damaged()) return ReportFailure(source.Error());
        ResultsWriter writer(m_outDirName.empty() ? file->dirName : m_outDirName);
        const bool copied = CopyRecords(source, writer);
        const bool saved = writer.Save();
        if (!copied) return Finish(writer, saved);
        std::cout << "recovered: " << Counted(source.Delivered(), "record") << '\n'
                  << "discarded: " << Counted(DiscardedBytes(*file, source), "byte") << '\n';
        if (source.Valid()) {
            std::cerr << "note: the reader accepts " << file->WholePath()
                      << "; its records are copied all the same\n";
        }
        if (source.Delivered() == 0)
            return ReportFailure("no complete record to recover; no file written");
        const int outcome = Finish(writer, saved);
        // A read that failed part way leaves the rest of the file unknown.
        if (!source.Valid() && !source.Damaged()) return ReportFailure(source.Error());
        return outcome;
    }

private:
    // Every record the reader delivers before it stops, straight into the
    // new file. False when the writer fails.
    static bool CopyRecords(RecordSource& source, ResultsWriter& writer) {
        JobResults record;
        while (source.Next(record)) {
            if (!writer.Add(record)) return false;
        }
        return true;
    }

    // The bytes behind the last complete record; none when the reader
    // accepts the file.
    static std::uint64_t DiscardedBytes(const ResultsFilePath& file, const RecordSource& source) {
        if (source.Valid()) return 0;
        std::error_code failure;
        const std::uint64_t size = std::filesystem::file_size(file.WholePath(), failure);
        return failure || size < source.DamageOffset() ? 0 : size - source.DamageOffset();
    }

    static int Finish(const ResultsWriter& writer, bool saved) {
        if (writer.Created()) std::cout << "written: " << writer.CreatedPath() << '\n';
        if (!writer.Error().empty() || !saved) return ReportFailure(writer.Error());
        return kExitSuccess;
    }

    SingleFileArgument m_fileArgument;
    std::string m_outDirName;
};

}  // namespace

std::unique_ptr<Command> MakeWriteCommand() { return std::make_unique<WriteCommand>(); }

std::unique_ptr<Command> MakeSalvageCommand() { return std::make_unique<SalvageCommand>(); }

}  // namespace jrtool
