// The reader: arbitrary bytes as a job results file, then openJobResults and
// getNextJobResult to the end.
//
// Each input is written as "<dir>\ci_push_1.xml" in a private temporary
// directory and removed after the iteration. Besides crashes, leaks and
// out-of-bounds reads, the target checks that no descriptor outlives the
// reader and compares what the reader delivers with an expectation built
// from the flat scanner: exactly one top-level element "Root", its
// "JobResult" children in order, each field taken from the last element of
// its name, Size as sscanf "%llu" reads it. Files with a NUL byte get no
// expectation (how much of the text a NUL hides is the reader's business);
// for them the results need only be well-formed.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "job_files.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/JobResultsScan.h"
#include "xml/XmlNode.h"

namespace {

const char kFileName[] = "ci_push_1.xml";

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

// Without an expectation: whatever is opened reads to an end, each call
// with one of the three results, and a 0 releases the file.
void ReadAllUnchecked() {
    CCIJobResults reader;
    if (reader.openJobResults(Dir().StoreDir(), kFileName) != 1) return;
    JobResults record;
    int result = 1;
    for (size_t calls = 0; result == 1; ++calls) {
        FUZZ_CHECK(calls <= reader.m_vJobResultNodes.size());
        result = reader.getNextJobResult(record);
        FUZZ_CHECK(result == 1 || result == 0 || result == -1);
    }
    if (result == 0) FUZZ_CHECK(reader.m_nFileHandle == -1);
    FUZZ_CHECK(reader.getNextJobResult(record) == -1);
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
    if (bytes.find('\0') == std::string_view::npos) {
        ReadAll(path, Expect(std::string(bytes)));
    } else {
        ReadAllUnchecked();
    }
    CompareBlockSizes(path, size == 0 ? 1 : 1 + data[0] % 13);
    FUZZ_CHECK(jobfiles::LowestFreeDescriptor() == lowestFree);

    dir.RemoveAll();
    return 0;
}
