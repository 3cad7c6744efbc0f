// The readers: arbitrary bytes as a job results file, read by the classic
// reader (openJobResults, getNextJobResult to the end) and by the streaming
// one (JobResultsReader: open, next until false, ok).
//
// Each input is written as "<dir>\ci_push_1.xml" in a private temporary
// directory and removed after the iteration. Besides crashes, leaks and
// out-of-bounds reads, the target checks that no descriptor outlives either
// reader, compares what the classic reader delivers with an expectation
// built from the flat scanner (exactly one top-level element "Root", its
// "JobResult" children in order, each field taken from the last element of
// its name, Size as sscanf "%llu" reads it), and compares the streaming
// reader with the classic one: the same records, the same verdict, message
// and errno; where the classic reader refuses the file, the records before
// validBytes() are what the classic reader gives for that part closed with
// Root's end tag. Both walks are repeated through a window of a few bytes.
// Resumed behind a record (from the path and from a lent descriptor), the
// streaming reader gives the records behind it and ends as the reading
// from the start did. NUL bytes are text like any other.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "job_files.h"
#include "jobresults/JobResultsReader.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "jobresults/detail/RootCursor.h"
#include "tests/support/both_readers.h"
#include "xml/XmlNode.h"

namespace {

const char kFileName[] = "ci_push_1.xml";
const char kPrefixName[] = "ci_push_2.xml";

jobfiles::TempDir& Dir() {
    static jobfiles::TempDir dir;
    return dir;
}

using testsupport::UntouchedRecord;

// The reader's tag names, from the library's format.
const testsupport::RecordNames& Names() {
    static const testsupport::RecordNames names = {
        std::string(jobresults::kRootTag),
        std::string(jobresults::kRecordTag),
        {std::string(jobresults::kClientNameTag), std::string(jobresults::kUrlTag),
         std::string(jobresults::kBackupJobIdTag), std::string(jobresults::kErrorStringTag),
         std::string(jobresults::kSizeTag)}};
    return names;
}

struct Expected {
    bool valid = false;
    std::vector<JobResults> records;
    // Whether the node list ends with a record, so that the last record
    // comes with 0 rather than with 1 and a further -1.
    bool endsWithRecord = false;
};

Expected Expect(const std::string& text) {
    Expected expected;
    std::vector<XmlNode> children;
    expected.valid =
        testsupport::ReferenceRootChildren(text, Names(), children, &jobresults::IsTornEndAt);
    testsupport::ReferenceWalk walk =
        testsupport::ReferenceRecords(children, Names(), UntouchedRecord());
    expected.records = std::move(walk.records);
    expected.endsWithRecord = walk.endsWithRecord;
    return expected;
}

void ReadAll(const std::string& path, const Expected& expected) {
    CCIJobResults reader;
    const int opened = reader.openJobResults(Dir().StoreDir(), kFileName);
    FUZZ_CHECK(opened == (expected.valid ? 1 : 0));
    if (!opened) {
        FUZZ_CHECK(reader.m_sErrorMsg == "Invalid data in Job Results file " + path);
        FUZZ_CHECK(reader.m_nErrno == -1);
        return;
    }

    const size_t count = expected.records.size();
    for (size_t i = 0; i < count; ++i) {
        JobResults record = UntouchedRecord();
        const int result = reader.getNextJobResult(record);
        const bool last = i + 1 == count;
        FUZZ_CHECK(result == (last && expected.endsWithRecord ? 0 : 1));
        FUZZ_CHECK_SAME(record, expected.records[i]);
    }
    if (count > 0 && expected.endsWithRecord) {
        FUZZ_CHECK(reader.m_nFileHandle == -1);
    }
    JobResults record = UntouchedRecord();
    FUZZ_CHECK(reader.getNextJobResult(record) == -1);
    FUZZ_CHECK_SAME(record, UntouchedRecord());
    FUZZ_CHECK(reader.getNextJobResult(record) == -1);
}

// The streaming reader's own account of a file of `size` bytes: validBytes()
// grows from record to record and ends between the last record's end and
// the size; next() stays false after the end; a file it could not open is
// not ok.
void CheckStreamingAccount(const testsupport::ReaderOutcome& streaming, std::uint64_t size) {
    std::uint64_t lastRecordEnd = 0;
    for (const std::uint64_t end : streaming.ends) {
        FUZZ_CHECK(end > lastRecordEnd);
        lastRecordEnd = end;
    }
    FUZZ_CHECK(!streaming.nextAfterEnd);
    FUZZ_CHECK(streaming.validBytes >= lastRecordEnd && streaming.validBytes <= size);
    FUZZ_CHECK(streaming.opened || !streaming.ok);
}

// The streaming reader gives the classic reader's verdict, message and
// errno, and the records ReadWithBoth expects of it.
testsupport::ReaderOutcome CompareReaders(std::string_view bytes) {
    const testsupport::BothReaders both =
        testsupport::ReadWithBoth(Dir().StoreDir(), kFileName, bytes, kPrefixName);
    CheckStreamingAccount(both.streaming, bytes.size());
    FUZZ_CHECK(both.streaming.ok == both.classic.ok);
    FUZZ_CHECK(both.streaming.message == both.classic.message);
    FUZZ_CHECK(both.streaming.errorNumber == both.classic.errorNumber);
    FUZZ_CHECK_SAME(both.streaming.records, both.expectedRecords);
    return both.streaming;
}

// The record walk through a window of a few bytes ends as the streaming
// reader's through its default window: the same records, verdict and end.
void CompareRecordWalk(const std::string& path, size_t smallBlock,
                       const testsupport::ReaderOutcome& streaming) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    std::vector<JobResults> records;
    bool ok = false;
    std::uint64_t end = 0;
    {
        jobresults::FileWindow window(fd, smallBlock);
        jobresults::RootCursor cursor(window);
        jobresults::RootCursor::Step step = cursor.FindRoot();
        for (JobResults record = UntouchedRecord(); step == jobresults::RootCursor::Step::kChild;
             record = UntouchedRecord()) {
            step = cursor.NextRecord(record);
            if (step == jobresults::RootCursor::Step::kChild) records.push_back(record);
        }
        ok = step == jobresults::RootCursor::Step::kEnd && cursor.LastChildIsRecord();
        end = cursor.RecordEnd();
    }
    close(fd);
    FUZZ_CHECK_SAME(records, streaming.records);
    FUZZ_CHECK(ok == streaming.ok);
    FUZZ_CHECK(end == streaming.validBytes);
}

