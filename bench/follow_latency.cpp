// How long a record takes to reach a consumer of `jobresults follow`: from
// addJobResult returning to the record's line arriving at the reading end
// of follow's output pipe.
//
//   follow_latency TOOL DIRNAME RECORDS [PAUSE_US]
//
// Starts TOOL follow DIRNAME (with a state file beside DIRNAME), appends RECORDS records through
// the store, one every PAUSE_US microseconds (default 2000), waits for each line, and prints the
// median, 99th percentile and largest latency in microseconds, and follow's peak resident memory
// (VmHWM) before it is stopped.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"

namespace {

using Clock = std::chrono::steady_clock;

// follow writes its state once it has read the files there are; records
// appended before that would be taken as old.
pid_t StartFollow(const char* tool, const char* dirName, const std::string& state, int& output) {
    int ends[2];
    if (pipe(ends) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        close(ends[1]);
        execl(tool, tool, "follow", dirName, "--state", state.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    output = ends[0];
    return child;
}

// Reads up to and including the next newline; false at the end.
bool ReadLine(int fd) {
    char c;
    for (;;) {
        const ssize_t got = read(fd, &c, 1);
        if (got <= 0) return false;
        if (c == '\n') return true;
    }
}

std::string PeakMemory(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return line.substr(6);
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: follow_latency TOOL DIRNAME RECORDS [PAUSE_US]\n");
        return 2;
    }
    const int records = std::atoi(argv[3]);
    const int pause = argc > 4 ? std::atoi(argv[4]) : 2000;
    int output = -1;
    const std::string state = std::string(argv[2]) + ".follow-state";
    unlink(state.c_str());
    const pid_t follow = StartFollow(argv[1], argv[2], state, output);
    if (follow < 0) return 1;
    while (access(state.c_str(), F_OK) != 0) usleep(10000);
    CCIJobResults writer;
    writer.createJobResults(argv[2]);
    const JobResults record{"client-latency", "/jobs/latency", "1", "", 4096};
    std::vector<double> micros;
    // The first record creates the file and also tells that follow runs:
    // it is waited for without a bound and not counted.
    for (int i = 0; i <= records; ++i) {
        if (writer.addJobResult(record) != 1) return 1;
        const auto appended = Clock::now();
        if (!ReadLine(output)) return 1;
        const std::chrono::duration<double, std::micro> took = Clock::now() - appended;
        if (i > 0) micros.push_back(took.count());
        usleep(static_cast<useconds_t>(pause));
    }
    const std::string peak = PeakMemory(follow);
    kill(follow, SIGTERM);
    int status = 0;
    waitpid(follow, &status, 0);
    std::sort(micros.begin(), micros.end());
    std::printf("records %zu median_us %.0f p99_us %.0f max_us %.0f follow_peak %s exit %d\n",
                micros.size(), micros[micros.size() / 2], micros[micros.size() * 99 / 100],
                micros.back(), peak.c_str(), WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}
