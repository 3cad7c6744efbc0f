// A round trip through the store: records decoded from the input (layout in
// record_codec.h) are written by the writer, saved explicitly or by its
// destructor, and read back; every value must come back equal to the value
// written with its surrounding blanks, tabs and line breaks trimmed, and
// Size exactly. Values hold no markup ("<") and no NUL byte, which the
// writer refuses; every other byte is a value's like any.
//
// Also checked: the writer creates one file, or none for no records; the
// file starts with the header and ends as a saved file does; no descriptor
// outlives the store objects.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "job_files.h"
#include "jobresults/cijobresults.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "record_codec.h"
#include "xml/XmlNode.h"

namespace {

// Enough records to cover appends over the trailer many times; few enough
// to keep an iteration fast.
constexpr size_t kMaxRecords = 48;

jobfiles::TempDir& Dir() {
    static jobfiles::TempDir dir;
    return dir;
}

void Write(const std::vector<JobResults>& records, bool explicitSave) {
    CCIJobResults writer;
    FUZZ_CHECK(writer.createJobResults(Dir().StoreDir()) == 1);
    for (const JobResults& record : records) FUZZ_CHECK(writer.addJobResult(record) == 1);
    if (explicitSave) FUZZ_CHECK(writer.saveJobResults() == 1);
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void ReadBack(const std::string& fileName, const std::vector<JobResults>& records) {
    CCIJobResults reader;
    FUZZ_CHECK(reader.openJobResults(Dir().StoreDir(), fileName) == 1);
    for (size_t i = 0; i < records.size(); ++i) {
        JobResults got;
        got.Size = ~records[i].Size;  // a value the record must overwrite
        const int result = reader.getNextJobResult(got);
        FUZZ_CHECK(result == (i + 1 < records.size() ? 1 : 0));
        JobResults expected = records[i];
        for (std::string* value :
             {&expected.ClientName, &expected.Url, &expected.BackupJobId, &expected.ErrorString}) {
            *value = std::string(fuzzinput::Trimmed(*value));
        }
        FUZZ_CHECK_SAME(got, expected);
    }
    FUZZ_CHECK(reader.m_nFileHandle == -1);
    JobResults after;
    FUZZ_CHECK(reader.getNextJobResult(after) == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    jobfiles::TempDir& dir = Dir();
    FUZZ_CHECK(dir.Ok());
    const bool explicitSave = (data[0] & recordcodec::kFlagSave) != 0;
    const std::vector<JobResults> records =
        recordcodec::DecodeRecords(fuzzinput::AsText(data + 1, size - 1), kMaxRecords);

    const int lowestFree = jobfiles::LowestFreeDescriptor();
    Write(records, explicitSave);
    FUZZ_CHECK(jobfiles::LowestFreeDescriptor() == lowestFree);

    const std::vector<std::string> files = dir.StoreFiles();
    if (records.empty()) {
        FUZZ_CHECK(files.empty());
        return 0;
    }
    FUZZ_CHECK(files.size() == 1);
    const std::string bytes = jobfiles::ReadWholeFile(dir.StorePath(files[0]));
    FUZZ_CHECK(StartsWith(bytes, jobresults::kHeader));
    // The last record's end tag, then the final end tag in place of the trailer.
    const std::string savedEnd =
        XmlNode::OutputXMLTagString(std::string(jobresults::kRecordTag), false, false) +
        XmlNode::m_sReturnChar + std::string(jobresults::kFinalEndTag);
    FUZZ_CHECK(EndsWith(bytes, savedEnd));

    ReadBack(files[0], records);
    FUZZ_CHECK(jobfiles::LowestFreeDescriptor() == lowestFree);
    dir.Clear();
    return 0;
}
