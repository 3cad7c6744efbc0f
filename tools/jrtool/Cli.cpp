#include "jrtool/Cli.h"

#include <algorithm>
#include <iostream>
#include <vector>

#include "jrtool/StateFile.h"

namespace jrtool {

std::string FileArgumentHelp() {
    const std::string example = jobresults::ResultsFileName(1700000000);
    return "A file is named by its whole path, e.g. '" +
           ResultsFilePath{"demo/results", example}.WholePath() +
           "' (everything before the last backslash is the directory name), or by a "
           "directory name and a file name as two arguments: demo/results " +
           example;
}

std::optional<std::string> UnknownCommand(CLI::App& app, int argc, const char* const* argv) {
    // The tool's own options take no value, so the first other word is the
    // command.
    const auto word = std::find_if(argv + std::min(argc, 1), argv + argc,
                                   [](const char* argument) { return argument[0] != '-'; });
    if (word == argv + argc) return std::nullopt;
    std::string names;
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->check_name(*word)) return std::nullopt;
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    return "unknown command '" + std::string(*word) + "'; the commands are " + names;
}

int ReportFailure(const std::string& message) {
    std::cerr << "jobresults: " << message << '\n';
    return kExitFailure;
}

int ReportUsageError(const std::string& message) {
    std::cerr << "jobresults: " << message << "\nRun with --help for more information.\n";
    return kExitUsage;
}

std::optional<std::vector<jobresults::ResultsFile>> ListForCommand(const std::string& dirName,
                                                                   int& exitCode) {
    std::vector<jobresults::ResultsFile> listed;
    if (const int failure = jobresults::ListResultsFiles(dirName, listed)) {
        exitCode = ReportFailure(WithReason(
            "cannot read directory " + jobresults::LocateOnHost(dirName).directory, failure));
        return std::nullopt;
    }
    const auto note = NoteOnDirectoryName(dirName);
    if (note && note->endsInSlash && listed.empty()) {
        exitCode = ReportUsageError(note->text);
        return std::nullopt;
    }
    if (note) std::cerr << "jobresults: note: " << note->text << '\n';
    NoteRescueLeftovers(dirName);
    return listed;
}

void NoteRescueLeftovers(const std::string& dirName) {
    for (const jobresults::RescueLeftover& leftover : jobresults::ListRescueLeftovers(dirName)) {
        std::cerr << "jobresults: note: '" << leftover.path
                  << "' is a copy left by a salvage that stopped; jobresults salvage '"
                  << leftover.original << "' removes it\n";
    }
}

void AddDirectoryNameArgument(CLI::App* command, std::string& dirName) {
    command->add_option("DIR", dirName, "Directory name the files are written with")->required();
}

int WriteResult(const std::string& output, const std::string& text) {
    std::string error;
    if (output.empty()) {
        std::cout << text << std::flush;
    } else if (!ReplaceFile(output, text, 0644, error)) {
        return ReportFailure(error);
    }
    return kExitSuccess;
}

void SingleFileArgument::Register(CLI::App* command) {
    command->add_option("FILE", m_file, "Whole path, or a directory name followed by NAME")
        ->required();
    command->add_option("NAME", m_name, "File name, when FILE is a directory name");
}

std::optional<ResultsFilePath> SingleFileArgument::Parse(std::string& error) const {
    std::vector<std::string> arguments{m_file};
    if (!m_name.empty()) arguments.push_back(m_name);
    return jobresults::ParseSingleFileArguments(arguments, error);
}

}  // namespace jrtool
