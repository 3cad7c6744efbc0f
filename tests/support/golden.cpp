#include "support/golden.h"

#include <cstdlib>

#include "support/describe.h"
#include "support/scratch.h"

namespace storetest {

namespace {

const std::string kGoldenDir = CIJOBRESULTS_SOURCE_DIR "/tests/golden/";

size_t CommonPrefixLength(const std::string& a, const std::string& b) {
    size_t length = 0;
    while (length < a.size() && length < b.size() && a[length] == b[length]) ++length;
    return length;
}

// The names and records, read out of the saved file with the scanner.
void ReadStructure(GoldenFormat& golden) {
    std::vector<XmlNode> top;
    XmlNode::GetXMLNodeList(golden.saved, top);
    if (top.size() != 1) {
        ADD_FAILURE() << "cannot read the golden files in " << kGoldenDir;
        return;
    }
    golden.names.root = top[0].GetTagName();
    std::vector<XmlNode> records;
    XmlNode::GetXMLNodeList(top[0].GetNodeContent(), records);
    if (records.empty()) return;
    golden.names.record = records[0].GetTagName();
    std::vector<XmlNode> fields;
    XmlNode::GetXMLNodeList(records[0].GetNodeContent(), fields);
    for (const XmlNode& field : fields) golden.names.fields.push_back(field.GetTagName());
    for (const XmlNode& record : records) {
        golden.records.push_back(testsupport::ReferenceRecord(record, golden.names, JobResults()));
    }
}

GoldenFormat LoadGolden() {
    GoldenFormat golden;
    golden.unsaved = testsupport::ReadWholeFile(kGoldenDir + "two_records.xml");
    golden.saved = testsupport::ReadWholeFile(kGoldenDir + "two_records_saved.xml");
    ReadStructure(golden);
    // The two files differ only in what follows the last record.
    const size_t afterRecords = CommonPrefixLength(golden.unsaved, golden.saved);
    golden.trailer = golden.unsaved.substr(afterRecords);
    golden.finalEndTag = golden.saved.substr(afterRecords);
    const size_t lastEnd = golden.unsaved.rfind("</" + golden.names.record + ">", afterRecords);
    golden.lastRecordEnd = golden.unsaved.substr(lastEnd, afterRecords - lastEnd);
    golden.header = golden.unsaved.substr(0, golden.unsaved.find("<" + golden.names.record));
    golden.prolog = golden.header.substr(0, golden.header.find("<" + golden.names.root + ">"));
    return golden;
}

::testing::AssertionResult EndsWith(const std::string& bytes, const std::string& end) {
    if (bytes.size() >= end.size() &&
        bytes.compare(bytes.size() - end.size(), end.size(), end) == 0) {
        return ::testing::AssertionSuccess();
    }
    const size_t shown = bytes.size() < 40 ? 0 : bytes.size() - 40;
    return ::testing::AssertionFailure()
           << "the file ends in \"" << testsupport::Printable(bytes.substr(shown))
           << "\", not in \"" << testsupport::Printable(end) << "\"";
}

}  // namespace

const GoldenFormat& Golden() {
    static const GoldenFormat golden = LoadGolden();
    return golden;
}

const char kBaseName[] = "ci_push";

std::string CreatedPrefix(const std::string& dirName) { return dirName + "\\" + kBaseName + "_"; }

std::string CreatedName(const std::string& dirName, long long seconds) {
    return CreatedPrefix(dirName) + std::to_string(seconds) + ".xml";
}

long long CreatedSeconds(const std::string& name, const std::string& dirName) {
    const std::string prefix = CreatedPrefix(dirName);
    if (name.compare(0, prefix.size(), prefix) != 0) return -1;
    const long long seconds = std::atoll(name.c_str() + prefix.size());
    return name == CreatedName(dirName, seconds) ? seconds : -1;
}

::testing::AssertionResult EndsUnsaved(const std::string& bytes) {
    return EndsWith(bytes, Golden().lastRecordEnd + Golden().trailer);
}

::testing::AssertionResult EndsSaved(const std::string& bytes) {
    return EndsWith(bytes, Golden().lastRecordEnd + Golden().finalEndTag);
}

long long TrailerStart(const std::string& bytes) {
    return static_cast<long long>(bytes.size()) - static_cast<long long>(Golden().trailer.size());
}

}  // namespace storetest
