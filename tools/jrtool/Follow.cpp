// jobresults follow DIR: every record of a directory name's job results
// files as one JSON line, as it lands, for log shippers. inotify on the
// host directory wakes it; where inotify cannot watch, it looks every
// second. A record is done once its line is written to standard output,
// or, with --exec, once the command that took its batch exited with 0;
// with --state, a restart goes on behind the records done, so after a kill
// at any moment every record is printed at least once, a repeat under the
// same key: the file's identity (device, inode, birth time and the
// fingerprint of its first record) and the record's offset. The files
// decide what is read, never the clock; the clock only closes a batch.
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <vector>

#include "jobresults/JobResultsWatch.h"
#include "jrtool/BatchCommand.h"
#include "jrtool/Cli.h"
#include "jrtool/FollowState.h"
#include "jrtool/Output.h"
#include "jrtool/StateFile.h"

namespace jrtool {

namespace {

constexpr int kPollMilliseconds = 1000;
constexpr std::size_t kOutputChunk = std::size_t{64} << 10;
// Whatever the records' sizes, a batch for --exec stays within this.
constexpr std::size_t kBatchBytes = std::size_t{16} << 20;
// While batches follow one another, the state is saved at most this often:
// each save syncs the disk, which would cost more than the batches. A kill
// sends again at most what was kept since.
constexpr std::chrono::milliseconds kStateSpacing{250};

struct FollowOptions {
    std::string dirName;
    std::string statePath;
    bool fromStart = false;
    std::string hostName;  // the value of each line's host
    std::string exec;      // the command of --exec; empty: standard output
    unsigned execTimeoutSeconds = 60;
    std::size_t batchRecords = 1000;
    unsigned batchMilliseconds = 200;
};

class Follower {
public:
    using Clock = BatchCommand::Clock;

    explicit Follower(FollowOptions options)
        : m_options(std::move(options)),
          m_dirName(m_options.dirName),
          m_statePath(m_options.statePath),
          m_host(jobresults::LocateOnHost(m_dirName)) {}

    int Run() {
        const int signals = BlockStopSignals();
        if (signals < 0) return ReportFailure(WithReason("cannot watch for signals", errno));
        if (!m_options.exec.empty()) {
            m_command.emplace(m_options.exec, std::chrono::seconds(m_options.execTimeoutSeconds),
                              signals);
        }
        std::string error;
        bool resumed = false;
        if (!LoadState(resumed, error)) return ReportFailure(error);
        // A state that cannot be written fails the run before any line.
        if (!m_statePath.empty() && !CheckWritable(m_statePath, error)) return ReportFailure(error);
        const int watch = WatchDirectory();
        NoteRescueLeftovers(m_dirName);
        // Before a first run with --state or without one, the records that
        // exist already are taken as printed unless --from-start is given.
        if (!ScanAll(resumed || m_options.fromStart)) return Ended();
        if (!SaveState(error)) return ReportFailure(error);
        if (m_taken > 0) {
            std::cerr << "jobresults: " << m_taken
                      << " records that exist already are taken as printed (--from-start "
                         "prints them)\n";
        }
        const int status = Loop(signals, watch);
        if (watch >= 0) close(watch);
        close(signals);
        return status;
    }

private:
    // --- the loop -------------------------------------------------------

    static int BlockStopSignals() {
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        if (sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) return -1;
        // A reader that goes away ends the run through a failed write.
        std::signal(SIGPIPE, SIG_IGN);
        return signalfd(-1, &stop, SFD_CLOEXEC);
    }

    int WatchDirectory() const {
        int watch = -1;
        if (const int failure = jobresults::WatchResultsFiles(m_dirName, watch)) {
            std::cerr << "jobresults: "
                      << WithReason("cannot watch " + m_host.directory + " for changes", failure)
                      << "; looking every second instead\n";
        }
        return watch;
    }

