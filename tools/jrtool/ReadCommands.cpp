// The commands that read job results files through the streaming reader:
// list DIR (the files of a directory name with their state), dump FILE
// (every record of a file) and check FILE... (validation).
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "jrtool/Cli.h"
#include "jrtool/Files.h"
#include "jrtool/Output.h"
#include "jrtool/WriterState.h"

namespace jrtool {

namespace {

// dump's formats: the table for people, then the streaming ones.
std::vector<std::string> WithTable(const decltype(kStreamingFormats)& streaming) {
    std::vector<std::string> formats = {"table"};
    formats.insert(formats.end(), streaming.begin(), streaming.end());
    return formats;
}

// The check's verdict on a file the reader refused: "damaged at byte N
// (line L): what" when the content is at fault, the failure of a system
// call otherwise.
std::string Verdict(const ResultsFilePath& file, const RecordSource& source) {
    if (!source.Damaged()) return source.Error();
    return DamagedAt(file.WholePath(), source.Check(), true);
}

// The verdict of dump, which names no file unless the content is at fault
// (the messages of failed system calls name it already).
int ReportRefused(const ResultsFilePath& file, const RecordSource& source) {
    const std::string verdict = Verdict(file, source);
    return ReportFailure(source.Damaged() ? file.WholePath() + ": " + verdict : verdict);
}

// --- list ---------------------------------------------------------------

// One file's line of the listing; its records are counted, never held.
struct FileStatus {
    unsigned long long bytes = 0;
    bool valid = false;
    std::size_t records = 0;
    std::string state = "damaged";
    std::string error;
    std::optional<bool> writerAlive;  // nullopt when it cannot be told
};

FileStatus StatusOf(const jobresults::ResultsFile& file) {
    FileStatus status;
    status.bytes = file.size;
    status.writerAlive = WriterAlive(file.path);
    RecordSource source;
    if (source.Open(ResultsFilePath::Plain(file.path))) {
        JobResults record;
        while (source.Next(record)) {
        }
    }
    status.valid = source.Valid();
    if (!status.valid) {
        status.error = Verdict(ResultsFilePath::Plain(file.path), source);
        return status;
    }
    status.records = source.Delivered();
    // Only the final end tag of a save makes a file saved.
    const bool saved = source.Check().ending == jobresults::FileEnding::kSaved;
    status.state = saved                                  ? "saved"
                   : Abandoned(status.writerAlive, saved) ? kAbandonedState
                                                          : "open";
    return status;
}

void WriteFileTableLine(const std::vector<std::string>& cells, std::ostream& out) {
    static const std::size_t kWidths[] = {20, 12, 7, 7};
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) line += "  ";
        const bool number = i == 1 || i == 2;
        const std::size_t width = i < 4 ? kWidths[i] : 0;
        const std::string padding(width > cells[i].size() ? width - cells[i].size() : 0, ' ');
        line += number ? padding + cells[i] : cells[i] + (i + 1 < cells.size() ? padding : "");
    }
    out << line << '\n';
}

// The columns have fixed widths, so each line goes out as its file is read.
void WriteFileTable(const std::vector<jobresults::ResultsFile>& files, std::ostream& out) {
    WriteFileTableLine({"CREATED (UTC)", "BYTES", "RECORDS", "STATE", "FILE"}, out);
    for (const jobresults::ResultsFile& file : files) {
        const FileStatus status = StatusOf(file);
        WriteFileTableLine({FormatUtcTime(file.createdSeconds), std::to_string(status.bytes),
                            status.valid ? std::to_string(status.records) : "-", status.state,
                            TableCell(file.path)},
                           out);
    }
}

void WriteFileJson(const std::vector<jobresults::ResultsFile>& files, std::ostream& out) {
    JsonArrayStream array(out);
    for (const jobresults::ResultsFile& file : files) {
        const FileStatus status = StatusOf(file);
        nlohmann::ordered_json entry;
        entry["path"] = ToValidUtf8(file.path);
        entry["dir_name"] =
            ToValidUtf8(file.path.substr(0, file.path.size() - file.fileName.size() - 1));
        entry["file_name"] = ToValidUtf8(file.fileName);
        entry["created"] = FormatUtcTime(file.createdSeconds);
        entry["created_unix"] = file.createdSeconds;
        entry["bytes"] = status.bytes;
        entry["records"] =
            status.valid ? nlohmann::ordered_json(status.records) : nlohmann::ordered_json(nullptr);
        // Machines keep the state words they know; the writer tells the rest.
        entry["state"] = status.state == kAbandonedState ? "open" : status.state;
        entry["writer_alive"] = status.writerAlive ? nlohmann::ordered_json(*status.writerAlive)
                                                   : nlohmann::ordered_json(nullptr);
        if (!status.valid) entry["error"] = ToValidUtf8(status.error);
        array.Add(entry);
    }
    array.End();
}

class ListCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command =
            parent.add_subcommand("list", "List the job results files of a directory name");
        AddDirectoryNameArgument(command, m_dirName);
        command->add_option("--format", m_format, "table (default) or json")
            ->check(CLI::IsMember({"table", "json"}));
        command->footer(
            "The files of the directory name demo/results are the files named '" +
            ResultsFilePath{"results", jobresults::ResultsFileNamePattern()}.WholePath() +
            "' in demo. State: saved, open (its writer has not saved it yet), abandoned "
            "(open, but its writer is gone: jobresults close saves it), or damaged (the "
            "reader refuses it). JSON gives an abandoned file's state as open, with "
            "writer_alive false.");
        return command;
    }

    int Run() override {
        int exitCode = kExitSuccess;
        const auto listed = ListForCommand(m_dirName, exitCode);
        if (!listed) return exitCode;
        if (m_format == "json") {
            WriteFileJson(*listed, std::cout);
        } else if (listed->empty()) {
            std::cerr << "no job results files for the directory name " << m_dirName << '\n';
        } else {
            WriteFileTable(*listed, std::cout);
        }
        return kExitSuccess;
    }

private:
    std::string m_dirName;
    std::string m_format = "table";
};

// --- dump ---------------------------------------------------------------

class DumpCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command =
            parent.add_subcommand("dump", "Print every record of a job results file");
        m_fileArgument.Register(command);
        command->add_option("--format", m_format, "table (default), json, jsonl, csv or tsv")
            ->check(CLI::IsMember(WithTable(kStreamingFormats)));
        command->footer(FileArgumentHelp() +
                        "\nJSON is UTF-8: a byte outside valid UTF-8 shows as the Latin-1 "
                        "character of the same value.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto file = m_fileArgument.Parse(error);
        if (!file) return ReportUsageError(error);
        if (m_format == "table") return DumpTable(*file);
        RecordSource source;
        if (!source.Open(*file)) return ReportRefused(*file, source);
        const auto printer = MakeStreamingPrinter(m_format, std::cout);
        printer->Begin();
        JobResults record;
        while (source.Next(record)) printer->Add(record);
        printer->End();
        return source.Valid() ? kExitSuccess : ReportRefused(*file, source);
    }

private:
    // Two passes: the first measures the columns, the second prints the
    // records that the first measured, so that a file still being written
    // cannot add rows the widths were not measured for.
    static int DumpTable(const ResultsFilePath& file) {
        TableLayout layout;
        RecordSource measured;
        if (!measured.Open(file)) return ReportRefused(file, measured);
        JobResults record;
        while (measured.Next(record)) layout.Measure(record);
        RecordSource printed;
        if (!printed.Open(file)) return ReportRefused(file, printed);
        const auto printer = MakeTablePrinter(layout, std::cout);
        printer->Begin();
        while (printed.Delivered() < measured.Delivered() && printed.Next(record)) {
            printer->Add(record);
        }
        printer->End();
        if (!measured.Valid()) return ReportRefused(file, measured);
        if (printed.Delivered() == measured.Delivered()) return kExitSuccess;
        if (!printed.Valid()) return ReportRefused(file, printed);
        return ReportFailure(file.WholePath() + " lost records while it was read");
    }

    SingleFileArgument m_fileArgument;
    std::string m_format = "table";
};

// --- check --------------------------------------------------------------

class CheckCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "check",
            "Validate job results files; exit 0 only when every file is as a writer leaves it");
        command
            ->add_option("FILE", m_fileArguments,
                         "Whole paths, or directory name and file name pairs")
            ->required();
        command->footer(FileArgumentHelp() +
                        "\nA damaged file is reported with the byte offset (from 0) and the "
                        "line (from 1) where the damage begins.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto files = jobresults::ParseFileArguments(m_fileArguments, error);
        if (!files) return ReportUsageError(error);
        bool allValid = true;
        for (const ResultsFilePath& file : *files) allValid = CheckOne(file) && allValid;
        return allValid ? kExitSuccess : kExitFailure;
    }

private:
    static bool CheckOne(const ResultsFilePath& file) {
        const std::optional<bool> writerAlive = WriterAlive(file.WholePath());
        RecordSource source;
        if (source.Open(file)) {
            JobResults record;
            while (source.Next(record)) {
            }
        }
        const std::string verdict = source.Valid() ? "" : Verdict(file, source);
        if (!verdict.empty()) {
            std::cerr << "jobresults: " << file.WholePath() << ": " << verdict << '\n';
            return false;
        }
        const std::size_t count = source.Delivered();
        const bool saved = source.Check().ending == jobresults::FileEnding::kSaved;
        std::cout << file.WholePath() << ": " << Counted(count, "record")
                  << (Abandoned(writerAlive, saved) ? std::string("; open, ") + kWriterGoneText
                                                    : "")
                  << '\n';
        return true;
    }

    std::vector<std::string> m_fileArguments;
};

}  // namespace

std::unique_ptr<Command> MakeListCommand() { return std::make_unique<ListCommand>(); }

std::unique_ptr<Command> MakeDumpCommand() { return std::make_unique<DumpCommand>(); }

std::unique_ptr<Command> MakeCheckCommand() { return std::make_unique<CheckCommand>(); }

std::string CheckVerdict(const ResultsFilePath& file, const RecordSource& source) {
    return source.Valid() ? "" : Verdict(file, source);
}

}  // namespace jrtool
