// jobresults: writes, lists, dumps, checks, salvages and closes job results files
// through the cijobresults library, and hands their records to monitoring
// (metrics) and log pipelines (follow).
#include <exception>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "jrtool/Cli.h"
#include "jrtool/Version.h"

#ifndef JOBRESULTS_VERSION_LINE
#error "JOBRESULTS_VERSION_LINE must name the version line the tool is built with"
#endif

namespace {

// Help and --version leave with 0; every other parse error is a usage
// error, whatever code the parser would give it.
int ExitForParseError(CLI::App& app, const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? jrtool::kExitSuccess : jrtool::kExitUsage;
}

}  // namespace

// What can escape is the parser's setup failing, on a duplicate option (a
// fault of this program) or lack of memory: ending at once is right for both.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    CLI::App app{"Write, inspect, validate and rescue job results files.", "jobresults"};
    app.set_version_flag(
        "--version", [] { return jrtool::VersionText(JOBRESULTS_VERSION_LINE); },
        "Print the loaded library's version line and exit");
    app.require_subcommand(1);
    app.footer(
        "Exit codes: 0 success, 1 failure, 2 usage error. "
        "Run 'jobresults COMMAND --help' for the arguments of a command.");

    std::vector<std::pair<std::unique_ptr<jrtool::Command>, CLI::App*>> commands;
    for (auto* make :
         {jrtool::MakeWriteCommand, jrtool::MakeListCommand, jrtool::MakeDumpCommand,
          jrtool::MakeCheckCommand, jrtool::MakeSalvageCommand, jrtool::MakeCloseCommand,
          jrtool::MakePruneCommand, jrtool::MakeMetricsCommand, jrtool::MakeFollowCommand,
          jrtool::MakeReportCommand}) {
        auto command = make();
        CLI::App* subcommand = command->Register(app);
        commands.emplace_back(std::move(command), subcommand);
    }

    if (const auto unknown = jrtool::UnknownCommand(app, argc, argv)) {
        return jrtool::ReportUsageError(*unknown);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return ExitForParseError(app, error);
    }
    try {
        for (auto& [command, subcommand] : commands) {
            if (subcommand->parsed()) return command->Run();
        }
    } catch (const std::exception& error) {
        return jrtool::ReportFailure(error.what());
    }
    return jrtool::kExitUsage;
}