    int Loop(int signals, int watch) {
        for (;;) {
            pollfd waits[2] = {{signals, POLLIN, 0}, {watch, POLLIN, 0}};
            const int ready = poll(waits, watch >= 0 ? 2 : 1, WaitMilliseconds(watch >= 0));
            if (ready < 0 && errno != EINTR) {
                return ReportFailure(WithReason("cannot wait for changes", errno));
            }
            // A batch not yet kept is not in the state: a restart sends it.
            if (waits[0].revents != 0) return kExitSuccess;
            bool going = true;
            if (watch < 0) {
                going = ScanAll(true);
            } else if (waits[1].revents != 0) {
                going = HandleEvents(watch);
            }
            if (going && m_pending > 0 && Clock::now() >= m_batchDue) going = Send();
            if (!going) return Ended();
            KeepState();
        }
    }

    // How long the loop may wait for a change: until the open batch is
    // due, else for ever with inotify, a second without.
    int WaitMilliseconds(bool watching) const {
        int wait = watching ? -1 : kPollMilliseconds;
        if (m_pending == 0) return wait;
        const auto due =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_batchDue - Clock::now());
        const int dueIn = static_cast<int>(std::clamp<long long>(due.count() + 1, 0, INT_MAX));
        return wait < 0 ? dueIn : std::min(wait, dueIn);
    }

    // The exit code once the loop or a reading stopped: a stop signal met
    // while a batch was being sent ends the run as a stop between batches
    // does.
    int Ended() const { return m_stopped ? kExitSuccess : kExitFailure; }

    // Reads the queued events and reads the files they name, each once.
    bool HandleEvents(int watch) {
        const jobresults::WatchedChanges changes = jobresults::ReadWatchedChanges(watch, m_dirName);
        if (changes.directoryGone) {
            ReportFailure(m_host.directory + " was removed or moved");
            return false;
        }
        const std::size_t knownBefore = m_files.size();
        std::vector<jobresults::ResultsFile> files;
        if (!jobresults::DescribeWatchedFiles(m_dirName, changes, m_files, files))
            return ScanAll(true);
        m_dirty = m_dirty || m_files.size() != knownBefore;
        return ReadAll(files, true);
    }

    // --- files ----------------------------------------------------------

    bool ScanAll(bool print) {
        std::vector<jobresults::ResultsFile> files;
        if (const int failure = jobresults::ListResultsFiles(m_dirName, files)) {
            ReportFailure(WithReason("cannot read directory '" + m_host.directory + "'", failure));
            return false;
        }
        // Files that went while nobody watched drop out.
        jobresults::KeepListed(m_files, files);
        m_dirty = true;
        return ReadAll(files, print);
    }

    // Oldest first, so that the lines come in the order the files were made.
    bool ReadAll(std::vector<jobresults::ResultsFile>& files, bool print) {
        std::sort(files.begin(), files.end(), jobresults::OlderFirst);
        for (const auto& file : files) {
            if (!ReadOne(file, print)) return false;
        }
        return true;
    }

