// Damage to a writer's file never reads as success. The input picks a few
// records (their values from the input's bytes), whether the file is saved,
// and then changes to its bytes: single bytes set, stretches zeroed, a cut.
// Every reader (the classic one, the streaming one, and the walk over the
// writer's layout) must either report damage or read every record in its
// place: the same number of records, each at the offset the writer gave it.
// A changed value byte that leaves the records in place is no damage any
// reader could see. The file stays below one page, so that no change can
// form a write torn by a kill (those are cut at a page boundary only).
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "job_files.h"
#include "jobresults/JobResultsReader.h"
#include "jobresults/JobResultsRecovery.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/JobResultsLayout.h"

namespace {

const char kFileName[] = "ci_push_1.xml";

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

// The writer's file and the offsets where its records begin.
struct Written {
    std::string bytes;
    std::vector<std::uint64_t> starts;
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
    if (input.Byte() % 2 == 0) writer.saveJobResults();
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

// The streaming reader: damage reported, or the writer's records in place.
void CheckStreaming(const Written& written) {
    JobResultsReader reader;
    std::vector<std::uint64_t> starts;
    if (reader.open(Dir().StoreDir(), kFileName)) {
        JobResults record;
        while (reader.next(record)) starts.push_back(reader.recordOffset());
    }
    FUZZ_CHECK(!reader.ok() || starts == written.starts);
}

void CheckClassic(const Written& written) {
    CCIJobResults reader;
    if (!reader.openJobResults(Dir().StoreDir(), kFileName)) return;
    size_t count = 0;
    int result = 1;
    JobResults record;
    while (result == 1 && (result = reader.getNextJobResult(record)) >= 0) ++count;
    FUZZ_CHECK(result == -1 || count == written.starts.size());
}

void CheckWalk(const Written& written) {
    JobResultsRecovery walk;
    FUZZ_CHECK(walk.open(Dir().StoreDir(), kFileName));
    std::vector<std::uint64_t> starts;
    for (JobResultsRecovery::Found found = walk.next();; found = walk.next()) {
        if (found == JobResultsRecovery::Found::kRecord) {
            starts.push_back(walk.offset());
            continue;
        }
        const bool sound = found == JobResultsRecovery::Found::kEnd &&
                           walk.ending() != JobResultsRecovery::Ending::kCut;
        FUZZ_CHECK(!sound || starts == written.starts);
        return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input{data, size};
    Written written = Write(input);
    if (written.bytes.empty() || written.bytes.size() >= jobresults::kPageSize) return 0;
    std::string damaged = written.bytes;
    Damage(input, damaged);
    if (damaged == written.bytes) return 0;
    const std::string path = Dir().StorePath(kFileName);
    FUZZ_CHECK(jobfiles::WriteWholeFile(path, damaged));
    CheckStreaming(written);
    CheckClassic(written);
    CheckWalk(written);
    std::remove(path.c_str());
    return 0;
}
