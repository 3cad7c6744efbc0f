// jobresults follow DIR: every record of a directory name's job results
// files as one JSON line, as it lands, for log shippers. inotify on the
// host directory wakes it; where inotify cannot watch, it looks every
// second. A record is done once its line is written; with --state, a
// restart goes on behind the records done, so after a kill at any moment
// every record is printed at least once, a repeat with the same key
// (file, offset).
//
// Memory stays bounded whatever the number of files: a saved file read to
// its end is forgotten once its creation time lies kSettleSeconds in the
// past, and the state keeps only that time ("done before") for all such
// files together.
#include <poll.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <ctime>
#include <iostream>
#include <map>
#include <set>
#include <vector>

#include "jrtool/Cli.h"
#include "jrtool/Output.h"
#include "jrtool/Progress.h"
#include "jrtool/StateFile.h"

namespace jrtool {

namespace {

const std::string kStateKind = "jobresults follow state 1";

// A file named with a creation time this far in the past no longer
// appears in the directory but by being moved there: once read, it can be
// summarised by the time alone.
constexpr long long kSettleSeconds = 120;

constexpr int kPollMilliseconds = 1000;
constexpr std::size_t kOutputChunk = std::size_t{64} << 10;

constexpr uint32_t kWatchedEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO |
                                    IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                    IN_ONLYDIR;

struct FollowedFile {
    long long created = 0;
    FileProgress progress;
};

struct Candidate {
    std::string fileName;
    long long created;
};

class Follower {
public:
    Follower(std::string dirName, std::string statePath, bool fromStart)
        : m_dirName(std::move(dirName)),
          m_statePath(std::move(statePath)),
          m_fromStart(fromStart),
          m_host(LocateOnHost(m_dirName)) {}

    int Run() {
        const int signals = BlockStopSignals();
        if (signals < 0) return ReportFailure(WithReason("cannot watch for signals", errno));
        std::string error;
        bool resumed = false;
        if (!LoadState(resumed, error)) return ReportFailure(error);
        const int watch = WatchDirectory();
        // Before a first run with --state or without one, the records that
        // exist already are taken as printed unless --from-start is given.
        if (!ScanAll(resumed || m_fromStart) || !SaveState()) return kExitFailure;
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
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch >= 0 && inotify_add_watch(watch, m_host.directory.c_str(), kWatchedEvents) >= 0) {
            return watch;
        }
        std::cerr << "jobresults: "
                  << WithReason("cannot watch " + m_host.directory + " for changes", errno)
                  << "; looking every second instead\n";
        if (watch >= 0) close(watch);
        return -1;
    }

    int Loop(int signals, int watch) {
        for (;;) {
            pollfd waits[2] = {{signals, POLLIN, 0}, {watch, POLLIN, 0}};
            const int ready = poll(waits, watch >= 0 ? 2 : 1, watch >= 0 ? -1 : kPollMilliseconds);
            if (ready < 0 && errno != EINTR) {
                return ReportFailure(WithReason("cannot wait for changes", errno));
            }
            if (waits[0].revents != 0) return kExitSuccess;
            bool going = true;
            if (watch < 0) {
                going = ScanAll(true);
            } else if (waits[1].revents != 0) {
                going = HandleEvents(watch);
            }
            if (!going || !SaveState()) return kExitFailure;
        }
    }

    // Reads the queued events and reads the files they name, each once.
    bool HandleEvents(int watch) {
        alignas(inotify_event) char buffer[64 * 1024];
        std::map<std::string, bool> touched;  // entry name -> still there
        bool rescan = false;
        // One read a round: events that keep coming wait for the next one,
        // behind a signal to stop.
        const ssize_t size = read(watch, buffer, sizeof buffer);
        if (size > 0) {
            for (const char* at = buffer; at < buffer + size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                at += sizeof(inotify_event) + event->len;
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    ReportFailure(m_host.directory + " was removed or moved");
                    return false;
                }
                if (event->mask & IN_Q_OVERFLOW) rescan = true;
                if (event->len == 0) continue;
                touched[event->name] = (event->mask & (IN_DELETE | IN_MOVED_FROM)) == 0;
            }
        }
        std::vector<Candidate> candidates;
        for (const auto& [entry, present] : touched) {
            const auto fileName = rescan ? std::nullopt : FileNameOfEntry(entry);
            if (!fileName) {
                rescan = rescan || (present && !AddByAnonymousName(entry, candidates));
                continue;
            }
            const auto created = CreationTimeFromFileName(*fileName);
            if (!present) {
                if (m_files.erase(*fileName) > 0) m_dirty = true;
            } else if (created && Wanted(*fileName, *created)) {
                candidates.push_back({*fileName, *created});
            } else if (created) {
                NoteSkipped(*fileName);
            }
        }
        if (rescan) return ScanAll(true);
        return ReadAll(candidates, true);
    }