    // Prints what the file gained; false only when the output fails or a
    // stop came while a batch was being sent.
    bool ReadOne(const jobresults::ResultsFile& file, bool print) {
        jobresults::KnownFile& followed = jobresults::KnownEntry(m_files, file);
        if (jobresults::UnchangedSince(followed.progress, file)) return true;
        jobresults::ProgressReading reading(file, jobresults::FileChange::kGrew, followed.progress);
        JobResults record;
        std::uint64_t offset = 0;
        std::string key;
        std::string whereabouts;
        while (reading.Next(record, offset)) {
            if (!print) continue;
            if (key.empty()) {
                key = KeyStart(file, reading.Progress().firstRecord);
                whereabouts = Whereabouts(file);
            }
            if (m_pending++ == 0) m_batchDue = Clock::now() + BatchSpan();
            ((m_output += key) += std::to_string(offset)) += whereabouts;
            AppendRecordMembers(record, m_output);
            m_output += "}\n";
            if (BatchFull()) {
                // Once sent, the state goes on behind the batch's last
                // record, even in the middle of a file.
                followed.progress = reading.ProgressSoFar();
                m_dirty = true;
                if (!Send()) return false;
            }
        }
        followed.progress = reading.Progress();
        const jobresults::ProgressOutcome& outcome = reading.Outcome();
        m_dirty = true;
        if (!print) m_taken += outcome.records;
        // On standard output the lines go out before the state can count
        // their records done; a batch waits until it is full or due.
        if (!m_command && !Send()) return false;
        if (outcome.replaced) {
            std::cerr << "jobresults: " << file.path
                      << ": not the file read before (rewritten or replaced): read again from "
                         "its start\n";
        }
        if (outcome.problem == jobresults::ProgressProblem::kNone) return true;
        std::cerr << "jobresults: " << file.path << ": " << ProblemText(file, outcome, false)
                  << '\n';
        // Said once: a file that could not be read is tried again when it
        // changes.
        jobresults::MarkDamaged(followed.progress, file);
        return true;
    }

    // --- output ---------------------------------------------------------

    // The identity, and the first record's fingerprint: a file rewritten
    // in place keeps the identity but not its first record.
    static std::string KeyStart(const jobresults::ResultsFile& file, std::uint64_t firstRecord) {
        std::string start = "{\"file\":";
        AppendJsonString(file.path, start);
        char id[96];
        std::snprintf(id, sizeof id, "%llx:%llx:%llx:%016llx",
                      static_cast<unsigned long long>(file.identity.device),
                      static_cast<unsigned long long>(file.identity.inode),
                      static_cast<unsigned long long>(file.identity.birthNanoseconds),
                      static_cast<unsigned long long>(firstRecord));
        return start + ",\"file_id\":\"" + id + "\",\"offset\":";
    }

    // The members behind the offset: where and when the job ran, the
    // file's creation second as its name gives it.
    std::string Whereabouts(const jobresults::ResultsFile& file) const {
        std::string members = ",\"host\":";
        AppendJsonString(m_options.hostName, members);
        return members + ",\"time\":\"" + FormatUtcTime(file.createdSeconds) +
               "\",\"time_seconds\":" + std::to_string(file.createdSeconds) + ',';
    }

    std::chrono::milliseconds BatchSpan() const {
        return std::chrono::milliseconds(m_command ? m_options.batchMilliseconds : 0);
    }

    bool BatchFull() const {
        if (!m_command) return m_output.size() >= kOutputChunk;
        return m_pending >= m_options.batchRecords || m_output.size() >= kBatchBytes;
    }

    // Hands the lines held to standard output or to the command, and with
    // --exec saves the state once the command kept them.
    bool Send() {
        if (m_command) {
            if (m_pending > 0 && !m_command->Deliver(m_output, m_pending)) {
                m_stopped = true;
                return false;
            }
        } else if (const int failed =
                       jobresults::WriteFully(STDOUT_FILENO, m_output.data(), m_output.size())) {
            if (failed != EPIPE) ReportFailure(WithReason("cannot write the output", failed));
            return false;
        }
        m_output.clear();
        m_pending = 0;
        if (m_command && Clock::now() - m_saved >= kStateSpacing) KeepState();
        return true;
    }

    // --- state ----------------------------------------------------------

    bool LoadState(bool& resumed, std::string& error) {
        return m_statePath.empty() ||
               LoadFollowState(m_statePath, m_dirName, m_files, resumed, error);
    }

    // False with a message in `error` when the state could not be written.
    bool SaveState(std::string& error) {
        // The progress of records in a batch not yet kept must not be
        // saved; the save comes once the batch is sent.
        if (m_statePath.empty() || !m_dirty || m_pending > 0) return true;
        const std::string text = FollowStateText(m_dirName, m_files);
        if (!ReplaceFile(m_statePath, jobresults::SealText(text), 0600, error)) return false;
        m_dirty = false;
        m_saved = Clock::now();
        return true;
    }

