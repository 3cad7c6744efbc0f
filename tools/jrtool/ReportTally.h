// What `jobresults report` knows of the job results of one or more hosts:
// per host and client its counts, newest outcomes and a day-by-day tally
// over a window of days; the newest failures; the files that are not saved
// cleanly. Memory grows with hosts times clients times days, never with
// records: each record is counted and dropped.
//
// A record's time is its file's creation time, the only time the format
// keeps. Of records with the same time, the one read later is the newer:
// a directory name's files come in the order of their listing (oldest
// first), their records in the order of their offsets.
#ifndef JRTOOL_REPORTTALLY_H
#define JRTOOL_REPORTTALLY_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "jobresults/cijobresults.h"

namespace jrtool {

constexpr long long kSecondsPerDay = 86400;

// The UTC day of a time, counted from 1970-01-01 (negative before it).
long long DayOf(long long seconds);

struct DayTally {
    std::uint64_t succeeded = 0;
    std::uint64_t failed = 0;
    std::uint64_t bytes = 0;
};

// A job as the page shows it: when, and what it said.
struct JobMoment {
    // Counts records in reading order, so the greater is the newer; 0 for
    // none.
    std::uint64_t sequence = 0;
    long long created = 0;
    std::uint64_t size = 0;
    std::string error;  // shortened
};

struct ClientTally {
    std::uint64_t jobs = 0;
    std::uint64_t failed = 0;
    JobMoment last;
    JobMoment lastSuccess;
    JobMoment lastFailure;
    std::map<long long, DayTally> days;  // the window's days that had jobs

    // Adds the counts of a client whose name shows the same.
    void Merge(const ClientTally& other);
};

struct FailedJob {
    std::uint64_t sequence = 0;
    std::size_t host = 0;  // index into Hosts()
    std::string client;
    long long created = 0;
    std::string error;  // shortened
    std::string file;
};

// A file that is open (its writer has not saved it) or damaged, with what
// `check` says of it.
struct NotableFile {
    std::size_t host = 0;  // index into Hosts()
    std::string path;
    long long created = 0;
    bool damaged = false;
    std::uint64_t records = 0;
    std::string verdict;
};

// Where a record comes from: its host, its file and the file's creation time.
struct RecordOrigin {
    std::size_t host = 0;  // index into Hosts()
    long long created = 0;
    const std::string& file;
};

// One host's clients by the name the jobs wrote.
struct HostTally {
    std::string name;  // empty for directory names given without a host
    std::unordered_map<std::string, ClientTally> clients;
};

class ReportTally {
public:
    // The window is the `days` UTC days up to and including that of `now`.
    ReportTally(long long now, int days);

    // The index of the host of that name, added when it is new.
    std::size_t AddHost(const std::string& name);
    void Add(const JobResults& record, const RecordOrigin& origin);
    void AddFile(NotableFile file);
    void CountSavedFile() { ++m_savedFiles; }

    long long Now() const { return m_now; }
    long long FirstDay() const { return m_firstDay; }
    long long LastDay() const { return m_lastDay; }
    std::uint64_t Jobs() const { return m_jobs; }
    std::uint64_t Failed() const { return m_failed; }
    // In the order they were first added.
    const std::vector<HostTally>& Hosts() const { return m_hosts; }
    // A host's clients by the name the page shows (bytes outside UTF-8 as
    // U+FFFD); names that show the same are one client.
    std::map<std::string, ClientTally> ShownClients(std::size_t host) const;
    // The newest failures, oldest first; FailuresLeftOut() were older.
    std::vector<FailedJob> NewestFailures() const;
    std::uint64_t FailuresLeftOut() const { return m_failed - m_newestFailures.size(); }
    const std::vector<NotableFile>& NotableFiles() const { return m_notableFiles; }
    std::size_t FilesLeftOut() const {
        return m_openFiles + m_damagedFiles - m_notableFiles.size();
    }
    std::size_t OpenFiles() const { return m_openFiles; }
    std::size_t DamagedFiles() const { return m_damagedFiles; }
    std::size_t SavedFiles() const { return m_savedFiles; }

private:
    void KeepFailure(FailedJob failure);

    long long m_now;
    long long m_firstDay;
    long long m_lastDay;
    std::uint64_t m_jobs = 0;
    std::uint64_t m_failed = 0;
    std::vector<HostTally> m_hosts;
    // A heap whose front is the oldest of the newest failures: hosts are
    // read one after the other, so the newest come from any of them.
    std::vector<FailedJob> m_newestFailures;
    std::vector<NotableFile> m_notableFiles;
    std::size_t m_openFiles = 0;
    std::size_t m_damagedFiles = 0;
    std::size_t m_savedFiles = 0;
};

}  // namespace jrtool

#endif
