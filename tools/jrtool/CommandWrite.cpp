// jobresults write DIR [INPUT]: records from TSV or JSON Lines into a new
// job results file.
#include <fstream>
#include <iostream>
#include <optional>

#include "jrtool/Command.h"
#include "jrtool/ExitCode.h"
#include "jrtool/RecordInput.h"
#include "jrtool/ResultsWriter.h"

namespace jrtool {

namespace {

const char* const kWriteFooter =
    "TSV: one record a line, the columns client, url, job id, error and size "
    "separated by tabs; an optional first line names the columns. Inside a "
    "value, \\t, \\n, \\r and \\\\ stand for a tab, a line break, a carriage "
    "return and a backslash; any other backslash is kept as it is.\n"
    "JSON Lines: one object a line with the keys client, url, job_id, error "
    "(optional) and size.\n"
    "A malformed line stops the input: the records before it stay in the file, "
    "which is saved, and the exit code is 1. On success the path of the new "
    "file is printed.";

class WriteCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "write", "Append records from TSV or JSON Lines to a new job results file");
        command->add_option("DIR", dirName_, "Directory name of the new file")->required();
        command->add_option("INPUT", input_, "Input file; '-' or none for standard input");
        command->add_option("--format", format_, "Input format (default: from the first line)")
            ->check(CLI::IsMember({"tsv", "jsonl"}));
        command->footer(kWriteFooter);
        return command;
    }

    int Run() override {
        if (input_ == "-") return WriteFrom(std::cin, "standard input");
        std::ifstream file(input_, std::ios::binary);
        if (!file) return ReportFailure("cannot open input " + input_);
        return WriteFrom(file, input_);
    }

private:
    std::optional<InputFormat> ForcedFormat() const {
        if (format_.empty()) return std::nullopt;
        return format_ == "tsv" ? InputFormat::kTsv : InputFormat::kJsonLines;
    }

    int WriteFrom(std::istream& input, const std::string& inputName) {
        RecordStream records(input, ForcedFormat());
        ResultsWriter writer(dirName_);
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
        const std::string kept =
            created ? " (the " + std::to_string(written) + " records before it are in the file)"
                    : " (no file created)";
        if (!storeError.empty()) return ReportFailure(storeError + kept);
        if (!records.Fault().empty())
            return ReportFailure(inputName + ": " + records.Fault() + kept);
        if (readFailed) return ReportFailure("error while reading " + inputName + kept);
        if (written == 0) return ReportFailure(inputName + " holds no records; no file created");
        return kExitSuccess;
    }

    std::string dirName_;
    std::string input_ = "-";
    std::string format_;
};

}  // namespace

std::unique_ptr<Command> MakeWriteCommand() { return std::make_unique<WriteCommand>(); }

}  // namespace jrtool
