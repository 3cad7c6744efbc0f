// jobresults check FILE...: validates files with the store's reader.
#include <iostream>
#include <vector>

#include "jrtool/Command.h"
#include "jrtool/ExitCode.h"
#include "jrtool/ResultsReader.h"

namespace jrtool {

namespace {

class CheckCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "check", "Validate job results files; exit 0 only when the reader accepts all");
        command
            ->add_option("FILE", fileArguments_,
                         "Whole paths, or directory name and file name pairs")
            ->required();
        command->footer(std::string(kFileArgumentHelp) +
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

std::unique_ptr<Command> MakeCheckCommand() { return std::make_unique<CheckCommand>(); }

}  // namespace jrtool
