#include "jrtool/SalvageScan.h"

#include <cstdio>

#include "jobresults/detail/JobResultsFormat.h"

namespace jrtool {

namespace {

const std::string kRootStart = "<" + std::string(jobresults::kRootTag) + ">";
const std::string kRootEnd = "</" + std::string(jobresults::kRootTag) + ">";
const std::string kRecordStart = "<" + std::string(jobresults::kRecordTag) + ">";
const std::string kRecordEnd = "</" + std::string(jobresults::kRecordTag) + ">";
const char* const kBlank = " \t\r\n";

// Offset of the end of the record that starts at `start`, or npos when
// no complete record starts there.
std::size_t CompleteRecordEnd(const std::string& text, std::size_t start, std::size_t limit) {
    if (start >= limit || text.compare(start, kRecordStart.size(), kRecordStart) != 0) {
        return std::string::npos;
    }
    const auto endTag = text.find(kRecordEnd, start + kRecordStart.size());
    if (endTag == std::string::npos || endTag + kRecordEnd.size() > limit) return std::string::npos;
    return endTag + kRecordEnd.size();
}

JobResults ParseRecord(const std::string& text, std::size_t start, std::size_t end) {
    const auto contentStart = start + kRecordStart.size();
    const auto contentSize = end - kRecordEnd.size() - contentStart;
    std::vector<XmlNode> fields;
    // As in the store's reader, whatever the scanner found counts, even
    // when it stopped early.
    XmlNode::GetXMLNodeList(text.substr(contentStart, contentSize), fields);
    return RecordFromFields(fields);
}

void MeasureTail(const std::string& bytes, SalvageScan& scan) {
    const std::string tail = bytes.substr(scan.keptBytes);
    const auto first = tail.find_first_not_of(kBlank);
    if (first == std::string::npos) return;
    const auto last = tail.find_last_not_of(kBlank);
    scan.intact = tail.compare(first, last - first + 1, kRootEnd) == 0 && !scan.records.empty();
    if (!scan.intact) scan.discardedBytes = bytes.size() - scan.keptBytes;
}

}  // namespace

JobResults RecordFromFields(const std::vector<XmlNode>& fields) {
    JobResults record;
    for (const XmlNode& field : fields) {
        const std::string& name = field.GetTagName();
        const std::string& content = field.GetNodeContent();
        if (name == jobresults::kClientNameTag) record.ClientName = content;
        if (name == jobresults::kUrlTag) record.Url = content;
        if (name == jobresults::kBackupJobIdTag) record.BackupJobId = content;
        if (name == jobresults::kErrorStringTag) record.ErrorString = content;
        if (name == jobresults::kSizeTag) std::sscanf(content.c_str(), "%llu", &record.Size);
    }
    return record;
}

SalvageScan ScanCompleteRecords(const std::string& text) {
    SalvageScan scan;
    const auto rootStart = text.find(kRootStart);
    if (rootStart == std::string::npos) {
        scan.discardedBytes = text.size();
        return scan;
    }
    scan.keptBytes = rootStart + kRootStart.size();
    const auto rootEnd = text.find(kRootEnd, scan.keptBytes);
    const auto limit = rootEnd == std::string::npos ? text.size() : rootEnd;
    for (;;) {
        const auto start = text.find_first_not_of(kBlank, scan.keptBytes);
        const auto end = start == std::string::npos ? start : CompleteRecordEnd(text, start, limit);
        if (end == std::string::npos) break;
        scan.records.push_back(ParseRecord(text, start, end));
        scan.keptBytes = end;
    }
    MeasureTail(text, scan);
    return scan;
}

}  // namespace jrtool
