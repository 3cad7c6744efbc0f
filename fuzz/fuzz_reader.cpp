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
// NUL bytes are text like any other.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "job_files.h"
#include "jobresults/JobResultsReader.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/JobResultsScan.h"
#include "xml/XmlNode.h"

namespace {

const char kFileName[] = "ci_push_1.xml";
const char kPrefixName[] = "ci_push_2.xml";

jobfiles::TempDir& Dir() {
    static jobfiles::TempDir dir;
    return dir;
}

// What a caller's record holds before the reader fills it: fields the file
// lacks must keep these values.
JobResults Untouched() {
    JobResults record;
    record.ClientName = "unset client";
    record.Url = "unset url";
    record.BackupJobId = "unset id";
    record.ErrorString = "unset error";
    record.Size = 4242;
    return record;
}

bool Same(const JobResults& a, const JobResults& b) {
    return a.ClientName == b.ClientName && a.Url == b.Url && a.BackupJobId == b.BackupJobId &&
           a.ErrorString == b.ErrorString && a.Size == b.Size;
}

struct Expected {
    bool valid = false;
    std::vector<JobResults> records;
    // Whether the node list ends with a record, so that the last record
    // comes with 0 rather than with 1 and a further -1.
    bool endsWithRecord = false;
};

JobResults RecordFrom(const std::string& content) {
    JobResults record = Untouched();
    std::vector<XmlNode> fields;
    XmlNode::GetXMLNodeList(content, fields);
    for (const XmlNode& field : fields) {
        const std::string& name = field.GetTagName();
        const std::string& value = field.GetNodeContent();
        if (name == "ClientName") record.ClientName = value;
        if (name == "Url") record.Url = value;
        if (name == "BackupJobId") record.BackupJobId = value;
        if (name == "ErrorString") record.ErrorString = value;
        if (name == "Size") std::sscanf(value.c_str(), "%llu", &record.Size);
    }
    return record;
}

Expected Expect(const std::string& text) {
    Expected expected;
    std::vector<XmlNode> top;
    XmlNode::GetXMLNodeList(text, top);
    if (top.size() != 1 || top[0].GetTagName() != "Root") return expected;
    expected.valid = true;
    std::vector<XmlNode> children;
    XmlNode::GetXMLNodeList(top[0].GetNodeContent(), children);
    for (const XmlNode& child : children) {
        if (child.GetTagName() == "JobResult")
            expected.records.push_back(RecordFrom(child.GetNodeContent()));
    }
    expected.endsWithRecord = !children.empty() && children.back().GetTagName() == "JobResult";
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
        JobResults record = Untouched();
        const int result = reader.getNextJobResult(record);
        const bool last = i + 1 == count;
        FUZZ_CHECK(result == (last && expected.endsWithRecord ? 0 : 1));
        FUZZ_CHECK(Same(record, expected.records[i]));
    }
    if (count > 0 && expected.endsWithRecord) {
        FUZZ_CHECK(reader.m_nFileHandle == -1);
    }
    JobResults record = Untouched();
    FUZZ_CHECK(reader.getNextJobResult(record) == -1);
    FUZZ_CHECK(Same(record, Untouched()));
    FUZZ_CHECK(reader.getNextJobResult(record) == -1);
}

// What a reader delivered and how it ended.
struct Outcome {
    bool opened = false;
    std::vector<JobResults> records;
    bool ok = false;
    std::string message;           // when not ok
    int errorNumber = 0;           // when not ok
    std::uint64_t validBytes = 0;  // the streaming reader's, at the end
};

Outcome ReadClassic(const std::string& fileName) {
    Outcome outcome;
    CCIJobResults reader;
    outcome.opened = reader.openJobResults(Dir().StoreDir(), fileName) == 1;
    if (outcome.opened) {
        for (;;) {
            JobResults record = Untouched();
            const int result = reader.getNextJobResult(record);
            if (result == -1) break;
            outcome.records.push_back(record);
            outcome.ok = result == 0;
            if (outcome.ok) break;
        }
    }
    if (!outcome.ok) {
        outcome.message = reader.m_sErrorMsg;
        outcome.errorNumber = reader.m_nErrno;
    }
    return outcome;
}