    // The store makes a file without a name and links it into place once
    // it reads; appends through that descriptor are reported under the
    // name the kernel gave the anonymous file, "#" and its inode number.
    // False when the name is such a name but of no file followed, so that
    // only a look at the whole directory can tell which file it is.
    bool AddByAnonymousName(const std::string& entry, std::vector<Candidate>& candidates) const {
        std::uint64_t inode = 0;
        if (entry.empty() || entry[0] != '#' || !ParseStateNumber(entry.substr(1), inode)) {
            return true;
        }
        for (const auto& [fileName, file] : m_files) {
            if (file.progress.stamp.inode != inode) continue;
            candidates.push_back({fileName, file.created});
            return true;
        }
        return false;
    }

    // --- files ----------------------------------------------------------

    std::optional<std::string> FileNameOfEntry(const std::string& entry) const {
        if (entry.compare(0, m_host.namePrefix.size(), m_host.namePrefix) != 0) {
            return std::nullopt;
        }
        return entry.substr(m_host.namePrefix.size());
    }

    // Files summarised as done are left alone.
    bool Wanted(const std::string& fileName, long long created) const {
        return created >= m_doneBefore || m_files.count(fileName) > 0;
    }

    bool ScanAll(bool print) {
        std::vector<Candidate> candidates;
        const int failure = ForEachResultsFile(m_dirName, [&](int, const char*, ListedFile file) {
            if (Wanted(file.path.fileName, file.createdSeconds)) {
                candidates.push_back({file.path.fileName, file.createdSeconds});
            }
            return true;
        });
        if (failure != 0) {
            ReportFailure(WithReason("cannot read directory '" + m_host.directory + "'", failure));
            return false;
        }
        // Files that went while nobody watched drop out.
        for (auto it = m_files.begin(); it != m_files.end();) {
            const bool listed =
                std::any_of(candidates.begin(), candidates.end(),
                            [&](const Candidate& c) { return c.fileName == it->first; });
            it = listed ? std::next(it) : m_files.erase(it);
        }
        m_dirty = true;
        return ReadAll(candidates, print);
    }

