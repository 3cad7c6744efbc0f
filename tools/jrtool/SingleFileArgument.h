// The FILE [NAME] arguments of the commands that work on one file: a whole
// path, or a directory name followed by the file name.
#ifndef JRTOOL_SINGLEFILEARGUMENT_H
#define JRTOOL_SINGLEFILEARGUMENT_H

#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "jrtool/FilePath.h"

namespace jrtool {

class SingleFileArgument {
public:
    // Adds FILE (required) and NAME to the command.
    void Register(CLI::App* command);
    // The file named, or nullopt with a message in `error`.
    std::optional<ResultsFilePath> Parse(std::string& error) const;

private:
    std::string file_;
    std::string name_;
};

}  // namespace jrtool

#endif
