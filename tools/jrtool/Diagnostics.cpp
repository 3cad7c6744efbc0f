#include <iostream>

#include "jrtool/Command.h"
#include "jrtool/ExitCode.h"

namespace jrtool {

const char* const kFileArgumentHelp =
    "A file is named by its whole path, e.g. 'demo/results\\ci_push_1700000000.xml' "
    "(everything before the last backslash is the directory name), or by a "
    "directory name and a file name as two arguments: demo/results ci_push_1700000000.xml";

int ReportFailure(const std::string& message) {
    std::cerr << "jobresults: " << message << '\n';
    return kExitFailure;
}

int ReportUsageError(const std::string& message) {
    std::cerr << "jobresults: " << message << "\nRun with --help for more information.\n";
    return kExitUsage;
}

}  // namespace jrtool
