// Damage to a writer's file never reads as success. The input picks a few
// records (their values from the input's bytes), whether the file is saved,
// and then changes to its bytes: single bytes set, stretches zeroed, a cut.
// Every reader (the classic one, the streaming one, and the walk over the
// writer's layout) must either report damage or read every record in its
// place: the same number of records, each at the offset the writer gave it;
// the walk, the strict judge, also each Size as the file holds it written.
// A changed value byte that leaves the records in place is no damage any
// reader could see. The file stays below one page, so that no change can
// form a write torn by a kill (those are cut at a page boundary only),
// unless the input's bytes behind the changes ask for one: then an open
// file ends in an append left unfinished (its torn second write, or its
// first write's tail whole or cut at a page boundary), which the same
// changes hit. Its record may be left out only where what the file ends in
// is a state a writer can leave there; the readers, which stop at Root's
// end tag and pass over what follows it, may also leave it out where the
// old trailer stands whole.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "job_files.h"
#include "jobresults/JobResultsReader.h"
#include "jobresults/JobResultsRecovery.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"

namespace {

const char kFileName[] = "ci_push_1.xml";
const char kCompletedName[] = "ci_push_2.xml";

jobfiles::TempDir& Dir() {
    static jobfiles::TempDir dir;
    return dir;
}

// Reads the input front to back; past its end every read gives 0.
struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    unsigned Byte() { return at < size ? data[at++] : 0u; }
    unsigned Short() { return Byte() << 8 | Byte(); }
    std::string Value() {
        std::string value;
        for (unsigned length = Byte() % 24; length > 0; --length) {
            const char c = static_cast<char>(Byte());
            value += c == '\0' || c == '<' ? 'v' : c;  // a value the writer stores
        }
        return value;
    }
};

// The writer's file and the offsets where its records begin; with an
// unfinished append, the last is that of its record, and `completed` is
// the file with that append done.
struct Written {
    std::string bytes;
    std::vector<std::uint64_t> starts;
    bool saved = false;
    std::string completed;
};

Written Write(Input& input) {
    Written written;
    const std::string path = Dir().StorePath(kFileName);
    std::remove(path.c_str());
    CCIJobResults writer;
    writer.createJobResults(Dir().StoreDir());
    std::string created;
    for (unsigned count = 1 + input.Byte() % 8; count > 0; --count) {
        JobResults record{input.Value(), input.Value(), input.Value(), input.Value(),
                          input.Short()};
        if (writer.addJobResult(record) != 1) break;
        created = writer.getJobResultsFilePath();
    }
    written.saved = input.Byte() % 2 == 0;
    if (written.saved) writer.saveJobResults();
    if (created.empty()) return written;
    written.bytes = jobfiles::ReadWholeFile(created);
    std::remove(created.c_str());
    const std::string start = "<" + std::string(jobresults::kRecordTag) + ">\n";
    for (size_t at = written.bytes.find(start); at != std::string::npos;
         at = written.bytes.find(start, at + 1)) {
        written.starts.push_back(at);
    }
    return written;
}

void Damage(Input& input, std::string& bytes) {
    for (unsigned changes = 1 + input.Byte() % 4; changes > 0 && !bytes.empty(); --changes) {
        const size_t at = input.Short() % bytes.size();
        switch (input.Byte() % 4) {
            case 0:
                bytes.resize(at);
                break;
            case 1: {
                const size_t length = std::min<size_t>(input.Byte() + 1, bytes.size() - at);
                bytes.replace(at, length, length, '\0');
                break;
            }
            default:
                bytes[at] = static_cast<char>(input.Byte());
                break;
        }
    }
}

using jobresults::kPageSize;
using jobresults::kTrailer;

// What the second write of a split append puts over the old trailer and
// its lead: the record's first bytes, up to its first field's "<".
const std::string kFresh = "<" + std::string(jobresults::kRecordTag) + ">\n<";

// The trailer and a lead: what lies under the record's first `split` bytes
// while the append is under way.
std::string Stale(const jobresults::Lead& lead) {
    return std::string(kTrailer) + "<" + std::string(lead.filler);
}

