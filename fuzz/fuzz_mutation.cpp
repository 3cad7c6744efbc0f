// Damage to a writer's file never reads as success. The input picks a few
// records (their values from the input's bytes), whether the file is saved,
// and then changes to its bytes: single bytes set, stretches zeroed, a cut.
// Every reader (the classic one, the streaming one, and the walk over the
// writer's layout) must either report damage or read every record in its
// place: the same number of records, each at the offset the writer gave it,
// and its Size as the file holds it written; only the classic reader may
// also deliver a record whose Size no writer writes, with what sscanf
// "%llu" makes of it, and read on behind it. A changed value byte that
// leaves the records in place is no damage any reader could see. The file
// stays below one page, so that no change can form a write torn by a kill
// (those are cut at a page boundary only), unless the input's last bytes
// ask for one: then an open file ends in an append torn at a page boundary
// (a padding record puts its trailer there), which the same changes hit.
// Its record may be left out only where the file with that append
// completed reads whole.
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
#include "tests/support/reference.h"

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

// The writer's file and the offsets where its records begin; with a torn
// append, the last is that of its record, and whether the file with the
// append completed read whole.
struct Written {
    std::string bytes;
    std::vector<std::uint64_t> starts;
    bool saved = false;
    bool torn = false;
    // Whether the file with the torn append completed reads whole, with its
    // records in place: for the streaming reader, and for the classic one,
    // which takes a Size that no writer writes for none of its damage.
    bool completedReadsWhole = false;
    bool completedReadsWholeClassic = false;
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

// Ends an open file in an append of one more record that a kill tore at a
// page boundary `cut` bytes into the record's head, which holds the first
// bytes of the record and then the old trailer and a lead's bytes; returns
// the file with that append completed.
std::string TearAppend(Input& input, Written& written) {
    using jobresults::kTrailer;
    const jobresults::Lead& lead = jobresults::kLeads[input.Byte() % std::size(jobresults::kLeads)];
    const size_t cut = 2 + input.Byte() % (lead.split - 2);
    const size_t trailer = written.bytes.size() - kTrailer.size();
    JobResults padding{"padding", "", "", "e", 0};
    const size_t overhead = jobresults::ComposedAppend(padding, false).Size() - 1;
    padding.ErrorString.assign(jobresults::kPageSize - cut - trailer - overhead + kTrailer.size(),
                               'e');
    const jobresults::ComposedAppend pad(padding, false);
    const std::string front = written.bytes.substr(0, trailer) +
                              std::string(pad.Text().substr(0, pad.Size() - kTrailer.size()));
    const JobResults record{input.Value(), input.Value(), input.Value(), input.Value(),
                            input.Short()};
    const jobresults::ComposedAppend append(record, false);
    const std::string data(append.Text());
    const std::string fresh = "<" + std::string(jobresults::kRecordTag) + ">\n<";
    const std::string stale =
        std::string(kTrailer) + "<" + std::string(lead.filler) + fresh.substr(lead.split);
    written.starts.push_back(trailer);
    written.starts.push_back(front.size());
    written.torn = true;
    written.bytes = front + fresh.substr(0, cut) + stale.substr(cut) + data.substr(fresh.size());
    return front + data;
}

// What a reader delivered: where each record begins, and its Size.
struct Reading {
    std::vector<std::uint64_t> starts;
    std::vector<unsigned long long> sizes;
};

// The classic reader's Size before it reads a record: a Size that sscanf
// cannot convert leaves it so.
constexpr unsigned long long kCallerSize = 4242;

// Whether record holds a Size no writer writes whose trimmed content sscanf
// "%llu" reads as size (or, converting nothing, leaves kCallerSize), as the
// classic reader reads it.
bool HoldsScanfSize(const std::string& record, unsigned long long size) {
    const size_t open = record.find("<Size>");
    const size_t close = record.find("</Size>", open);
    if (close == std::string::npos) return false;
    const std::string content = record.substr(open + 6, close - open - 6);
    unsigned long long written = 0;
    unsigned long long value = kCallerSize;
    const std::string trimmed(testsupport::Trimmed(content));
    std::sscanf(trimmed.c_str(), "%llu", &value);
    return !testsupport::ReferenceWrittenSize(content, written) && value == size;
}

// Whether a reading without damage gave the records as the writer wrote
// them: each in its place (a torn append's record left out only where the
// file with that append completed reads whole), and each that holds a Size
// element with the Size it holds written there. A record whose Size tags
// were renamed keeps the caller's Size, as a hand-made record without one
// does: the readers pass over a missing field. With scanfSize, as the
// classic reader reads, a Size no writer writes may hold what sscanf makes
// of it.
bool AsWritten(const Written& written, const std::string& bytes, const Reading& reading,
               bool scanfSize = false) {
    const auto inFront =
        std::vector<std::uint64_t>(written.starts.begin(), written.starts.end() - 1);
    const bool completedWhole =
        scanfSize ? written.completedReadsWholeClassic : written.completedReadsWhole;
    if (reading.starts != written.starts &&
        !(written.torn && completedWhole && reading.starts == inFront)) {
        return false;
    }
    for (size_t i = 0; i < reading.sizes.size(); ++i) {
        const size_t end = i + 1 < reading.starts.size() ? reading.starts[i + 1] : bytes.size();
        const std::string record = bytes.substr(reading.starts[i], end - reading.starts[i]);
        const std::string size = "<Size>\n" + std::to_string(reading.sizes[i]) + "\n</Size>";
        if (record.find("<Size>") != std::string::npos && record.find(size) == std::string::npos &&
            !(scanfSize && HoldsScanfSize(record, reading.sizes[i]))) {
            return false;
        }
    }
    return true;
}

// The streaming reader's records, and whether it ended without damage.
bool ReadStreaming(const char* name, Reading& reading) {
    JobResultsReader reader;
    if (reader.open(Dir().StoreDir(), name)) {
        JobResults record;
        while (reader.next(record)) {
            reading.starts.push_back(reader.recordOffset());
            reading.sizes.push_back(record.Size);
        }
    }
    return reader.ok();
}

// The classic reader's records, placed where the writer put the record of
// their index (it gives no offsets), and whether it ended without damage.
bool ReadClassic(const char* name, const Written& written, Reading& reading) {
    CCIJobResults reader;
    if (!reader.openJobResults(Dir().StoreDir(), name)) return false;
    int result = 1;
    JobResults record;
    while (result == 1) {
        record.Size = kCallerSize;
        if ((result = reader.getNextJobResult(record)) < 0) break;
        const size_t at = reading.sizes.size();
        reading.starts.push_back(at < written.starts.size() ? written.starts[at]
                                                            : ~std::uint64_t{0});
        reading.sizes.push_back(record.Size);
    }
    return result == 0;
}

void CheckWalk(const Written& written, const std::string& bytes) {
    JobResultsRecovery walk;
    FUZZ_CHECK(walk.open(Dir().StoreDir(), kFileName));
    Reading reading;
    for (JobResultsRecovery::Found found = walk.next();; found = walk.next()) {
        if (found == JobResultsRecovery::Found::kRecord) {
            reading.starts.push_back(walk.offset());
            reading.sizes.push_back(walk.record().Size);
            continue;
        }
        const bool sound = found == JobResultsRecovery::Found::kEnd &&
                           walk.ending() != JobResultsRecovery::Ending::kCut;
        FUZZ_CHECK(!sound || AsWritten(written, bytes, reading));
        return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input{data, size};
    Written written = Write(input);
    if (written.bytes.empty() || written.bytes.size() >= jobresults::kPageSize) return 0;
    std::string damaged = written.bytes;
    Input changes = input;
    Damage(input, damaged);
    // The bytes behind the changes may ask for a torn append, which the
    // same changes hit, and the file with that append completed too.
    if (input.Byte() == 'T' && !written.saved) {
        std::string completed = TearAppend(input, written);
        damaged = written.bytes;
        Input again = changes;
        Damage(again, damaged);
        Damage(changes, completed);
        FUZZ_CHECK(jobfiles::WriteWholeFile(Dir().StorePath(kCompletedName), completed));
        Reading reading;
        written.completedReadsWhole =
            ReadStreaming(kCompletedName, reading) && reading.starts == written.starts;
        Reading classic;
        written.completedReadsWholeClassic =
            ReadClassic(kCompletedName, written, classic) && classic.starts == written.starts;
        std::remove(Dir().StorePath(kCompletedName).c_str());
    }
    if (damaged == written.bytes) return 0;
    const std::string path = Dir().StorePath(kFileName);
    FUZZ_CHECK(jobfiles::WriteWholeFile(path, damaged));
    Reading streamed;
    FUZZ_CHECK(!ReadStreaming(kFileName, streamed) || AsWritten(written, damaged, streamed));
    Reading classic;
    FUZZ_CHECK(!ReadClassic(kFileName, written, classic) ||
               AsWritten(written, damaged, classic, true));
    CheckWalk(written, damaged);
    std::remove(path.c_str());
    return 0;
}
