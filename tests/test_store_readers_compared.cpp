// The streaming reader against the classic one on damaged files: the
// regression inputs, the reader's fuzz seeds and a valid file cut at every
// byte. Both must give the same verdict, message and errno; the streaming
// reader delivers the classic reader's records, or, where the classic
// reader refuses the file, the complete records before the damage. And the
// streaming reader's memory stays flat on a file far larger than its window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "jobresults/JobResultsCheck.h"
#include "jobresults/JobResultsReader.h"
#include "jobresults/JobResultsRecovery.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "support/both_readers.h"
#include "support/damage.h"
#include "support/store_files.h"

namespace {

namespace fs = std::filesystem;
using storetest::ScratchDir;

constexpr char kRecordEnd[] = "</JobResult>";

void ExpectSameRecords(const std::vector<JobResults>& actual,
                       const std::vector<JobResults>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_TRUE(storetest::SameRecord(actual[i], expected[i])) << "record " << i;
    }
}

// Offsets just behind each record's end tag.
std::vector<std::uint64_t> RecordEnds(const std::string& text) {
    std::vector<std::uint64_t> ends;
    for (size_t at = text.find(kRecordEnd); at != std::string::npos;
         at = text.find(kRecordEnd, at + 1)) {
        ends.push_back(at + sizeof kRecordEnd - 1);
    }
    return ends;
}

struct Case {
    std::string name;
    std::string bytes;
    // For the writer's file and its cuts: the ends of the records it holds
    // whole, which is where validBytes() must stand after each record.
    bool endsKnown = false;
    std::vector<std::uint64_t> recordEnds;
    // For a writer's file damaged inside a record: the records in front of
    // it, which are all that may be delivered, before a refusal.
    std::vector<JobResults> intact;
    bool damaged = false;
};

// Resumed where a reading from the start stood after open and behind each
// record it delivered, from the path and from a lent descriptor, the reader
// gives the records behind that point and the same verdict; a lent
// descriptor keeps its offset and stays open. A byte changed in the first
// record makes every point behind it stale.
void CompareResumed(const std::string& path, const testsupport::ReaderOutcome& whole,
                    bool strict = false) {
    const std::vector<jobresults::ResumePoint>& points = whole.points;
    JobResults record;
    for (size_t i = 0; i < points.size(); ++i) {
        for (const bool lent : {false, true}) {
            SCOPED_TRACE(std::string(lent ? "lent" : "path") + " resumed at point " +
                         std::to_string(i));
            const int fd = lent ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
            if (lent) {
                ASSERT_EQ(lseek(fd, 3, SEEK_SET), 3);
            }
            JobResultsReader reader;
            reader.setStrict(strict);
            std::vector<JobResults> records;
            record = testsupport::UntouchedRecord();
            bool more = lent ? reader.resume(fd, path, points[i]) : reader.resume(path, points[i]);
            for (; more && reader.next(record); record = testsupport::UntouchedRecord()) {
                records.push_back(record);
            }
            ExpectSameRecords(records, std::vector<JobResults>(
                                           whole.records.begin() + static_cast<std::ptrdiff_t>(i),
                                           whole.records.end()));
            EXPECT_EQ(reader.ok(), whole.ok);
            EXPECT_EQ(reader.errorNumber(), whole.errorNumber);
            EXPECT_EQ(reader.validBytes(), whole.validBytes);
            reader.close();
            if (lent) {
                EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 3);
                EXPECT_EQ(::close(fd), 0);
            }
        }
    }
    if (points.size() < 2 || points[1].offset > 4096) return;
    std::string changed = storetest::ReadWholeFile(path);
    changed[points[1].offset - 20] ^= 1;
    storetest::WriteWholeFile(path, changed);
    for (size_t i = 1; i < points.size(); ++i) {
        JobResultsReader reader;
        EXPECT_FALSE(reader.resume(path, points[i]));
        EXPECT_EQ(reader.errorNumber(), ESTALE);
    }
}

