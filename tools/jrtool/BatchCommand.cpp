#include "jrtool/BatchCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "jobresults/JobResultsReasons.h"
#include "jrtool/Text.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): for posix_spawn

namespace jrtool {

namespace {

using Ending = CommandRun::Ending;

// Milliseconds from now until `until`, at least 0, for poll.
int MillisecondsUntil(BatchCommand::Clock::time_point until) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - BatchCommand::Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 1 << 30));
}

std::string Seconds(std::chrono::milliseconds span) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(span.count()) / 1000);
    return text;
}

// The signals follow blocks or ignores for itself; the command gets them
// as a shell would.
void SetChildSignals(posix_spawnattr_t& attributes) {
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
}

}  // namespace

std::string DescribeRun(const CommandRun& run, std::chrono::seconds timeout) {
    switch (run.ending) {
        case Ending::kExited:
            return "exited with status " + std::to_string(run.value);
        case Ending::kSignaled:
            return "was killed by signal " + std::to_string(run.value) + " (" +
                   strsignal(run.value) + ")";
        case Ending::kTimedOut:
            return "ran past --exec-timeout (" + std::to_string(timeout.count()) +
                   " s) and was killed";
        case Ending::kCutShort:
            return "exited with status " + std::to_string(run.value) +
                   " before it had read the whole batch";
        case Ending::kNotStarted:
            return jobresults::WithReason("could not be started", run.value);
        case Ending::kStopped:
            break;
    }
    return "was stopped";
}

bool BatchCommand::Deliver(const std::string& lines, std::size_t records) {
    std::chrono::milliseconds pause = kFirstPause;
    for (unsigned tries = 1;; ++tries) {
        const CommandRun run = RunOnce(lines);
        if (run.ending == Ending::kStopped) return false;
        if (run.Kept()) {
            if (tries > 1) {
                std::cerr << "jobresults: --exec: the command kept the batch on try " << tries
                          << '\n';
            }
            return true;
        }
        std::cerr << "jobresults: --exec: the command " << DescribeRun(run, m_timeout)
                  << "; its batch of " << Counted(records, "record") << " goes to it again in "
                  << Seconds(pause) << '\n';
        if (WaitFor(-1, 0, Clock::now() + pause) == Wait::kStop) return false;
        pause = std::min(pause * 2, kLongestPause);
    }
}

CommandRun BatchCommand::RunOnce(const std::string& lines) const {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return {Ending::kNotStarted, errno};
    pid_t pid = 0;
    const int failed = Spawn(ends[0], pid);
    close(ends[0]);
    if (failed != 0) {
        close(ends[1]);
        return {Ending::kNotStarted, failed};
    }
    const Clock::time_point deadline = Clock::now() + m_timeout;
    const CommandRun fed = Feed(ends[1], lines, deadline);
    // The end of the input is the end of the batch.
    close(ends[1]);
    return Reap(pid, fed, deadline);
}

BatchCommand::Wait BatchCommand::WaitFor(int fd, short events, Clock::time_point deadline,
                                         std::chrono::milliseconds tick) const {
    const Clock::time_point until = std::min(deadline, Clock::now() + tick);
    for (;;) {
        pollfd waits[2] = {{m_stopFd, POLLIN, 0}, {fd, events, 0}};
        const int ready = poll(waits, 2, MillisecondsUntil(until));
        if (ready < 0 && errno == EINTR) continue;
        if (waits[0].revents != 0) return Wait::kStop;
        if (ready != 0) return Wait::kReady;
        if (Clock::now() >= deadline) return Wait::kTimeout;
        if (Clock::now() >= until) return Wait::kReady;
    }
}

int BatchCommand::Spawn(int input, pid_t& pid) const {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawnattr_init(&attributes);
    SetChildSignals(attributes);
    // A group of its own, so that a kill reaches what the shell started.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    const char* const arguments[] = {"sh", "-c", m_command.c_str(), nullptr};
    // posix_spawn takes the arguments as non-const for history's sake only.
    const int failed = posix_spawn(&pid, "/bin/sh", &actions, &attributes,
                                   const_cast<char* const*>(arguments), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed;
}

// Writes the batch into the command's input. The write end does not block,
// so that a command that stops reading cannot hold follow past the
// deadline or a stop; a command that closes its input ends the writing
// (EPIPE, as SIGPIPE is ignored).
CommandRun BatchCommand::Feed(int fd, const std::string& lines, Clock::time_point deadline) const {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::size_t done = 0;
    while (done < lines.size()) {
        const ssize_t wrote = write(fd, lines.data() + done, lines.size() - done);
        if (wrote > 0) {
            done += static_cast<std::size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0 && errno != EAGAIN) return {Ending::kCutShort, 0};
        const Wait waited = WaitFor(fd, POLLOUT, deadline);
        if (waited == Wait::kStop) return {Ending::kStopped, 0};
        if (waited == Wait::kTimeout) return {Ending::kTimedOut, 0};
    }
    return {Ending::kExited, 0};
}

// Waits for the shell to end; one that runs past the deadline, or meets a
// stop, is killed with its group.
CommandRun BatchCommand::Reap(pid_t pid, CommandRun fed, Clock::time_point deadline) const {
    // Without a pidfd (kernels before 5.3) the exit is looked for every 5 ms.
    const int exits = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    const std::chrono::milliseconds tick(exits >= 0 ? kLongestPause.count() : 5);
    int status = 0;
    pid_t ended = 0;
    const auto running = [&] {
        return fed.ending == Ending::kExited || fed.ending == Ending::kCutShort;
    };
    while (running() && (ended = waitpid(pid, &status, WNOHANG)) == 0) {
        const Wait waited = WaitFor(exits, POLLIN, deadline, tick);
        if (waited == Wait::kStop) fed.ending = Ending::kStopped;
        if (waited == Wait::kTimeout) fed.ending = Ending::kTimedOut;
    }
    if (exits >= 0) close(exits);
    if (ended != pid) {
        kill(-pid, SIGKILL);
        while ((ended = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
    }
    if (!running()) return fed;
    if (ended != pid) return {Ending::kNotStarted, errno};  // not ours to wait for: never kept
    if (WIFSIGNALED(status)) return {Ending::kSignaled, WTERMSIG(status)};
    return {fed.ending, WEXITSTATUS(status)};
}

}  // namespace jrtool