// Ends an open file in an append of one more record left unfinished at a
// page boundary as a kill leaves it: its second write torn there, or the
// tail of its first write whole or cut there. A padding record puts the
// trailer where the boundary falls at the chosen byte of the append.
void Unfinish(Input& input, Written& written) {
    const unsigned kind = input.Byte() % 3;
    const jobresults::Lead& lead = jobresults::kLeads[input.Byte() % std::size(jobresults::kLeads)];
    const JobResults record{input.Value(), input.Value(), input.Value(), input.Value(),
                            input.Short()};
    const std::string data(jobresults::ComposedAppend(record, false).Text());
    const std::string tailed = Stale(lead) + data.substr(lead.split);
    // Where the page boundary falls: in the second write, or in the tail.
    const size_t cut =
        kind == 2 ? kTrailer.size() + 1 + input.Short() % (tailed.size() - kTrailer.size() - 1)
                  : 2 + input.Byte() % (lead.split - 2);
    const size_t trailer = written.bytes.size() - kTrailer.size();
    JobResults padding{"padding", "", "", "e", 0};
    const size_t base = jobresults::ComposedAppend(padding, false).Size() - kTrailer.size() - 1;
    const size_t at = (trailer + base + 1 + cut + kPageSize - 1) / kPageSize * kPageSize - cut;
    padding.ErrorString.assign(at - trailer - base, 'e');
    const jobresults::ComposedAppend pad(padding, false);
    const std::string front = written.bytes.substr(0, trailer) +
                              std::string(pad.Text().substr(0, pad.Size() - kTrailer.size()));
    written.starts.push_back(trailer);
    written.starts.push_back(front.size());
    written.completed = front + data;
    written.bytes = front + (kind == 0   ? data.substr(0, cut) + tailed.substr(cut)
                             : kind == 1 ? tailed
                                         : tailed.substr(0, cut));
}

// The walk over a file: its records' offsets and Sizes, and whether it
// found no damage.
struct Walked {
    std::vector<std::uint64_t> starts;
    std::vector<unsigned long long> sizes;
    bool sound = false;
    JobResultsRecovery::Ending ending = JobResultsRecovery::Ending::kCut;
};

Walked Walk(const char* name) {
    Walked walked;
    JobResultsRecovery walk;
    FUZZ_CHECK(walk.open(Dir().StoreDir(), name));
    for (JobResultsRecovery::Found found = walk.next();; found = walk.next()) {
        if (found != JobResultsRecovery::Found::kRecord) {
            walked.ending = walk.ending();
            walked.sound = found == JobResultsRecovery::Found::kEnd &&
                           walked.ending != JobResultsRecovery::Ending::kCut;
            return walked;
        }
        walked.starts.push_back(walk.offset());
        walked.sizes.push_back(walk.record().Size);
    }
}

// Whether the unfinished append in bytes, completed as its second write
// would (the record's first `split` bytes over what lies there), reads
// whole behind the writer's records in front of it (changes to those are
// judged apart). Where its write was cut, any completion will do: tried are
// the rest of the writer's record from the cut, from behind one of its
// line breaks or from one of its end tags, each with and without a line
// break first.
bool CompletesWhole(const Written& written, const std::string& bytes, size_t split, bool cut) {
    const size_t at = written.starts.back();
    const std::string head =
        written.completed.substr(0, at) + kFresh.substr(0, split) + bytes.substr(at + split);
    const std::string rest =
        written.completed.substr(std::min(head.size(), written.completed.size()));
    for (size_t from = 0; from <= rest.size(); from = rest.find('\n', from) + 1) {
        for (const char* join : {"", "\n"}) {
            if (!cut && (from > 0 || *join != '\0')) return false;
            FUZZ_CHECK(jobfiles::WriteWholeFile(Dir().StorePath(kCompletedName),
                                                head + join + (cut ? rest.substr(from) : "")));
            const Walked walked = Walk(kCompletedName);
            if (walked.sound && walked.ending == JobResultsRecovery::Ending::kOpen &&
                walked.starts == written.starts) {
                return true;
            }
        }
        if (rest.find('\n', from) == std::string::npos) break;
    }
    // A cut inside an end tag of the record may have left its first bytes
    // as the value's own: that value goes on, and any of the record's end
    // tags from there may close it.
    if (!cut) return false;
    for (size_t tag = written.completed.find("</", at); tag != std::string::npos;
         tag = written.completed.find("</", tag + 1)) {
        for (const char* join : {"", "\n"}) {
            FUZZ_CHECK(jobfiles::WriteWholeFile(Dir().StorePath(kCompletedName),
                                                head + join + written.completed.substr(tag)));
            const Walked walked = Walk(kCompletedName);
            if (walked.sound && walked.ending == JobResultsRecovery::Ending::kOpen &&
                walked.starts == written.starts) {
                return true;
            }
        }
    }
    return false;
}

