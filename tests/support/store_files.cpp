#include "support/store_files.h"

#include <climits>

#include "support/describe.h"

namespace storetest {

std::string CreatedFile(const ScratchDir& dir, const std::string& dirLeaf) {
    const std::vector<std::string> names = dir.Entries();
    if (names.size() != 1 || CreatedSeconds(names[0], dirLeaf) < 0) return "";
    return dir.Path() + "/" + names[0];
}

std::string ReaderName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

ReadBack ReadAllRecords(const std::string& dir, const std::string& fileName) {
    ReadBack back;
    CCIJobResults reader;
    back.openResult = reader.openJobResults(dir, fileName);
    if (back.openResult == 1) {
        for (;;) {
            JobResults record;
            back.lastResult = reader.getNextJobResult(record);
            if (back.lastResult == -1) break;
            back.records.push_back(record);
            if (back.lastResult == 0) break;
        }
    }
    back.errorMsg = reader.m_sErrorMsg;
    return back;
}

::testing::AssertionResult SameRecord(const JobResults& actual, const JobResults& expected) {
    const std::string got = testsupport::Describe(actual);
    const std::string wanted = testsupport::Describe(expected);
    if (got == wanted) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "record " << got << "\n  expected " << wanted;
}

JobResults SampleRecord(int index) {
    const std::string number = std::to_string(index);
    return testsupport::MakeRecord(
        "client " + number + " with blanks", index % 3 == 0 ? "" : "https://h/jobs/" + number,
        number, index % 5 == 0 ? "error: disk\tfull" : "",
        index % 7 == 0 ? ULLONG_MAX : 1234567ull * static_cast<unsigned>(index));
}

}  // namespace storetest
