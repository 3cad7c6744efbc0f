// The commands that create job results files through the store's writer:
// write DIR [INPUT] (records from TSV or JSON Lines into a new file) and
// salvage FILE (the intact records of a damaged file copied into a new
// file; the damaged file is only read).
#include <cerrno>
#include <cstdint>
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
    "A malformed line, or a value that the file could not carry intact (one "
    "holding a start or end tag of the file's own elements), stops the input: "
    "the records before it stay in the file, "
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
        const auto note = jobresults::NoteOnDirectoryName(m_dirName);
        if (note.endsInSlash) return ReportUsageError(note.text);
        if (note.applies) std::cerr << "jobresults: note: " << note.text << '\n';
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

// --- salvage ------------------------------------------------------------

std::string Counted(std::uint64_t count, const std::string& noun,
                    const std::string& plural = std::string()) {
    return std::to_string(count) + " " + (count == 1 ? noun : plural.empty() ? noun + "s" : plural);
}

// What a salvage found and copied.
struct SalvageTally {
    std::uint64_t records = 0;
    std::uint64_t stretches = 0;
    std::uint64_t skippedBytes = 0;
    bool cut = false;
    int readError = 0;
};

class SalvageCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "salvage", "Copy the intact records of a damaged file into a new file");
        m_fileArgument.Register(command);
        command->add_option("--out", m_outDirName,
                            "Directory name for the new file (default: that of FILE)");
        command->footer(FileArgumentHelp() +
                        "\nEvery record that stands exactly as a writer wrote it is "
                        "copied, in order, to a new file; a damaged stretch is skipped "
                        "and the copy goes on at the next record behind it. The damaged "
                        "file is left as it is. Prints each stretch skipped (its first "
                        "byte, from 0, and its length), the counts of records recovered "
                        "and of bytes and stretches skipped, and the new file's path.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto file = m_fileArgument.Parse(error);
        if (!file) return ReportUsageError(error);
        JobResultsRecovery walk;
        if (!OpenLayoutWalk(*file, walk, error)) return ReportFailure(error);
        ResultsWriter writer(m_outDirName.empty() ? file->dirName : m_outDirName);
        SalvageTally tally;
        const bool copied = CopyRecords(walk, writer, tally);
        const bool saved = writer.Save();
        if (!copied) return Finish(writer, saved);
        std::cout << "recovered: " << Counted(tally.records, "record") << '\n'
                  << "discarded: " << Counted(tally.skippedBytes, "byte") << " in "
                  << Counted(tally.stretches, "damaged stretch", "damaged stretches") << '\n';
        if (tally.stretches == 0 && !tally.cut && tally.readError == 0) {
            std::cerr << "note: no damage found in " << file->WholePath()
                      << "; its records are copied all the same\n";
        }
        if (tally.records == 0)
            return ReportFailure("no intact record to recover; no file written");
        const int outcome = Finish(writer, saved);
        // A read that failed part way leaves the rest of the file unknown.
        if (tally.readError != 0) return ReportFailure(WithReason("read failed", tally.readError));
        return outcome;
    }

private:
    // Every intact record straight into the new file, each skipped stretch
    // reported as it is met. False when the writer fails.
    static bool CopyRecords(JobResultsRecovery& walk, ResultsWriter& writer, SalvageTally& tally) {
        for (;;) {
            switch (walk.next()) {
                case JobResultsRecovery::Found::kRecord:
                    if (!writer.Add(walk.record())) return false;
                    ++tally.records;
                    break;
                case JobResultsRecovery::Found::kDamage:
                    std::cout << "skipped: " << Counted(walk.length(), "byte") << " at byte "
                              << walk.offset() << '\n';
                    ++tally.stretches;
                    tally.skippedBytes += walk.length();
                    break;
                case JobResultsRecovery::Found::kEnd:
                    tally.cut = walk.ending() == JobResultsRecovery::Ending::kCut;
                    if (tally.cut) {
                        std::cout << "cut: the file stops at byte " << walk.offset()
                                  << ", where a record or its end tag should follow\n";
                    }
                    return true;
                case JobResultsRecovery::Found::kReadFailed:
                    tally.readError = walk.errorNumber();
                    return true;
            }
        }
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