// The file cut through a window of a few bytes gives what one large block
// gives: no element is lost or changed where a block edge falls.
void CompareBlockSizes(const std::string& path, size_t smallBlock) {
    const auto cut = [&path](size_t block, std::vector<XmlNode>& children) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        FUZZ_CHECK(fd >= 0);
        jobresults::FileWindow window(fd, block);
        const int result = jobresults::ReadRootChildren(window, children);
        close(fd);
        return result;
    };
    std::vector<XmlNode> whole;
    std::vector<XmlNode> pieces;
    FUZZ_CHECK(cut(jobresults::FileWindow::kDefaultBlockSize, whole) == cut(smallBlock, pieces));
    FUZZ_CHECK(whole.size() == pieces.size());
    for (size_t i = 0; i < whole.size(); ++i) {
        FUZZ_CHECK(whole[i].GetTagName() == pieces[i].GetTagName());
        FUZZ_CHECK(whole[i].GetNodeContent() == pieces[i].GetNodeContent());
        FUZZ_CHECK(whole[i].m_mapAttributes == pieces[i].m_mapAttributes);
    }
}

// Resumed where a reading from the start stood after open and after each
// record, the streaming reader gives the records behind that point and ends
// with the same verdict and validBytes(); a lent descriptor keeps its
// offset. At the first few points and the last, which keeps an input of
// many records fast.
void CompareResumed(const std::string& path, const testsupport::ReaderOutcome& whole) {
    constexpr size_t kFirstPoints = 3;
    const std::vector<jobresults::ResumePoint>& points = whole.points;
    JobResults record;
    for (size_t i = 0; i < points.size(); ++i) {
        if (i >= kFirstPoints && i + 1 < points.size()) continue;
        FUZZ_CHECK(i == 0 || points[i].offset == whole.ends[i - 1]);
        for (const bool lent : {false, true}) {
            const int fd = lent ? open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
            FUZZ_CHECK(!lent || lseek(fd, 3, SEEK_SET) == 3);
            JobResultsReader reader;
            const bool more =
                lent ? reader.resume(fd, path, points[i]) : reader.resume(path, points[i]);
            std::vector<JobResults> records;
            for (record = UntouchedRecord(); more && reader.next(record);
                 record = UntouchedRecord()) {
                records.push_back(record);
            }
            const auto behind = whole.records.begin() + static_cast<std::ptrdiff_t>(i);
            FUZZ_CHECK_SAME(records, std::vector<JobResults>(behind, whole.records.end()));
            FUZZ_CHECK(reader.ok() == whole.ok);
            FUZZ_CHECK(reader.errorNumber() == whole.errorNumber);
            FUZZ_CHECK(reader.validBytes() == whole.validBytes);
            reader.close();
            FUZZ_CHECK(!lent || (lseek(fd, 0, SEEK_CUR) == 3 && close(fd) == 0));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jobfiles::TempDir& dir = Dir();
    FUZZ_CHECK(dir.Ok());
    const std::string path = dir.StorePath(kFileName);
    const std::string_view bytes = fuzzinput::AsText(data, size);
    FUZZ_CHECK(jobfiles::WriteWholeFile(path, bytes));

    const int lowestFree = jobfiles::LowestFreeDescriptor();
    ReadAll(path, Expect(std::string(bytes)));
    const testsupport::ReaderOutcome streaming = CompareReaders(bytes);
    const size_t smallBlock = size == 0 ? 1 : 1 + data[0] % 13;
    CompareBlockSizes(path, smallBlock);
    CompareRecordWalk(path, smallBlock, streaming);
    // A window of a few records, where elements outgrow it only now and then.
    CompareRecordWalk(path, 64 + size % 256, streaming);
    CompareResumed(path, streaming);
    FUZZ_CHECK(jobfiles::LowestFreeDescriptor() == lowestFree);

    dir.Clear();
    return 0;
}
