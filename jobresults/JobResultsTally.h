// Summing up records per client, for a program that reports on a directory
// name's job results run after run (a metrics exporter, a report): counts
// by outcome, the newest record, and totals that do not drop when files
// go. Memory grows with the clients, never with the records: each record is
// counted and dropped. No function throws but for running out of memory.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSTALLY_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSTALLY_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "jobresults/JobResultsRecord.h"
#include "xml/LibraryExport.h"

namespace jobresults {

// A record succeeded when its error text is empty.
CIJOBRESULTS_API bool Succeeded(const JobResults& record);

// Where a record stands among all records: newer files first by creation
// second, then by name; in one file, the later offset. The greater place
// holds the newer record.
struct RecordPlace {
    long long created = LLONG_MIN;
    std::string fileName;
    std::uint64_t offset = 0;
};

inline bool operator<(const RecordPlace& a, const RecordPlace& b) {
    return std::tie(a.created, a.fileName, a.offset) < std::tie(b.created, b.fileName, b.offset);
}

// Client names longer than this are counted under their first bytes, a
// mark and a hash of the whole name (ClientKey): what a caller keeps per
// client stays small, however long the names, and two long names still
// count apart.
constexpr std::size_t kLongestClientKey = 1024;

// The name to count a client under: the name itself, or for a longer one
// than kLongestClientKey its first bytes (cut at a UTF-8 character),
// "...#" and 16 hex digits of its hash.
CIJOBRESULTS_API std::string ClientKey(const std::string& name);

// The records of one client: counted by outcome, and its newest one.
// Plain data: the caller keeps it, by ClientKey.
struct ClientSummary {
    std::uint64_t success = 0;
    std::uint64_t error = 0;
    RecordPlace last;  // of the newest record; the default for none
    bool lastSuccess = false;
    std::uint64_t lastSize = 0;

    CIJOBRESULTS_API void Count(const JobResults& record, const RecordPlace& place);
    // Adds the records of `other` (the same client counted elsewhere, or a
    // name shown the same); the order of merging does not matter.
    CIJOBRESULTS_API void Merge(const ClientSummary& other);
};

using ClientSummaries = std::unordered_map<std::string, ClientSummary>;

// Records ever counted for one client, by outcome: the counter that does
// not drop when files go.
struct RecordTotals {
    std::uint64_t success = 0;
    std::uint64_t error = 0;

    // Adds the totals of a client whose name is shown the same.
    CIJOBRESULTS_API void Merge(const RecordTotals& other);
};

using ClientTotals = std::unordered_map<std::string, RecordTotals>;

// Adds to the totals what each client's counts gained from `before` (the
// summaries of the run before) to `now`: all that is new when the run
// carried on; the net gain when it counted afresh, as the records of files
// that went cannot be told apart from those still there. A client without
// totals starts at its counts before. Totals never drop.
CIJOBRESULTS_API void AdvanceTotals(const ClientSummaries& before, const ClientSummaries& now,
                                    ClientTotals& totals);

// --- keeping them between runs ---------------------------------------------

// A summary as text fields (decimal numbers, the newest record's file name,
// "1" or "0" for its outcome), for a caller that keeps it in a file of its
// own, and back from the fields at `first` on (false when they do not fit).
CIJOBRESULTS_API std::vector<std::string> ClientSummaryFields(const ClientSummary& summary);
CIJOBRESULTS_API bool ClientSummaryFromFields(const std::vector<std::string>& fields,
                                              std::size_t first, ClientSummary& summary);

// The same for totals: the two counts as decimal numbers.
CIJOBRESULTS_API std::vector<std::string> RecordTotalsFields(const RecordTotals& totals);
CIJOBRESULTS_API bool RecordTotalsFromFields(const std::vector<std::string>& fields,
                                             std::size_t first, RecordTotals& totals);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSTALLY_H
