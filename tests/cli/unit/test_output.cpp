// Renderings of records: JSON with invalid UTF-8, CSV quoting, table layout,
// human sizes.
#include <gtest/gtest.h>

#include <clocale>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jrtool/CharacterWidth.h"
#include "jrtool/Exposition.h"
#include "jrtool/Output.h"
#include "support/repeat.h"

namespace jrtool {
namespace {

using namespace std::string_literals;

// The records as the printer prints them, one at a time as the tool does.
std::string Printed(RecordPrinter& printer, const std::ostringstream& out,
                    const std::vector<JobResults>& records) {
    printer.Begin();
    for (const JobResults& record : records) printer.Add(record);
    printer.End();
    return out.str();
}

// The records in `format` ("json", "jsonl", "csv" or "tsv").
std::string Printed(const std::string& format, const std::vector<JobResults>& records) {
    std::ostringstream out;
    const auto printer = MakeStreamingPrinter(format, out);
    return Printed(*printer, out, records);
}

// The records as a table measured for them.
std::string PrintedTable(const std::vector<JobResults>& records) {
    TableLayout layout;
    for (const JobResults& record : records) layout.Measure(record);
    std::ostringstream out;
    const auto printer = MakeTablePrinter(layout, out);
    return Printed(*printer, out, records);
}

TEST(Utf8, WellFormedTextPassesUnchanged) {
    for (const char* text : {"", "ascii", "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                             "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_EQ(ToValidUtf8(text), text);
    }
}

TEST(Utf8, StrayBytesAndBackslashesThatLookLikeEscapesAreEscaped) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"caf\xE9", "caf\\xE9"},            // Latin-1 text
        {"caf\\xE9", "caf\\\\xE9"},         // the same as text
        {"dir\\ci_1", "dir\\ci_1"},         // a directory name's backslash stays
        {"\\xe9 \\x9", "\\xe9 \\x9"},       // not an escape: lower case, one digit
        {"\x80", "\\x80"},                  // lone continuation byte
        {"\xE2\x82x", "\\xE2\\x82x"},       // cut sequence before ASCII
        {"\\\xFF\\\\", "\\\\\\xFF\\\\\\"},  // backslashes before a stray byte and one another
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(ToValidUtf8(input), expected);
}

// The bytes that ToValidUtf8 made `text` of, read back by its rule.
std::string ReadBack(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 4 <= text.size() &&
            text.find_first_not_of("0123456789ABCDEF", i + 2) >= i + 4) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            bytes += text[text.compare(i, 2, "\\\\") == 0 ? ++i : i];
        }
    }
    return bytes;
}

// A label value as a scraper reads it: a backslash escapes the character
// behind it, "n" standing for a line feed; a raw quote or line feed would
// end the value.
std::string LabelRead(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '"' || value[i] == '\n') return "!";
        const bool escaped = value[i] == '\\' && ++i < value.size();
        text += escaped && value[i] == 'n' ? '\n' : value[i];
    }
    return text;
}

// Every string of up to two bytes, and every four-byte string of the
// pieces escapes and UTF-8 are made of: the text is valid UTF-8, reads back
// to the bytes (so no two strings share a text), and the JSON line encoder
// and the label values carry exactly that text.
TEST(Utf8, EscapingIsInjectiveAndValid) {
    std::vector<std::string> strings = {""};
    for (int a = 0; a < 256; ++a) {
        strings.emplace_back(1, static_cast<char>(a));
        for (int b = 0; b < 256; ++b)
            strings.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
    const std::string pieces = "\\xE9\xC3\xA9\xE2\x82\xAC\xF0\x9F\xFF\x80\"\na";
    for (const char a : pieces)
        for (const char b : pieces)
            for (const char c : pieces)
                for (const char d : pieces) strings.push_back({a, b, c, d});
    for (const std::string& bytes : strings) {
        const std::string text = ToValidUtf8(bytes);
        ASSERT_EQ(ReadBack(text), bytes) << ShownEscaped(bytes, LineBreaks::kEscaped);
        for (std::size_t i = 0; i < text.size(); i += Utf8SequenceLength(text, i))
            ASSERT_NE(Utf8SequenceLength(text, i), 0u) << ShownEscaped(bytes, LineBreaks::kEscaped);
        std::string line;
        AppendJsonString(bytes, line);
        ASSERT_EQ(nlohmann::json::parse(line).get<std::string>(), text);
        ASSERT_EQ(LabelRead(LabelValue(bytes)), text);
    }
}

TEST(Json, AnyByteGivesParseableJsonWithEscapedControls) {
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte) everyByte += static_cast<char>(byte);
    const JobResults record{everyByte, "\"quoted\"", "back\\slash", "line\nbreak", 42};
    const std::string text = DumpJson(RecordToJson(record), -1);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_NE(text.find("\\u0000"), std::string::npos);
    const auto parsed = nlohmann::json::parse(text);
    EXPECT_EQ(parsed["client"].get<std::string>(), ToValidUtf8(everyByte));
    EXPECT_EQ(parsed["url"], "\"quoted\"");
    EXPECT_EQ(parsed["job_id"], "back\\slash");
    EXPECT_EQ(parsed["error"], "line\nbreak");
    EXPECT_EQ(parsed["size"].get<unsigned long long>(), 42u);
}

