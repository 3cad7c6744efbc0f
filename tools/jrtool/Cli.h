// The command line of the jobresults tool: its subcommands, its exit codes
// and the messages it prints for failures.
#ifndef JRTOOL_CLI_H
#define JRTOOL_CLI_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "jrtool/Files.h"

namespace jrtool {

// The convention of common command-line validators: 0 success, 1 a failure
// of the work itself, 2 a usage error.
enum ExitCode : int {
    kExitSuccess = 0,
    kExitFailure = 1,
    kExitUsage = 2,
};

// A subcommand registers its arguments with the command-line parser and
// runs when the user picks it.
class Command {
public:
    virtual ~Command() = default;
    // Adds the subcommand to `parent` and returns it.
    virtual CLI::App* Register(CLI::App& parent) = 0;
    // Returns the exit code.
    virtual int Run() = 0;
};

std::unique_ptr<Command> MakeWriteCommand();
std::unique_ptr<Command> MakeListCommand();
std::unique_ptr<Command> MakeDumpCommand();
std::unique_ptr<Command> MakeCheckCommand();
std::unique_ptr<Command> MakeSalvageCommand();
std::unique_ptr<Command> MakeMetricsCommand();
std::unique_ptr<Command> MakeFollowCommand();
std::unique_ptr<Command> MakeReportCommand();
std::unique_ptr<Command> MakeCloseCommand();
std::unique_ptr<Command> MakePruneCommand();

// What `check` says of a file that `source` has read to its end: empty when
// the file passes, else where its damage begins and what it is.
std::string CheckVerdict(const ResultsFilePath& file, const RecordSource& source);

// The parser reports a first word that names no command as a missing
// command: the message that names it instead, or nullopt when the first
// word that is no option is a command (or there is none).
std::optional<std::string> UnknownCommand(CLI::App& app, int argc, const char* const* argv);

// Help text shared by the commands that take a file.
std::string FileArgumentHelp();

// Print "jobresults: <message>" on standard error and return the exit code
// for a failure of the work (1) or for a usage error (2).
int ReportFailure(const std::string& message);
int ReportUsageError(const std::string& message);

// The files of a directory name, for a command that works on all of them.
// Says on standard error what a directory name that is a directory means,
// and which copies left by a stopped salvage lie among the files.
// Nullopt, with exitCode set, when the files cannot be listed, or when the
// name names nothing anyone means (empty, or ending in "/") and finds no
// files (a usage error).
std::optional<std::vector<jobresults::ResultsFile>> ListForCommand(const std::string& dirName,
                                                                   int& exitCode);

// Says on standard error, one line each, which copies left by a stopped
// salvage lie among the files of `dirName`, and what removes them.
void NoteRescueLeftovers(const std::string& dirName);

// DIR, the directory name whose files a command reads (required).
void AddDirectoryNameArgument(CLI::App* command, std::string& dirName);

// Writes a command's result to standard output, or to `output` replaced
// whole; the exit code.
int WriteResult(const std::string& output, const std::string& text);

// The FILE [NAME] arguments of the commands that work on one file: a whole
// path, or a directory name followed by the file name.
class SingleFileArgument {
public:
    // Adds FILE (required) and NAME to the command.
    void Register(CLI::App* command);
    // The file named, or nullopt with a message in `error`.
    std::optional<ResultsFilePath> Parse(std::string& error) const;

private:
    std::string m_file;
    std::string m_name;
};

}  // namespace jrtool

#endif