// Strict reading gives the check's verdict, and the walk's records up to
// the damage it finds; a file it accepts is one a writer leaves, which the
// classic readers read alike. Resumed, it goes on as a reading from the
// start.
void CompareStrict(const std::string& storeDir, const std::string& name,
                   const testsupport::ReaderOutcome& classic) {
    const std::string path = storeDir + "\\" + name;
    const testsupport::ReaderOutcome strict = testsupport::ReadStreaming(storeDir, name, true);
    const jobresults::FileCheck check = jobresults::CheckResultsFile(path);
    EXPECT_EQ(strict.ok, check.sound());
    EXPECT_EQ(strict.check.damage, check.damage);
    EXPECT_EQ(strict.check.damageOffset, check.damageOffset);
    EXPECT_EQ(strict.check.ending, check.ending);
    EXPECT_EQ(strict.check.records, strict.records.size());
    JobResultsRecovery walk;
    std::vector<JobResults> walked;
    walk.open(path);
    while (walk.next() == JobResultsRecovery::Found::kRecord) walked.push_back(walk.record());
    ExpectSameRecords(strict.records, walked);
    if (strict.ok) {
        EXPECT_TRUE(classic.ok);
        ExpectSameRecords(classic.records, strict.records);
    } else if (check.error == 0) {
        EXPECT_EQ(strict.message, "Invalid data in Job Results file " + path);
    }
    CompareResumed(path, strict, true);
}

// Reads storeDir\name with both readers; input.bytes are the file's bytes.
void CompareReaders(const std::string& storeDir, const std::string& name, const Case& input) {
    SCOPED_TRACE(input.name);
    const testsupport::BothReaders both =
        testsupport::ReadWithBoth(storeDir, name, input.bytes, "prefix.xml");
    EXPECT_EQ(both.streaming.ok, both.classic.ok);
    EXPECT_EQ(both.streaming.message, both.classic.message);
    EXPECT_EQ(both.streaming.errorNumber, both.classic.errorNumber);
    ExpectSameRecords(both.streaming.records, both.expectedRecords);
    if (input.endsKnown) {
        EXPECT_EQ(both.streaming.ends, input.recordEnds);
    }
    if (input.damaged) {
        EXPECT_FALSE(both.classic.ok);
        ExpectSameRecords(both.classic.records, input.intact);
        EXPECT_TRUE(damagestudy::WalkFile(storeDir, name).Damaged()) << "the walk missed it";
    }
    // Each resumed comparison ends by changing a byte of the file.
    CompareStrict(storeDir, name, both.classic);
    if (fs::is_regular_file(storeDir + "\\" + name)) {
        storetest::WriteWholeFile(storeDir + "\\" + name, input.bytes);
    }
    CompareResumed(storeDir + "\\" + name, both.streaming);
}

JobResults Sample(int index, size_t errorLength = 1) {
    JobResults record;
    record.ClientName = "host-" + std::to_string(index) + ".example.org";
    record.Url = "https://store.example.org/b/" + std::to_string(index);
    record.BackupJobId = "job-" + std::to_string(index);
    record.ErrorString = index % 2 ? std::string(errorLength, 'e') : "";
    record.Size = static_cast<unsigned long long>(index) * 4099;
    return record;
}

// A file the writer made from `records`, saved or still open.
std::string WrittenFile(const std::vector<JobResults>& records, bool save) {
    ScratchDir dir;
    CCIJobResults writer;
    EXPECT_EQ(writer.createJobResults(dir.Path() + "/d"), 1);
    for (const JobResults& record : records) EXPECT_EQ(writer.addJobResult(record), 1);
    if (save) {
        EXPECT_EQ(writer.saveJobResults(), 1);
    }
    const std::string bytes = storetest::ReadWholeFile(storetest::CreatedFile(dir, "d"));
    writer.m_bHeaderWritten = false;  // leave an open file as it is
    return bytes;
}

std::ptrdiff_t Offset(size_t index) { return static_cast<std::ptrdiff_t>(index); }

// Torn appends at the end of an open file, cut at a page boundary `cut`
// bytes into the head (the record's first bytes over the old trailer and
// the lead behind it), for every lead and cut: followed by the rest of that
// write, a kill's state, or by what no write leaves there (another record,
// Root, beginning at the "<" the head ends in), damage.
void AddTornAppends(std::vector<Case>& cases) {
    using jobresults::kTrailer;
    const std::string head = "<JobResult>\n<";
    const std::string appended = WrittenFile({Sample(2)}, false);
    const std::string record = appended.substr(jobresults::kHeader.size());  // and the trailer
    for (const jobresults::Lead& lead : jobresults::kLeads) {
        for (size_t cut = 2; cut < lead.split; ++cut) {
            std::vector<JobResults> records = {Sample(0), Sample(1)};
            const size_t trailer = WrittenFile(records, false).size() - kTrailer.size();
            const size_t page = jobresults::kPageSize;
            records[1] = Sample(1, 1 + (2 * page - cut - trailer % page) % page);
            const std::string open = WrittenFile(records, false);
            const std::string front = open.substr(0, open.size() - kTrailer.size());
            const std::string stale =
                std::string(kTrailer) + "<" + std::string(lead.filler) + head.substr(lead.split);
            const std::string torn = front + head.substr(0, cut) + stale.substr(cut);
            const auto add = [&](const std::string& what, const std::string& rest, bool damaged) {
                cases.push_back({what + ", filler '" + std::string(lead.filler) + "', cut " +
                                     std::to_string(cut),
                                 torn + rest, true, RecordEnds(front),
                                 damaged ? records : std::vector<JobResults>(), damaged});
            };
            add("torn append", record.substr(head.size()), false);
            add("torn append holding a record", record.substr(1), true);
            add("torn append holding Root", "Root />\n</JobResult>\n" + std::string(kTrailer),
                true);
        }
    }
}

