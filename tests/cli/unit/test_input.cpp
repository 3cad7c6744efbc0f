// Parsing of TSV and JSON Lines input.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "jrtool/Input.h"

namespace jrtool {
namespace {

using namespace std::string_literals;

struct ValidLine {
    const char* name;
    std::string line;
    JobResults expected;
};

// The case's name, so that test names stay the same from build to build.
void PrintTo(const ValidLine& line, std::ostream* out) { *out << '"' << line.name << '"'; }

class ValidTsvLine : public ::testing::TestWithParam<ValidLine> {};

TEST_P(ValidTsvLine, FillsEveryField) {
    JobResults record;
    std::string fault;
    ASSERT_TRUE(ParseTsvRecord(GetParam().line, record, fault)) << fault;
    EXPECT_EQ(record.ClientName, GetParam().expected.ClientName);
    EXPECT_EQ(record.Url, GetParam().expected.Url);
    EXPECT_EQ(record.BackupJobId, GetParam().expected.BackupJobId);
    EXPECT_EQ(record.ErrorString, GetParam().expected.ErrorString);
    EXPECT_EQ(record.Size, GetParam().expected.Size);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ValidTsvLine,
    ::testing::Values(
        ValidLine{"plain", "alpha\t/jobs/1\t1001\t\t4096", {"alpha", "/jobs/1", "1001", "", 4096}},
        ValidLine{"crlf", "alpha\tu\t1\terr\t7\r", {"alpha", "u", "1", "err", 7}},
        ValidLine{"escapes", "a\\tb\tc\\nd\te\\\\f\tg\\rh\t0", {"a\tb", "c\nd", "e\\f", "g\rh", 0}},
        ValidLine{"lone backslash kept",
                  "C:\\Backups\tu\t1\t\\x\t1",
                  {"C:\\Backups", "u", "1", "\\x", 1}},
        ValidLine{"trailing backslash", "a\\\tu\t1\t\t2", {"a\\", "u", "1", "", 2}},
        ValidLine{
            "raw NUL kept, no escape for it", "a\0b\tu\t1\t\\0\t2"s, {"a\0b"s, "u", "1", "\\0", 2}},
        ValidLine{"blanks kept in values", " a \tu\t1\t\t 3 ", {" a ", "u", "1", "", 3}},
        ValidLine{"largest size",
                  "a\tu\t1\t\t18446744073709551615",
                  {"a", "u", "1", "", 18446744073709551615ULL}}),
    [](const auto& test) {
        std::string name = test.param.name;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

struct BadLine {
    std::string line;
    std::string faultPart;
};

// `parse` refuses each line with a fault that names what is wrong.
void ExpectRefused(bool (*parse)(const std::string&, JobResults&, std::string&),
                   const std::vector<BadLine>& cases) {
    for (const auto& bad : cases) {
        JobResults record;
        std::string fault;
        EXPECT_FALSE(parse(bad.line, record, fault)) << bad.line;
        EXPECT_NE(fault.find(bad.faultPart), std::string::npos) << bad.line << " -> " << fault;
    }
}

TEST(TsvLine, MalformedLinesNameTheirFault) {
    const std::vector<BadLine> cases = {
        {"a\tb\tc\td", "found 4"},
        {"a\tb\tc\td\t1\textra", "found 6"},
        {"a\tb\tc\td\tlarge", "size \"large\""},
        {"a\tb\tc\td\t-1", "size \"-1\""},
        {"a\tb\tc\td\t", "size \"\""},
        {"a\tb\tc\td\t18446744073709551616", "size \"18446744073709551616\""},
        {"a\tb\tc\td\t1.5", "size \"1.5\""},
        {"\t\t\t\t", "only tabs"},
        {"\t \t\r", "only tabs"},
    };
    ExpectRefused([](const std::string& line, JobResults& record,
                     std::string& fault) { return ParseTsvRecord(line, record, fault); },
                  cases);
}

TEST(TsvLine, HeaderGivesTheColumnOrder) {
    const std::vector<std::tuple<std::string, std::optional<TsvColumns>, bool>> cases = {
        {"client\turl\tjob_id\terror\tsize", kTsvColumnsInOrder, false},
        {"Client\tURL\tJob ID\tError\tSize\r", kTsvColumnsInOrder, false},
        {"size\tJobId\tclient\terror\turl", TsvColumns{2, 4, 1, 3, 0}, false},
        {"client\turl\tjob_id\terror", std::nullopt, true},
        {"client\turl\tclient\terror\tsize", std::nullopt, true},
        {"alpha\t/jobs/1\t1001\t\t4096", std::nullopt, false},
        {"a\tu\t1\terror\t5", std::nullopt, false},
    };
    for (const auto& [line, columns, fault] : cases) {
        std::string message;
        EXPECT_EQ(ParseTsvHeader(line, message), columns) << line;
        EXPECT_EQ(!message.empty(), fault) << line << ": " << message;
    }
}

TEST(TsvText, EscapeThenUnescapeGivesTheValueBack) {
    for (const std::string& value :
         std::vector<std::string>{"", "plain", "tab\there", "line\nbreak\r\n", "back\\slash",
                                  "\\t literally", "ends with \\", "\\\\n", "nul\0inside"s}) {
        EXPECT_EQ(UnescapeTsvValue(EscapeTsvValue(value)), value);
        EXPECT_EQ(EscapeTsvValue(value).find_first_of("\t\r\n"), std::string::npos);
    }
}

TEST(JsonLine, FillsFieldsAndAcceptsSizeForms) {
    const std::vector<std::pair<std::string, unsigned long long>> cases = {
        {R"({"client":"a","url":"u","job_id":"1","error":"e","size":5})", 5},
        {R"({"size":"18446744073709551615","client":"a","url":"u","job_id":"1"})",
         18446744073709551615ULL},
        {R"({"client":"a","url":"u","job_id":"1","error":null,"size":18446744073709551615})",
         18446744073709551615ULL},
    };
    for (const auto& [line, size] : cases) {
        JobResults record;
        std::string fault;
        ASSERT_TRUE(ParseJsonRecord(line, record, fault)) << line << ": " << fault;
        EXPECT_EQ(record.ClientName, "a");
        EXPECT_EQ(record.Url, "u");
        EXPECT_EQ(record.BackupJobId, "1");
        EXPECT_EQ(record.Size, size);
    }
}

TEST(JsonLine, DecodesEscapesIntoBytes) {
    JobResults record;
    std::string fault;
    ASSERT_TRUE(ParseJsonRecord(
        R"({"client":"tab\there","url":"\u00e9","job_id":"\"q\"","error":"a\\b\u0000c","size":0})",
        record, fault));
    EXPECT_EQ(record.ClientName, "tab\there");
    EXPECT_EQ(record.Url, "\xC3\xA9");
    EXPECT_EQ(record.BackupJobId, "\"q\"");
    EXPECT_EQ(record.ErrorString, "a\\b\0c"s);
}

TEST(JsonLine, MalformedLinesNameTheirFault) {
    const std::vector<BadLine> cases = {
        {R"({"client":"a","url":"u","job_id":"1","size":1)", "invalid JSON"},
        {R"(["a","u","1","",1])", "expected a JSON object"},
        {R"({"url":"u","job_id":"1","size":1})", "missing key \"client\""},
        {R"({"client":"a","url":"u","job_id":"1"})", "missing key \"size\""},
        {R"({"client":"a","url":"u","job_id":1,"size":1})", "\"job_id\" must be a string"},
        {R"({"client":"a","url":"u","job_id":"1","size":-1})", "size -1"},
        {R"({"client":"a","url":"u","job_id":"1","size":1.5})", "size 1.5"},
        {R"({"client":"a","url":"u","job_id":"1","size":"12a"})", "size \"12a\""},
        {R"({"client":"a","url":"u","job_id":"1","size":1,"clinet":"b"})",
         "unknown key \"clinet\""},
    };
    ExpectRefused(ParseJsonRecord, cases);
}

TEST(RecordStream, DetectsFormatSkipsHeaderAndBlankLines) {
    std::istringstream tsv(
        "\nclient\turl\tjob_id\terror\tsize\n\na\tu\t1\t\t5\n  \nb\tv\t2\tfail\t6\n");
    RecordStream records(tsv, std::nullopt);
    JobResults record;
    ASSERT_TRUE(records.Next(record));
    EXPECT_EQ(record.ClientName, "a");
    ASSERT_TRUE(records.Next(record));
    EXPECT_EQ(record.ErrorString, "fail");
    EXPECT_FALSE(records.Next(record));
    EXPECT_EQ(records.Fault(), "");

    std::istringstream jsonl(" {\"client\":\"c\",\"url\":\"u\",\"job_id\":\"3\",\"size\":1}\n");
    RecordStream jsonRecords(jsonl, std::nullopt);
    ASSERT_TRUE(jsonRecords.Next(record));
    EXPECT_EQ(record.ClientName, "c");
    EXPECT_EQ(record.ErrorString, "");
}

TEST(RecordStream, ReadsColumnsInTheOrderOfTheHeader) {
    std::istringstream input("size\terror\tjob_id\turl\tclient\n5\tboom\t1\tu\ta\n");
    RecordStream records(input, std::nullopt);
    JobResults record;
    ASSERT_TRUE(records.Next(record)) << records.Fault();
    EXPECT_TRUE(record.ClientName == "a" && record.Url == "u" && record.BackupJobId == "1" &&
                record.ErrorString == "boom" && record.Size == 5);
}

TEST(RecordStream, IgnoresAByteOrderMarkBeforeTheHeader) {
    std::istringstream input(
        "\xEF\xBB\xBF"
        "client\turl\tjob_id\terror\tsize\na\tu\t1\t\t5\n");
    RecordStream records(input, std::nullopt);
    JobResults record;
    ASSERT_TRUE(records.Next(record)) << records.Fault();
    EXPECT_EQ(record.ClientName, "a");
}

TEST(RecordStream, FaultCarriesThePhysicalLineNumber) {
    std::istringstream input("client\turl\tjob_id\terror\tsize\na\tu\t1\t\t5\n\nb\tu\t2\t\tbad\n");
    RecordStream records(input, std::nullopt);
    JobResults record;
    ASSERT_TRUE(records.Next(record));
    EXPECT_FALSE(records.Next(record));
    EXPECT_EQ(records.Fault().rfind("line 4: size \"bad\"", 0), 0u) << records.Fault();
}

}  // namespace
}  // namespace jrtool
