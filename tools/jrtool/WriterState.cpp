#include "jrtool/WriterState.h"

namespace jrtool {

std::optional<bool> WriterAlive(const std::string& path) {
    const jobresults::WriterProbe probe = jobresults::ProbeWriter(path);
    if (probe.error != 0) return std::nullopt;
    return probe.alive;
}

}  // namespace jrtool