std::vector<Case> Inputs() {
    std::vector<Case> cases;
    const fs::path source(CIJOBRESULTS_SOURCE_DIR);
    for (const fs::path& folder :
         {source / "tests" / "regressions", source / "fuzz" / "corpus" / "reader"}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            cases.push_back({entry.path().string(),
                             storetest::ReadWholeFile(entry.path()),
                             false,
                             {},
                             {},
                             false});
        }
    }
    for (const bool save : {true, false}) {
        const std::string whole = WrittenFile({Sample(0), Sample(1), Sample(2)}, save);
        const std::vector<std::uint64_t> ends = RecordEnds(whole);
        for (size_t length = 0; length <= whole.size(); ++length) {
            std::vector<std::uint64_t> complete;
            for (const std::uint64_t end : ends) {
                if (end <= length) complete.push_back(end);
            }
            cases.push_back(
                {(save ? "saved" : "open") + std::string(" file cut at ") + std::to_string(length),
                 whole.substr(0, length),
                 true,
                 complete,
                 {},
                 false});
        }
    }
    // Damage inside the record at index `at`: bytes zeroed from just behind
    // the "<" of its Url tag, a flipped byte in its ClientName end tag, in
    // its start tag, and in its end tag.
    std::vector<JobResults> written;
    for (int i = 0; i < 40; ++i) written.push_back(Sample(i, 300));
    const std::string whole = WrittenFile(written, true);
    const std::vector<std::uint64_t> ends = RecordEnds(whole);
    for (const size_t at : {size_t{0}, size_t{17}, size_t{39}}) {
        const size_t begin = at == 0 ? whole.find("<JobResult>") : ends[at - 1] + 1;
        const auto damage = [&](const std::string& what, const std::string& tag, size_t shift,
                                size_t length, char byte, std::string bytes) {
            bytes.replace(bytes.find(tag, begin) + shift, length, length, byte);
            cases.push_back({what + " in record " + std::to_string(at), bytes, true,
                             std::vector<std::uint64_t>(ends.begin(), ends.begin() + Offset(at)),
                             std::vector<JobResults>(written.begin(), written.begin() + Offset(at)),
                             true});
        };
        damage("zeroed stretch", "<Url>", 1, 40, '\0', whole);
        damage("flipped byte", "</ClientName>", 5, 1, 'q', whole);
        damage("flipped byte", "<JobResult>", 4, 1, 'q', whole);
        damage("flipped byte", "</JobResult>", 9, 1, 'q', whole);
        // Both tags of the record broken: its fields stand in Root.
        std::string untagged = whole;
        untagged[untagged.find("<JobResult>", begin)] = '0';
        damage("both record tags broken", "</JobResult>", 0, 1, '~', untagged);
        // The same byte of both its tags changed: an element of another
        // name holds its fields.
        std::string renamed = whole;
        renamed[renamed.find("<JobResult>", begin) + 4] = 'q';
        damage("record renamed", "</JobResult>", 5, 1, 'q', renamed);
        if (at + 1 == ends.size()) continue;
        // Its end tag and the next record's start tag broken: the two run
        // together, text or markup between their fields.
        std::string joined = whole;
        joined[joined.find("<JobResult>", ends[at])] = '~';
        damage("two records run together", "</JobResult>", 0, 1, '~', joined);
        std::string hidden = whole;
        hidden[hidden.find("<JobResult>", ends[at]) + 1] = '?';
        damage("two records run together behind markup", "</JobResult>", 1, 1, '?', hidden);
        std::string swallowed = whole;
        swallowed[swallowed.find("<JobResult>", ends[at]) + 9] = '/';
        damage("two records run together behind one tag", "</JobResult>", 11, 1, '~', swallowed);
    }
    AddTornAppends(cases);
    return cases;
}

