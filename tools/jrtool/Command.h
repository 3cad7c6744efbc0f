// The subcommands of the jobresults tool. Each registers its arguments with
// the command-line parser and runs when the user picks it.
#ifndef JRTOOL_COMMAND_H
#define JRTOOL_COMMAND_H

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

namespace jrtool {

class Command {
public:
    virtual ~Command() = default;
    // Adds the subcommand to `parent` and returns it.
    virtual CLI::App* Register(CLI::App& parent) = 0;
    // Returns the exit code (see ExitCode.h).
    virtual int Run() = 0;
};

std::unique_ptr<Command> MakeWriteCommand();
std::unique_ptr<Command> MakeListCommand();
std::unique_ptr<Command> MakeDumpCommand();
std::unique_ptr<Command> MakeCheckCommand();
std::unique_ptr<Command> MakeSalvageCommand();

// Help text shared by the commands that take a file.
extern const char* const kFileArgumentHelp;

// Print "jobresults: <message>" on standard error and return the exit code
// for a failure of the work (1) or for a usage error (2).
int ReportFailure(const std::string& message);
int ReportUsageError(const std::string& message);

}  // namespace jrtool

#endif