    // Once lines flow, a state that cannot be written does not stop them:
    // every record is still printed, and a restart only repeats more lines,
    // under their keys, which a consumer drops. Stopping would hold back
    // every record for the sake of fewer repeats. Each kind of failure is
    // said once, and so is a save that works again; the state stays
    // changed, so every round tries again.
    void KeepState() {
        std::string error;
        if (SaveState(error)) {
            if (!m_stateFailure.empty()) {
                std::cerr << "jobresults: " << m_statePath << " is saved again\n";
            }
            m_stateFailure.clear();
        } else if (error != m_stateFailure) {
            std::cerr << "jobresults: " << error
                      << "; following on: a restart goes on from the last state saved and "
                         "prints again what came after it\n";
            m_stateFailure = error;
        }
    }

    const FollowOptions m_options;
    const std::string& m_dirName;
    const std::string& m_statePath;
    const jobresults::HostLocation m_host;
    std::optional<BatchCommand> m_command;  // with --exec
    jobresults::KnownFiles m_files;
    std::string m_output;          // the lines not yet sent: at most one batch
    std::size_t m_pending = 0;     // the records of those lines
    Clock::time_point m_batchDue;  // when the open batch is sent, full or not
    bool m_stopped = false;
    Clock::time_point m_saved;  // when the state was saved last
    bool m_dirty = false;
    std::string m_stateFailure;  // the last failure to save said, until a save works
    std::size_t m_taken = 0;     // records taken as printed on a first run
};

class FollowCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "follow", "Print every record of a directory name's files as a JSON line as it lands");
        AddDirectoryNameArgument(command, m_options.dirName);
        command->add_option("--state", m_options.statePath,
                            "Keep in this file which records were printed; a restart goes on "
                            "behind them");
        command->add_flag("--from-start", m_options.fromStart,
                          "Print the records that exist already too (on a first run with "
                          "--state, or on every run without it)");
        command->add_option("--host", m_options.hostName,
                            "The value of each line's host (default: this machine's host name)");
        AddExecOptions(command);
        command->footer(
            "Each line holds file, file_id and offset, the key of the record (see jobresults(1)), "
            "host, time and time_seconds, then the keys of dump --format jsonl. SIGINT and "
            "SIGTERM end the command with 0.");
        return command;
    }

    int Run() override {
        if (m_options.hostName.empty()) {
            char name[256] = {};
            if (gethostname(name, sizeof name - 1) != 0)
                return ReportFailure(WithReason("cannot tell the host name (give --host)", errno));
            m_options.hostName = name;
        }
        return Follower(m_options).Run();
    }

private:
    void AddExecOptions(CLI::App* command) {
        CLI::Option* exec = command->add_option(
            "--exec", m_options.exec,
            "Hand the lines in batches to this command (through /bin/sh -c, one run per batch, "
            "the batch on its standard input); a batch counts as printed once a run exits with "
            "0, and goes to a new run otherwise");
        command
            ->add_option("--exec-timeout", m_options.execTimeoutSeconds,
                         "Kill a run of the --exec command that takes longer than this many "
                         "seconds, and try again")
            ->capture_default_str()
            ->check(CLI::Range(1u, 86400u))
            ->needs(exec);
        command
            ->add_option("--batch-records", m_options.batchRecords,
                         "The most records in one batch for --exec")
            ->capture_default_str()
            ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 20))
            ->needs(exec);
        command
            ->add_option("--batch-ms", m_options.batchMilliseconds,
                         "Send a batch for --exec at the latest this many milliseconds after "
                         "its first record was read")
            ->capture_default_str()
            ->check(CLI::Range(0u, 3600000u))
            ->needs(exec);
    }

    FollowOptions m_options;
};

}  // namespace

std::unique_ptr<Command> MakeFollowCommand() { return std::make_unique<FollowCommand>(); }

}  // namespace jrtool