TEST(Json, KeysComeInColumnOrderAndLargeSizesStayExact) {
    const JobResults record{"a", "u", "1", "", 18446744073709551615ULL};
    EXPECT_EQ(DumpJson(RecordToJson(record), -1),
              R"({"client":"a","url":"u","job_id":"1","error":"","size":18446744073709551615})");
}

TEST(Json, ArrayAndLinesHoldOneEntryPerRecord) {
    const std::vector<JobResults> records = {{"a", "u", "1", "", 1}, {"b", "v", "2", "x", 2}};
    const std::string array = Printed("json", records);
    const auto parsed = nlohmann::json::parse(array);
    ASSERT_TRUE(parsed.is_array());
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[1]["client"], "b");
    // Written element by element, laid out as the whole array would be.
    auto whole = nlohmann::ordered_json::array();
    for (const auto& record : records) whole.push_back(RecordToJson(record));
    EXPECT_EQ(array, DumpJson(whole, 2) + "\n");

    EXPECT_EQ(Printed("json", {}), "[]\n");
}

// The hand-made line encoder against the JSON library, on random bytes
// biased towards what needs care: controls, quotes, backslashes, UTF-8
// leads and continuations.
TEST(Json, LineEncoderWritesWhatTheJsonLibraryWrites) {
    testsupport::SeededRandom random;
    SCOPED_TRACE(random.Note());
    const std::string pieces[] = {
        "a",    "\"",   "\\",           "\x01",     "\x1f", "\x7f", "\n", "\t",
        "\xc3", "\xa9", "\xe2\x82\xac", "\xf0\x9f", "\x80", "\xff", "/",  std::string(1, '\0')};
    const auto text = [&] {
        std::string value;
        for (auto n = random() % 12; n > 0; --n) value += pieces[random() % std::size(pieces)];
        return value;
    };
    for (int i = 0; i < 2000; ++i) {
        const JobResults record{text(), text(), text(), text(), random() * 977ull};
        ASSERT_EQ(Printed("jsonl", {record}), DumpJson(RecordToJson(record), -1) + "\n");
    }
}

TEST(Csv, QuotesOnlyWhatNeedsQuoting) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {" padded ", " padded "},
    };
    for (const auto& [value, expected] : cases) EXPECT_EQ(CsvField(value), expected);
}

TEST(Csv, UsesCrLfAndAHeader) {
    EXPECT_EQ(Printed("csv", {{"a,1", "u", "7", "x\"y", 9}, {"n\0l"s, "", "", "", 0}}),
              "client,url,job_id,error,size\r\n\"a,1\",u,7,\"x\"\"y\",9\r\nn\0l,,,,0\r\n"s);
}

TEST(Tsv, EscapesSoEveryRecordIsOneLine) {
    EXPECT_EQ(Printed("tsv", {{"a\tb", "u\n", "\\", "\0"s, 3}}),
              "client\turl\tjob_id\terror\tsize\na\\tb\tu\\n\t\\\\\t\0\t3\n"s);
}