// Whether bytes end, from the unfinished append's offset on, in a state a
// writer can leave there: for some lead, the torn second write at a page
// boundary, or the first write's tail (its lead's first bytes perhaps the
// record's own after a failed write), whole or cut; and behind it the rest
// of a record that, completed, reads whole.
bool WriterCouldLeave(const Written& written, const std::string& bytes) {
    const size_t at = written.starts.back();
    const std::string rest = bytes.substr(at);
    for (const jobresults::Lead& lead : jobresults::kLeads) {
        const std::string stale = Stale(lead);
        if (rest.size() < stale.size()) {
            if (stale.compare(0, rest.size(), rest) == 0) return true;
            continue;
        }
        std::vector<std::string> heads = {stale};
        for (size_t k = 2; k < lead.split; ++k) {
            if ((at + k) % kPageSize == 0) heads.push_back(kFresh.substr(0, k) + stale.substr(k));
        }
        for (size_t k = kTrailer.size() + 1; k < lead.split; ++k) {
            heads.push_back(std::string(kTrailer) +
                            kFresh.substr(kTrailer.size(), k - kTrailer.size()) + stale.substr(k));
        }
        const bool whole =
            rest.size() >= kTrailer.size() &&
            rest.compare(rest.size() - kTrailer.size(), kTrailer.size(), kTrailer) == 0;
        for (size_t i = 0; i < heads.size(); ++i) {
            // Only the tail with its lead as written may stop short.
            if (rest.compare(0, lead.split, heads[i]) == 0 && (whole || i == 0) &&
                CompletesWhole(written, bytes, lead.split, !whole)) {
                return true;
            }
        }
    }
    return false;
}

// Whether a reading without damage gave the writer's records in place: all
// of them, or with an unfinished append all but its record where a writer
// can leave what the file ends in (or, for the readers, where the old
// trailer stands whole).
bool InPlace(const Written& written, const std::string& bytes,
             const std::vector<std::uint64_t>& starts, bool reader) {
    if (starts == written.starts) return true;
    if (written.completed.empty() ||
        starts != std::vector<std::uint64_t>(written.starts.begin(), written.starts.end() - 1)) {
        return false;
    }
    return (reader && bytes.compare(written.starts.back(), kTrailer.size(), kTrailer) == 0) ||
           WriterCouldLeave(written, bytes);
}

// The streaming reader: damage reported, or the writer's records in place.
void CheckStreaming(const Written& written, const std::string& bytes) {
    JobResultsReader reader;
    std::vector<std::uint64_t> starts;
    if (reader.open(Dir().StoreDir(), kFileName)) {
        JobResults record;
        while (reader.next(record)) starts.push_back(reader.recordOffset());
    }
    FUZZ_CHECK(!reader.ok() || InPlace(written, bytes, starts, true));
}

// The classic reader gives no offsets: its records count.
void CheckClassic(const Written& written, const std::string& bytes) {
    CCIJobResults reader;
    if (!reader.openJobResults(Dir().StoreDir(), kFileName)) return;
    std::vector<std::uint64_t> starts;
    int result = 1;
    JobResults record;
    while (result == 1 && (result = reader.getNextJobResult(record)) >= 0) {
        starts.push_back(starts.size() < written.starts.size() ? written.starts[starts.size()]
                                                               : ~std::uint64_t{0});
    }
    FUZZ_CHECK(result == -1 || InPlace(written, bytes, starts, true));
}

// The walk: damage found, or the records in place, each Size as written.
void CheckWalk(const Written& written, const std::string& bytes) {
    const Walked walked = Walk(kFileName);
    if (!walked.sound) return;
    FUZZ_CHECK(InPlace(written, bytes, walked.starts, false));
    for (size_t i = 0; i < walked.sizes.size(); ++i) {
        const size_t end = i + 1 < walked.starts.size() ? walked.starts[i + 1] : bytes.size();
        const std::string size = "<Size>\n" + std::to_string(walked.sizes[i]) + "\n</Size>\n";
        FUZZ_CHECK(bytes.substr(walked.starts[i], end - walked.starts[i]).find(size) !=
                   std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input{data, size};
    Written written = Write(input);
    if (written.bytes.empty() || written.bytes.size() >= kPageSize) return 0;
    std::string damaged = written.bytes;
    Input changes = input;
    Damage(input, damaged);
    // The bytes behind the changes may ask for an unfinished append, which
    // the same changes hit; unchanged, it reads as the records in front.
    if (input.Byte() == 'T' && !written.saved) {
        Unfinish(input, written);
        damaged = written.bytes;
        Damage(changes, damaged);
    } else if (damaged == written.bytes) {
        return 0;
    }
    const std::string path = Dir().StorePath(kFileName);
    FUZZ_CHECK(jobfiles::WriteWholeFile(path, damaged));
    CheckStreaming(written, damaged);
    CheckClassic(written, damaged);
    CheckWalk(written, damaged);
    if (damaged == written.bytes) FUZZ_CHECK(Walk(kFileName).sound);
    std::remove(path.c_str());
    return 0;
}