    // Oldest first, so that the lines come in the order the files were made.
    bool ReadAll(std::vector<Candidate>& candidates, bool print) {
        std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
            return a.created != b.created ? a.created < b.created : a.fileName < b.fileName;
        });
        for (const Candidate& candidate : candidates) {
            if (!ReadOne(candidate, print)) return false;
        }
        Settle();
        return true;
    }

    // Prints what the file gained; false only when the output fails.
    bool ReadOne(const Candidate& candidate, bool print) {
        const ResultsFilePath path{m_dirName, candidate.fileName};
        const auto stamp = StampOf(path.WholePath());
        if (!stamp) {
            if (m_files.erase(candidate.fileName) > 0) m_dirty = true;
            return true;
        }
        FollowedFile& file = m_files[candidate.fileName];
        file.created = candidate.created;
        const Change change = ChangeSince(file.progress, *stamp);
        if (change == Change::kNone) return true;
        if (change == Change::kReplaced) file.progress = FileProgress();
        const std::string key = MakeKeyStart(path);
        bool written = true;
        const ReadOutcome outcome = ReadNewRecords(
            path, *stamp, file.progress, [&](const JobResults& record, std::uint64_t offset) {
                if (!print) return;
                m_output += key;
                AppendOffset(offset);
                AppendRecordMembers(record, m_output);
                m_output += "}\n";
                if (m_output.size() >= kOutputChunk) written = Flush() && written;
            });
        m_dirty = true;
        // The lines go out before the state can count their records done.
        if (!Flush() || !written) return false;
        if (outcome.problem.empty()) return true;
        std::cerr << "jobresults: " << path.WholePath() << ": " << outcome.problem << '\n';
        // A file that could not be read is tried again on its next change.
        if (file.progress.state != FileState::kDamaged) m_files.erase(candidate.fileName);
        return true;
    }

    // Forgets the saved and damaged files that no longer need a name.
    void Settle() {
        m_doneBefore =
            std::max(m_doneBefore, static_cast<long long>(std::time(nullptr)) - kSettleSeconds);
        for (auto it = m_files.begin(); it != m_files.end();) {
            const bool done =
                it->second.progress.state != FileState::kOpen && it->second.created < m_doneBefore;
            it = done ? m_files.erase(it) : std::next(it);
        }
    }

    // A file that lands under a name older than the files done (one
    // collected from another server) is not followed: said once, with the
    // ways to get its records.
    void NoteSkipped(const std::string& fileName) {
        if (!m_skipNoted.insert(fileName).second) return;
        const std::string path = ResultsFilePath{m_dirName, fileName}.WholePath();
        std::cerr << "jobresults: follow: skipped " << path
                  << ": its name dates it before the files already followed. To include it, "
                     "print its records once with: jobresults dump '"
                  << path << "' --format jsonl; or rename it to a name of the current time\n";
    }

    // --- output ---------------------------------------------------------

    static std::string MakeKeyStart(const ResultsFilePath& path) {
        std::string start = "{\"file\":";
        AppendJsonString(path.WholePath(), start);
        return start + ",\"offset\":";
    }

    void AppendOffset(std::uint64_t offset) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, offset).ptr;
        m_output.append(digits, static_cast<std::size_t>(end - digits));
        m_output += ',';
    }

    bool Flush() {
        const char* data = m_output.data();
        std::size_t left = m_output.size();
        while (left > 0) {
            const ssize_t written = write(STDOUT_FILENO, data, left);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                if (errno != EPIPE) ReportFailure(WithReason("cannot write the output", errno));
                return false;
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        m_output.clear();
        return true;
    }

    // --- state ----------------------------------------------------------

    bool LoadState(bool& resumed, std::string& error) {
        if (m_statePath.empty()) return true;
        const auto lines = ReadStateLines(m_statePath, kStateKind, error);
        if (!lines) return false;
        for (const std::string& line : *lines) {
            const std::vector<std::string> fields = StateFields(line);
            if (fields.size() == 2 && fields[0] == "dir" && fields[1] == m_dirName) {
                resumed = true;
            } else if (fields.size() == 2 && fields[0] == "done-before") {
                if (!ParseStateNumber(fields[1], m_doneBefore)) return BadState(error);
            } else if (fields.size() == 9 && fields[0] == "file") {
                const auto progress = FileProgress::FromFields(fields, 3);
                const auto created = CreationTimeFromFileName(fields[1]);
                if (!progress || !created) return BadState(error);
                m_files[fields[1]] = FollowedFile{*created, *progress};
            } else if (fields[0] != "dir") {
                return BadState(error);
            }
        }
        if (!lines->empty() && !resumed) {
            error = m_statePath + " belongs to another directory name";
            return false;
        }
        return true;
    }

    bool BadState(std::string& error) const {
        error = m_statePath + " is damaged; remove it to start afresh";
        return false;
    }

    bool SaveState() {
        if (m_statePath.empty() || !m_dirty) return true;
        std::string text = kStateKind + '\n' + StateLine({"dir", m_dirName}) +
                           StateLine({"done-before", std::to_string(m_doneBefore)});
        for (const auto& [name, file] : m_files) {
            std::vector<std::string> fields = {"file", name, std::to_string(file.created)};
            for (std::string& field : file.progress.Fields()) fields.push_back(std::move(field));
            text += StateLine(fields);
        }
        std::string error;
        if (!ReplaceFile(m_statePath, text, 0600, error)) {
            ReportFailure(error);
            return false;
        }
        m_dirty = false;
        return true;
    }

    const std::string m_dirName;
    const std::string m_statePath;
    const bool m_fromStart;
    const HostLocation m_host;
    std::map<std::string, FollowedFile> m_files;
    long long m_doneBefore = LLONG_MIN;
    std::set<std::string> m_skipNoted;
    std::string m_output;
    bool m_dirty = false;
};

class FollowCommand : public Command {
public:
    CLI::App* Register(CLI::App& parent) override {
        CLI::App* command = parent.add_subcommand(
            "follow", "Print every record of a directory name's files as a JSON line as it lands");
        command->add_option("DIR", m_dirName, "Directory name the files are written with")
            ->required();
        command->add_option("--state", m_state,
                            "Keep in this file which records were printed; a restart goes on "
                            "behind them");
        command->add_flag("--from-start", m_fromStart,
                          "Print the records that exist already too (on a first run with "
                          "--state, or on every run without it)");
        command->footer(
            "Each line holds the keys file and offset (where the record begins in its file), "
            "which together name the record, and client, url, job_id, error and size as dump "
            "--format jsonl writes them. After a restart with --state a record may be printed "
            "again, with the same file and offset. A damaged file is reported once on "
            "standard error. SIGINT and SIGTERM end the command with 0.");
        return command;
    }

    int Run() override { return Follower(m_dirName, m_state, m_fromStart).Run(); }

private:
    std::string m_dirName;
    std::string m_state;
    bool m_fromStart = false;
};

}  // namespace

std::unique_ptr<Command> MakeFollowCommand() { return std::make_unique<FollowCommand>(); }

}  // namespace jrtool