TEST(HumanSize, PicksTheUnitThatKeepsTheNumberAboveOne) {
    const std::vector<std::pair<unsigned long long, std::string>> cases = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {1048575, "1.0 MiB"},  // 1023.999 KiB rounds up into the next unit
        {10ULL * 1024 * 1024 * 1024, "10.0 GiB"},
        {3ULL << 40, "3.0 TiB"},
        {18446744073709551615ULL, "16.0 EiB"},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(HumanSize(bytes), expected) << bytes;
}

TEST(Table, AlignsColumnsAndKeepsRowsOnOneLine) {
    const std::string table =
        PrintedTable({{"alpha", "/jobs/1", "1", "", 4096},
                      {"\xC3\xA9t\xC3\xA9", "/j/2", "1002", "disk\nfull", 5}});
    std::vector<std::string> lines;
    std::istringstream in(table);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);  // header, two rows, summary
    EXPECT_EQ(lines[0].rfind("CLIENT  JOB ID  BYTES     SIZE  URL      ERROR", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "alpha   1        4096  4.0 KiB  /jobs/1");
    // The accented name is three characters wide, padded like "alpha".
    EXPECT_EQ(lines[2], "\xC3\xA9t\xC3\xA9     1002        5      5 B  /j/2     disk\\nfull");
    EXPECT_EQ(lines[3], "2 records, 1 with errors, 4.0 KiB in total");
}

TEST(Table, AlignsByDisplayWidth) {
    // Two columns for each CJK character and the emoji, none for the
    // combining acute accent.
    const std::string table = PrintedTable({{"\xE6\x9D\xB1\xE4\xBA\xAC", "u", "1", "", 1},
                                            {"\xF0\x9F\x98\x80x", "u", "2", "", 2},
                                            {"e\xCC\x81tude", "u", "3", "", 3}});
    // The client padded to the six columns of CLIENT, then the same cells.
    const auto row = [](const std::string& client, const char* padding, const std::string& n) {
        return client + padding + "  " + n + std::string(11, ' ') + n + "   " + n + " B  u";
    };
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "CLIENT  JOB ID  BYTES  SIZE  URL  ERROR");
    std::getline(in, line);
    EXPECT_EQ(line, row("\xE6\x9D\xB1\xE4\xBA\xAC", "  ", "1"));
    std::getline(in, line);
    EXPECT_EQ(line, row("\xF0\x9F\x98\x80x", "   ", "2"));
    std::getline(in, line);
    EXPECT_EQ(line, row("e\xCC\x81tude", " ", "3"));
}

TEST(Table, CharacterWidthsDoNotDependOnTheUsersLocale) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    for (const auto& [codePoint, width] : std::vector<std::pair<char32_t, int>>{{U'A', 1},
                                                                                {0x0301, 0},
                                                                                {0x200B, 0},
                                                                                {0x4E00, 2},
                                                                                {0xFF21, 2},
                                                                                {0x1F600, 2},
                                                                                {0xE9, 1}}) {
        EXPECT_EQ(CharacterWidth(codePoint), width)
            << std::hex << static_cast<unsigned long>(codePoint);
    }
}

TEST(Table, CellsEscapeControlAndInvalidBytes) {
    EXPECT_EQ(TableCell("a\tb\x01"
                        "c\xFF\0"s),
              "a\\tb\\x01c\\xFF\\x00");
    EXPECT_EQ(TableCell("\xE2\x82\xAC ok"), "\xE2\x82\xAC ok");
    // DEL, the C1 and the bidirectional controls, each beside a neighbour that stays.
    EXPECT_EQ(TableCell("~\x7F\xC2\x80\xC2\x9F\xC2\xA0\xD8\x9B\xD8\x9C\xE2\x80\x8D\xE2\x80\x8E"
                        "\xE2\x80\x8F\xE2\x80\x90\xE2\x80\xA9\xE2\x80\xAA\xE2\x80\xAE\xE2\x80\xAF"
                        "\xE2\x81\xA5\xE2\x81\xA6\xE2\x81\xA9\xE2\x81\xAA"),
              "~\\x7F\\u0080\\u009F\xC2\xA0\xD8\x9B\\u061C\xE2\x80\x8D\\u200E"
              "\\u200F\xE2\x80\x90\xE2\x80\xA9\\u202A\\u202E\xE2\x80\xAF"
              "\xE2\x81\xA5\\u2066\\u2069\xE2\x81\xAA");
}

}  // namespace
}  // namespace jrtool