TEST(StoreReaders, StreamingReaderGivesTheClassicReadersVerdictAndRecords) {
    ScratchDir dir;
    const std::string storeDir = dir.Path() + "/d";
    const std::vector<Case> cases = Inputs();
    ASSERT_GT(cases.size(), 100u);
    for (const Case& input : cases) {
        storetest::WriteWholeFile(storeDir + "\\f.xml", input.bytes);
        CompareReaders(storeDir, "f.xml", input);
    }
    // A name that is missing, and one that opens but cannot be read.
    CompareReaders(storeDir, "absent.xml", {"missing file", "", false, {}, {}, false});
    ASSERT_TRUE(fs::create_directory(storeDir + "\\folder.xml"));
    CompareReaders(storeDir, "folder.xml", {"a directory", "", false, {}, {}, false});
    ASSERT_EQ(mkfifo((storeDir + "\\fifo.xml").c_str(), 0600), 0);
    for (const auto& [name, head, number] :
         {std::tuple{"folder.xml", "Erroring while reading data from Job Results file ", EISDIR},
          std::tuple{"fifo.xml", "Failed to open file ", EINVAL}}) {
        const testsupport::ReaderOutcome classic = testsupport::ReadClassic(storeDir, name);
        EXPECT_EQ(classic.message + " " + std::to_string(classic.errorNumber),
                  head + storeDir + "\\" + name + " " + std::to_string(number));
        CompareReaders(storeDir, name, {name, "", false, {}, {}, false});
    }
    fs::remove(storeDir + "\\folder.xml");
}

// --- memory ------------------------------------------------------------------

long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::atol(line.c_str() + prefix.size());
    }
    return -1;
}

// A file of about `bytes` written record by record from the writer's own
// text, with one record longer than the reader's window in the middle.
std::uint64_t WriteLargeFile(const std::string& path, size_t bytes, size_t longError) {
    const std::string model = WrittenFile({Sample(1), Sample(3, longError)}, true);
    const std::vector<std::uint64_t> ends = RecordEnds(model);
    const size_t first = model.find("<JobResult>");
    const std::string head = model.substr(0, first);
    const std::string record = model.substr(first, ends[0] - first);
    const std::string longRecord = model.substr(ends[0], ends[1] - ends[0]);
    std::ofstream out(path, std::ios::binary);
    out << head;
    const std::uint64_t count = bytes / record.size();
    for (std::uint64_t i = 0; i < count; ++i) {
        out << (i == count / 2 ? longRecord : record);
    }
    out << model.substr(ends[1]);
    return count;
}

TEST(StoreReaders, StreamingReaderMemoryStaysFlatOnALargeFile) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
#endif
#endif
    const char* valgrind = std::getenv("CIJOBRESULTS_UNDER_VALGRIND");
    if (valgrind != nullptr && std::string(valgrind) == "1") {
        GTEST_SKIP() << "valgrind's own memory hides the reader's";
    }
    constexpr size_t kFileBytes = size_t{64} << 20;
    constexpr size_t kLongError = size_t{1} << 20;  // four times the window
    constexpr long kLimitKb = 6 << 10;
    ScratchDir dir;
    const std::uint64_t count = WriteLargeFile(dir.Path() + "/d\\big.xml", kFileBytes, kLongError);

    // In a child of its own, so that nothing of this process's heap counts.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const long before = StatusKilobytes("VmHWM");
        JobResultsReader reader;
        JobResults record;
        long report[3] = {0, 0, 0};  // records, longest error, peak growth
        if (reader.open(dir.Path() + "/d", "big.xml")) {
            while (reader.next(record)) {
                ++report[0];
                report[1] = std::max(report[1], static_cast<long>(record.ErrorString.size()));
            }
        }
        report[2] = reader.ok() ? StatusKilobytes("VmHWM") - before : -1;
        const bool written = write(pipeEnds[1], report, sizeof report) == sizeof report;
        _exit(written ? 0 : 1);
    }
    close(pipeEnds[1]);
    long report[3] = {0, 0, -1};
    const bool received = read(pipeEnds[0], report, sizeof report) == sizeof report;
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(received && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(static_cast<std::uint64_t>(report[0]), count);
    EXPECT_EQ(static_cast<size_t>(report[1]), kLongError);
    EXPECT_GE(report[2], 0) << "the reader did not end ok";
    EXPECT_LE(report[2], kLimitKb) << "peak resident size grew by " << report[2] << " kB";
}

}  // namespace
