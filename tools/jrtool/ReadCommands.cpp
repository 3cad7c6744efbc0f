// The commands that read job results files through the store's reader:
// list DIR (the files of a directory name with their state), dump FILE
// (every record of a file) and check FILE... (validation).
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "jrtool/Cli.h"
#include "jrtool/Files.h"
#include "jrtool/Output.h"

namespace jrtool {

namespace {

// --- list ---------------------------------------------------------------

struct FileStatus {
    ListedFile file;
    unsigned long long bytes = 0;
    ReadOutcome read;
    std::string state;
};

FileStatus StatusOf(const ListedFile& file) {
    FileStatus status{file, 0, ReadAllRecords(file.path), "damaged"};
    std::error_code failure;
    const auto size = std::filesystem::file_size(file.path.WholePath(), failure);
    if (!failure) status.bytes = size;
    if (status.read.valid) {
        status.state = EndingOf(file.path.WholePath()) == FileEnding::kOpen ? "open" : "saved";
    }
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

void WriteFileTable(const std::vector<FileStatus>& files, std::ostream& out) {
    WriteFileTableLine({"CREATED (UTC)", "BYTES", "RECORDS", "STATE", "FILE"}, out);
    for (const FileStatus& status : files) {
        WriteFileTableLine({FormatUtcTime(status.file.createdSeconds), std::to_string(status.bytes),
                            status.read.valid ? std::to_string(status.read.records.size()) : "-",
                            status.state, status.file.path.WholePath()},
                           out);
    }
}

void WriteFileJson(const std::vector<FileStatus>& files, std::ostream& out) {
    auto array = nlohmann::ordered_json::array();
    for (const FileStatus& status : files) {
        nlohmann::ordered_json entry;
        entry["path"] = ToValidUtf8(status.file.path.WholePath());
        entry["dir_name"] = ToValidUtf8(status.file.path.dirName);
        entry["file_name"] = ToValidUtf8(status.file.path.fileName);
        entry["created"] = FormatUtcTime(status.file.createdSeconds);
        entry["created_unix"] = status.file.createdSeconds;
        entry["bytes"] = status.bytes;
        entry["records"] = status.read.valid ? nlohmann::ordered_json(status.read.records.size())
                                             : nlohmann::ordered_json(nullptr);
        entry["state"] = status.state;
        if (!status.read.valid) entry["error"] = ToValidUtf8(status.read.error);
        array.push_back(entry);
    }
    out << DumpJson(array, 2) << '\n';
}

class ListCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command =
            parent.add_subcommand("list", "List the job results files of a directory name");
        command->add_option("DIR", dirName_, "Directory name the files were written with")
            ->required();
        command->add_option("--format", format_, "table (default) or json")
            ->check(CLI::IsMember({"table", "json"}));
        command->footer("The files of the directory name demo/results are the files named '" +
                        ResultsFilePath{"results", ResultsFileNamePattern()}.WholePath() +
                        "' in demo. State: saved, open (ends in the trailer of an append: "
                        "its writer has not saved it, or stopped), or damaged (the reader "
                        "refuses it).");
        return command;
    }

    int Run() override {
        std::string error;
        const auto listed = ListResultsFiles(dirName_, error);
        if (!listed) return ReportFailure(error);
        std::vector<FileStatus> files;
        for (const ListedFile& file : *listed) files.push_back(StatusOf(file));
        if (format_ == "json") {
            WriteFileJson(files, std::cout);
        } else if (files.empty()) {
            std::cerr << "no job results files for the directory name " << dirName_ << '\n';
        } else {
            WriteFileTable(files, std::cout);
        }
        return kExitSuccess;
    }

private:
    std::string dirName_;
    std::string format_ = "table";
};

// --- dump ---------------------------------------------------------------

class DumpCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command =
            parent.add_subcommand("dump", "Print every record of a job results file");
        fileArgument_.Register(command);
        command->add_option("--format", format_, "table (default), json, jsonl, csv or tsv")
            ->check(CLI::IsMember({"table", "json", "jsonl", "csv", "tsv"}));
        command->footer(FileArgumentHelp() +
                        "\nJSON output is UTF-8; a byte that is not part of valid UTF-8 "
                        "is shown as the Latin-1 character of the same value. A NUL byte "
                        "is shown as \\u0000 in JSON, as \\x00 in the table, and as "
                        "itself in CSV and TSV.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto file = fileArgument_.Parse(error);
        if (!file) return ReportUsageError(error);
        const ReadOutcome outcome = ReadAllRecords(*file);
        if (!outcome.valid) return ReportFailure(outcome.error);
        Print(outcome.records);
        return kExitSuccess;
    }

private:
    void Print(const std::vector<JobResults>& records) const {
        if (format_ == "json") {
            WriteJsonArray(records, std::cout);
        } else if (format_ == "jsonl") {
            WriteJsonLines(records, std::cout);
        } else if (format_ == "csv") {
            WriteCsv(records, std::cout);
        } else if (format_ == "tsv") {
            WriteTsv(records, std::cout);
        } else {
            WriteTable(records, std::cout);
        }
    }

    SingleFileArgument fileArgument_;
    std::string format_ = "table";
};

// --- check --------------------------------------------------------------

class CheckCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "check", "Validate job results files; exit 0 only when the reader accepts all");
        command
            ->add_option("FILE", fileArguments_,
                         "Whole paths, or directory name and file name pairs")
            ->required();
        command->footer(FileArgumentHelp() +
                        "\nAn argument without a backslash is a directory name, and the "
                        "argument after it is the file name.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto files = ParseFileArguments(fileArguments_, error);
        if (!files) return ReportUsageError(error);
        bool allValid = true;
        for (const ResultsFilePath& file : *files) allValid = CheckOne(file) && allValid;
        return allValid ? kExitSuccess : kExitFailure;
    }

private:
    static bool CheckOne(const ResultsFilePath& file) {
        const ReadOutcome outcome = ReadAllRecords(file);
        if (!outcome.valid) {
            std::cerr << file.WholePath() << ": " << outcome.error << '\n';
            return false;
        }
        const std::size_t count = outcome.records.size();
        std::cout << file.WholePath() << ": " << count << (count == 1 ? " record\n" : " records\n");
        return true;
    }

    std::vector<std::string> fileArguments_;
};

}  // namespace

std::unique_ptr<Command> MakeListCommand() { return std::make_unique<ListCommand>(); }

std::unique_ptr<Command> MakeDumpCommand() { return std::make_unique<DumpCommand>(); }

std::unique_ptr<Command> MakeCheckCommand() { return std::make_unique<CheckCommand>(); }

}  // namespace jrtool
