// follow --exec: a command that takes a batch of lines on its standard
// input and says with its exit status whether it kept them. It runs through
// /bin/sh -c once per batch, in a process group of its own, so that a
// command that hangs is killed with everything it started. Only an exit
// status of 0 after the whole batch was taken counts; any other ending hands
// the same batch to a new run, after a pause that doubles up to a limit.
#ifndef JRTOOL_BATCHCOMMAND_H
#define JRTOOL_BATCHCOMMAND_H

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>

namespace jrtool {

// How one run of the command ended.
struct CommandRun {
    enum class Ending {
        kExited,      // value: the exit status
        kSignaled,    // value: the signal
        kTimedOut,    // ran past its time and was killed
        kCutShort,    // exited before it had read the whole batch; value: the exit status
        kNotStarted,  // value: the errno
        kStopped,     // SIGINT or SIGTERM came to follow: killed, not counted
    };
    Ending ending = Ending::kExited;
    int value = 0;

    bool Kept() const { return ending == Ending::kExited && value == 0; }
};

// What a run that did not keep its batch did, for a message: "exited with
// status 3", "was killed by signal 9 (Killed)", ...
std::string DescribeRun(const CommandRun& run, std::chrono::seconds timeout);

class BatchCommand {
public:
    using Clock = std::chrono::steady_clock;

    // The pauses between runs of one batch: the first, doubled after each
    // failure up to the longest.
    static constexpr std::chrono::milliseconds kFirstPause{250};
    static constexpr std::chrono::milliseconds kLongestPause{30000};

    // `stopFd` becomes readable when the caller is to stop (a signalfd);
    // it is watched, never read.
    BatchCommand(std::string command, std::chrono::seconds timeout, int stopFd)
        : m_command(std::move(command)), m_timeout(timeout), m_stopFd(stopFd) {}

    // Runs the command on `lines` until a run keeps them, saying on
    // standard error why each run that did not failed and when the next
    // comes. False when a stop came first: the batch is not kept.
    bool Deliver(const std::string& lines, std::size_t records);

    // One run on `lines`.
    CommandRun RunOnce(const std::string& lines) const;

private:
    enum class Wait { kReady, kTimeout, kStop };

    // Waits until `fd` (none when negative) shows `events`, the stop fd is
    // readable, `deadline` passes or `tick` has gone by (kReady then).
    Wait WaitFor(int fd, short events, Clock::time_point deadline,
                 std::chrono::milliseconds tick = kLongestPause) const;
    int Spawn(int input, pid_t& pid) const;
    CommandRun Feed(int fd, const std::string& lines, Clock::time_point deadline) const;
    CommandRun Reap(pid_t pid, CommandRun fed, Clock::time_point deadline) const;

    const std::string m_command;
    const std::chrono::seconds m_timeout;
    const int m_stopFd;
};

}  // namespace jrtool

#endif