// lastRecordEnd: validBytes() after the last record delivered (0 without
// one), which only grows from record to record.
Outcome ReadStreaming(std::uint64_t& lastRecordEnd, std::uint64_t size) {
    Outcome outcome;
    JobResultsReader reader;
    outcome.opened = reader.open(Dir().StoreDir(), kFileName);
    JobResults record = Untouched();
    while (outcome.opened && reader.next(record)) {
        FUZZ_CHECK(reader.validBytes() > lastRecordEnd);
        lastRecordEnd = reader.validBytes();
        outcome.records.push_back(record);
        record = Untouched();
    }
    FUZZ_CHECK(!reader.next(record));
    outcome.validBytes = reader.validBytes();
    FUZZ_CHECK(outcome.validBytes >= lastRecordEnd && outcome.validBytes <= size);
    outcome.ok = reader.ok();
    FUZZ_CHECK(outcome.opened || !outcome.ok);
    if (!outcome.ok) {
        outcome.message = reader.errorMessage();
        outcome.errorNumber = reader.errorNumber();
    }
    return outcome;
}

bool SameRecords(const std::vector<JobResults>& a, const std::vector<JobResults>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!Same(a[i], b[i])) return false;
    }
    return true;
}

// The streaming reader gives the classic reader's verdict. Where the classic
// reader refuses the whole file, the streaming one has delivered the
// records that lie before the damage: the classic reader finds the same in
// the text up to validBytes() closed with Root's end tag.
Outcome CompareReaders(std::string_view bytes) {
    const Outcome classic = ReadClassic(kFileName);
    std::uint64_t lastRecordEnd = 0;
    const Outcome streaming = ReadStreaming(lastRecordEnd, bytes.size());
    FUZZ_CHECK(streaming.ok == classic.ok);
    FUZZ_CHECK(streaming.message == classic.message);
    FUZZ_CHECK(streaming.errorNumber == classic.errorNumber);
    if (classic.opened || streaming.records.empty()) {
        FUZZ_CHECK(SameRecords(streaming.records, classic.records));
        return streaming;
    }
    std::string prefix(bytes.substr(0, lastRecordEnd));
    prefix += "</Root>";
    FUZZ_CHECK(jobfiles::WriteFile(Dir().StorePath(kPrefixName), prefix));
    FUZZ_CHECK(SameRecords(streaming.records, ReadClassic(kPrefixName).records));
    return streaming;
}

// The record walk through a window of a few bytes ends as the streaming
// reader's through its default window: the same records, verdict and end.
void CompareRecordWalk(const std::string& path, size_t smallBlock, const Outcome& streaming) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    std::vector<JobResults> records;
    bool ok = false;
    std::uint64_t end = 0;
    {
        jobresults::FileWindow window(fd, smallBlock);
        jobresults::RootCursor cursor(window);
        jobresults::RootCursor::Step step = cursor.FindRoot();
        for (JobResults record = Untouched(); step == jobresults::RootCursor::Step::kChild;
             record = Untouched()) {
            step = cursor.NextRecord(record);
            if (step == jobresults::RootCursor::Step::kChild) records.push_back(record);
        }
        ok = step == jobresults::RootCursor::Step::kEnd && cursor.LastChildIsRecord();
        end = cursor.RecordEnd();
    }
    close(fd);
    FUZZ_CHECK(SameRecords(records, streaming.records));
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jobfiles::TempDir& dir = Dir();
    FUZZ_CHECK(dir.ok());
    const std::string path = dir.StorePath(kFileName);
    const std::string_view bytes = fuzzinput::AsText(data, size);
    FUZZ_CHECK(jobfiles::WriteFile(path, bytes));

    const int lowestFree = jobfiles::LowestFreeDescriptor();
    ReadAll(path, Expect(std::string(bytes)));
    const Outcome streaming = CompareReaders(bytes);
    const size_t smallBlock = size == 0 ? 1 : 1 + data[0] % 13;
    CompareBlockSizes(path, smallBlock);
    CompareRecordWalk(path, smallBlock, streaming);
    FUZZ_CHECK(jobfiles::LowestFreeDescriptor() == lowestFree);

    dir.RemoveAll();
    return 0;
}
