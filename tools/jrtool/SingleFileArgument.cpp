#include "jrtool/SingleFileArgument.h"

#include <vector>

namespace jrtool {

void SingleFileArgument::Register(CLI::App* command) {
    command->add_option("FILE", file_, "Whole path, or a directory name followed by NAME")
        ->required();
    command->add_option("NAME", name_, "File name, when FILE is a directory name");
}

std::optional<ResultsFilePath> SingleFileArgument::Parse(std::string& error) const {
    std::vector<std::string> arguments{file_};
    if (!name_.empty()) arguments.push_back(name_);
    return ParseSingleFileArguments(arguments, error);
}

}  // namespace jrtool
