#include "jobresults/detail/Durability.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "jobresults/detail/AppendProtocol.h"

namespace jobresults {
namespace {

// The words of the levels, in the order of the enum from kNone on.
constexpr const char* kLevelNames[] = {"none", "name", "append"};
constexpr JobResultsSync kDefaultLevel = JobResultsSync::kName;

}  // namespace

bool ParseSyncLevel(const std::string& word, JobResultsSync& level) {
    for (unsigned char index = 0; index < 3; ++index) {
        if (word != kLevelNames[index]) continue;
        level = static_cast<JobResultsSync>(index + 1);
        return true;
    }
    return false;
}

const char* SyncLevelName(JobResultsSync level) {
    const auto index = static_cast<unsigned char>(level);
    return index >= 1 && index <= 3 ? kLevelNames[index - 1] : "";
}

int SyncData(int fd) {
    while (fdatasync(fd) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

int SyncHoldingDirectory(const std::string& path) {
    const int fd = open(HoldingDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    while (fsync(fd) != 0) {
        if (errno == EINTR) continue;
        error = errno;
        break;
    }
    close(fd);
    return error;
}

bool LevelForNewFile(JobResultsSync chosen, JobResultsSync& level, std::string& refused) {
    if (chosen != JobResultsSync::kFromEnvironment) {
        level = chosen;
        return true;
    }
    // A program running with raised privileges does not let its caller's
    // environment choose.
    const char* word = secure_getenv(kSyncVariable);
    if (word == nullptr || *word == '\0') {
        level = kDefaultLevel;
        return true;
    }
    if (ParseSyncLevel(word, level)) return true;
    refused = word;
    return false;
}

}  // namespace jobresults
