// The file format as the tests know it, independently of the library's own
// statement of it: tests/golden/two_records.xml holds the exact bytes of a
// file after two appends, two_records_saved.xml the same file once saved.
// Everything else the tests need (header, trailer, final end tag, tag
// names, the records the files hold) is read out of those two files; only
// the file name pattern is stated here.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_GOLDEN_H
#define CIJOBRESULTS_TESTS_SUPPORT_GOLDEN_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobresults/cijobresults.h"
#include "support/reference.h"

namespace storetest {

struct GoldenFormat {
    std::string unsaved;        // two_records.xml
    std::string saved;          // two_records_saved.xml
    std::string header;         // the bytes before the first record
    std::string prolog;         // the header's declarations, before the root's start tag
    std::string lastRecordEnd;  // the end tag that closes the last record, and its line end
    std::string trailer;        // what follows the last record in an unsaved file
    std::string finalEndTag;    // what follows it in a saved file
    testsupport::RecordNames names;
    std::vector<JobResults> records;  // the records both files hold
};

const GoldenFormat& Golden();

// The name of a file the writer creates for the directory name dirName:
// dirName + "\ci_push_" + seconds since the epoch + ".xml".
extern const char kBaseName[];
std::string CreatedPrefix(const std::string& dirName);
std::string CreatedName(const std::string& dirName, long long seconds);
// The seconds in a created file's name, or -1 if name is not
// CreatedName(dirName, seconds).
long long CreatedSeconds(const std::string& name, const std::string& dirName);

// The bytes end as a file does after an append, or after a save.
::testing::AssertionResult EndsUnsaved(const std::string& bytes);
::testing::AssertionResult EndsSaved(const std::string& bytes);
// Where the trailer of an unsaved file starts: the position the writer
// keeps between appends.
long long TrailerStart(const std::string& bytes);

}  // namespace storetest

#endif  // CIJOBRESULTS_TESTS_SUPPORT_GOLDEN_H
