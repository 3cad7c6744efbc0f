// Exit codes of the jobresults tool, the convention of common command-line
// validators: 0 success, 1 a failure of the work itself, 2 a usage error.
#ifndef JRTOOL_EXITCODE_H
#define JRTOOL_EXITCODE_H

namespace jrtool {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitFailure = 1,
    kExitUsage = 2,
};

}  // namespace jrtool

#endif
