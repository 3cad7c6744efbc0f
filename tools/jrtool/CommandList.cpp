// jobresults list DIR: the job results files of a directory name.
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "jrtool/Command.h"
#include "jrtool/ExitCode.h"
#include "jrtool/FileListing.h"
#include "jrtool/RecordFormats.h"
#include "jrtool/ResultsReader.h"
#include "jrtool/Utf8Text.h"

namespace jrtool {

namespace {

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

void WriteTableLine(const std::vector<std::string>& cells, std::ostream& out) {
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

void WriteTable(const std::vector<FileStatus>& files, std::ostream& out) {
    WriteTableLine({"CREATED (UTC)", "BYTES", "RECORDS", "STATE", "FILE"}, out);
    for (const FileStatus& status : files) {
        WriteTableLine({FormatUtcTime(status.file.createdSeconds), std::to_string(status.bytes),
                        status.read.valid ? std::to_string(status.read.records.size()) : "-",
                        status.state, status.file.path.WholePath()},
                       out);
    }
}

void WriteJson(const std::vector<FileStatus>& files, std::ostream& out) {
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
        command->footer(
            "The files of the directory name demo/results are the files named "
            "'results\\ci_push_<seconds>.xml' in demo. State: saved, open (ends in the "
            "trailer of an append: its writer has not saved it, or stopped), or damaged "
            "(the reader refuses it).");
        return command;
    }

    int Run() override {
        std::string error;
        const auto listed = ListResultsFiles(dirName_, error);
        if (!listed) return ReportFailure(error);
        std::vector<FileStatus> files;
        for (const ListedFile& file : *listed) files.push_back(StatusOf(file));
        if (format_ == "json") {
            WriteJson(files, std::cout);
        } else if (files.empty()) {
            std::cerr << "no job results files for the directory name " << dirName_ << '\n';
        } else {
            WriteTable(files, std::cout);
        }
        return kExitSuccess;
    }

private:
    std::string dirName_;
    std::string format_ = "table";
};

}  // namespace

std::unique_ptr<Command> MakeListCommand() { return std::make_unique<ListCommand>(); }

}  // namespace jrtool
