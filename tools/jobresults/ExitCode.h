// Exit codes of the jobresults tool, the convention of common command-line
// validators: 0 success, 1 a failure of the work itself, 2 a usage error.
#ifndef JOBRESULTS_TOOL_EXITCODE_H
#define JOBRESULTS_TOOL_EXITCODE_H

namespace jobresults {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitFailure = 1,
    kExitUsage = 2,
};

}  // namespace jobresults

#endif
