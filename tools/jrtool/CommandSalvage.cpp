// jobresults salvage FILE: copies the complete records of a file with a
// damaged end into a new file. The damaged file is only read.
#include <iostream>
#include <vector>

#include "jrtool/Command.h"
#include "jrtool/ExitCode.h"
#include "jrtool/ResultsReader.h"
#include "jrtool/ResultsWriter.h"
#include "jrtool/SalvageScan.h"
#include "jrtool/SingleFileArgument.h"

namespace jrtool {

namespace {

std::string Counted(std::size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

class SalvageCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "salvage", "Recover the complete records of a file whose end is damaged");
        fileArgument_.Register(command);
        command->add_option("--out", outDirName_,
                            "Directory name for the new file (default: that of FILE)");
        command->footer(std::string(kFileArgumentHelp) +
                        "\nEvery record up to the first damaged one is written to a new "
                        "file; the damaged file is left as it is. Prints the counts of "
                        "records recovered and bytes discarded, and the new file's path.");
        return command;
    }

    int Run() override {
        std::string error;
        const auto file = fileArgument_.Parse(error);
        if (!file) return ReportUsageError(error);
        std::string bytes;
        if (!ReadFileBytes(file->WholePath(), bytes)) {
            return ReportFailure("cannot read " + file->WholePath());
        }
        const SalvageScan scan = ScanCompleteRecords(bytes);
        std::cout << "recovered: " << Counted(scan.records.size(), "record") << '\n'
                  << "discarded: " << Counted(scan.discardedBytes, "byte") << '\n';
        if (ReadAllRecords(*file).valid) {
            std::cerr << "note: the reader accepts " << file->WholePath()
                      << "; its records are copied all the same\n";
        }
        if (scan.records.empty())
            return ReportFailure("no complete record to recover; no file written");
        return WriteRecovered(scan.records, outDirName_.empty() ? file->dirName : outDirName_);
    }

private:
    static int WriteRecovered(const std::vector<JobResults>& records, const std::string& dirName) {
        ResultsWriter writer(dirName);
        for (const JobResults& record : records) {
            if (!writer.Add(record)) break;
        }
        const bool saved = writer.Save();
        if (writer.Created()) std::cout << "written: " << writer.CreatedPath() << '\n';
        if (!writer.Error().empty() || !saved) return ReportFailure(writer.Error());
        return kExitSuccess;
    }

    SingleFileArgument fileArgument_;
    std::string outDirName_;
};

}  // namespace

std::unique_ptr<Command> MakeSalvageCommand() { return std::make_unique<SalvageCommand>(); }

}  // namespace jrtool
