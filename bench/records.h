// Job results for the benchmarks: a deterministic generator of realistic
// records, the exact bytes the writer puts on disk for them, and a cheap
// digest that every reader computes over what it delivers, so that each
// tool is checked to have read the same records.
#ifndef CIJOBRESULTS_BENCH_RECORDS_H
#define CIJOBRESULTS_BENCH_RECORDS_H

#include <cstdint>
#include <string>
#include <string_view>

#include "jobresults/cijobresults.h"

namespace bench {

// Record number `index` of every generated file: the same index always gives
// the same record, so a file of n records is a prefix of a file of m > n.
JobResults MakeRecord(std::uint64_t index);

// The file format, stated here apart from the library's own statement on
// purpose: the self-check compares the writer's bytes with these.
// The 353-byte header of a job results file.
const std::string& FileHeader();
// Written after each record while the file is open, then stepped back over.
constexpr std::string_view kTrailer = "</Root>";
// What a save writes over the trailer.
constexpr std::string_view kFinalEndTag = "\n\n</Root>";

// Appends the text of one JobResult element exactly as the writer composes it.
void AppendRecordText(std::string& out, const JobResults& record);

// Writes a saved job results file holding records 0 .. count-1.
bool WriteJobResultsFile(const std::string& path, std::uint64_t count, std::string& error);

// The bytes of that file, in memory (for small counts and for checks).
std::string JobResultsFileText(std::uint64_t count);

// Order-sensitive digest of delivered records: count, sizes, field lengths
// and first bytes. Cheap enough to sit inside every timed read.
struct Digest {
    std::uint64_t records = 0;
    std::uint64_t hash = 0;

    void Add(const JobResults& record);
    bool operator==(const Digest& other) const {
        return records == other.records && hash == other.hash;
    }
    bool operator!=(const Digest& other) const { return !(*this == other); }
};

// The digest of records 0 .. count-1 as a reader must deliver them.
Digest ExpectedDigest(std::uint64_t count);

// The five fields of a record, found by element name.
enum class Field { kClientName, kUrl, kBackupJobId, kErrorString, kSize, kNone };
Field FieldOf(std::string_view name);

// Blanks, tabs and line breaks cut from both ends, as the store does.
std::string_view TrimBlanks(std::string_view text);

// Where the peers deliver records: each field trimmed into a reused
// JobResults, the size converted to an unsigned 64-bit number, then digested.
struct RecordSink {
    JobResults record;
    Digest digest;

    void Set(Field field, std::string_view text);
    void Deliver() { digest.Add(record); }
};

}  // namespace bench

#endif  // CIJOBRESULTS_BENCH_RECORDS_H
