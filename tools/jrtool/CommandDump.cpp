// jobresults dump FILE: every record of a file through the store's reader.
#include <iostream>
#include <vector>

#include "jrtool/Command.h"
#include "jrtool/ExitCode.h"
#include "jrtool/RecordFormats.h"
#include "jrtool/RecordTable.h"
#include "jrtool/ResultsReader.h"
#include "jrtool/SingleFileArgument.h"

namespace jrtool {

namespace {

class DumpCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command =
            parent.add_subcommand("dump", "Print every record of a job results file");
        fileArgument_.Register(command);
        command->add_option("--format", format_, "table (default), json, jsonl, csv or tsv")
            ->check(CLI::IsMember({"table", "json", "jsonl", "csv", "tsv"}));
        command->footer(std::string(kFileArgumentHelp) +
                        "\nJSON output is UTF-8; a byte that is not part of valid UTF-8 "
                        "is shown as the Latin-1 character of the same value.");
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

}  // namespace

std::unique_ptr<Command> MakeDumpCommand() { return std::make_unique<DumpCommand>(); }

}  // namespace jrtool
