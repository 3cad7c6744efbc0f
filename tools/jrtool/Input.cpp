#include "jrtool/Input.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "jrtool/Text.h"

namespace jrtool {

// --- TSV text -----------------------------------------------------------

std::string EscapeTsvValue(const std::string& value) {
    return ReplaceBytes(value, "\\\t\n\r", {"\\\\", "\\t", "\\n", "\\r"});
}

std::string UnescapeTsvValue(const std::string& text) {
    static constexpr std::string_view kLetters = "\\tnr", kMeant = "\\\t\n\r";
    std::string value;
    value.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t escape =
            text[i] == '\\' && i + 1 < text.size() ? kLetters.find(text[i + 1]) : std::string::npos;
        if (escape == std::string::npos) {
            value += text[i];
        } else {
            value += kMeant[escape];
            ++i;
        }
    }
    return value;
}

std::vector<std::string> SplitTsvLine(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == '\t') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// --- records ------------------------------------------------------------

namespace {

// Size cells; values themselves are stored untrimmed.
std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Header cells compare without case, blanks and underscores: "Job ID",
// "job_id" and "JobId" all name the third column.
std::string HeaderWord(const std::string& cell) {
    std::string word;
    for (char c : cell) {
        if (c != ' ' && c != '_' && c != '\t')
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return word;
}

std::string WithoutCarriageReturn(const std::string& line) {
    if (!line.empty() && line.back() == '\r') return line.substr(0, line.size() - 1);
    return line;
}

// nlohmann's messages start with "[json.exception.parse_error.101] ".
std::string WithoutExceptionTag(const std::string& message) {
    if (message.empty() || message[0] != '[') return message;
    const auto end = message.find("] ");
    return end == std::string::npos ? message : message.substr(end + 2);
}

bool SizeFromJson(const nlohmann::json& value, unsigned long long& size) {
    if (value.is_number_unsigned()) {
        size = value.get<unsigned long long>();
        return true;
    }
    if (value.is_number_integer()) {
        const auto number = value.get<long long>();
        if (number < 0) return false;
        size = static_cast<unsigned long long>(number);
        return true;
    }
    // Digits in a string too, for producers that quote numbers above 2^53.
    return value.is_string() && ParseDecimal(value.get<std::string>(), size);
}

// "client, url, job_id, error, size".
std::string ColumnList() {
    std::string list;
    for (const char* name : kColumnNames) list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

bool StringFromJson(const nlohmann::json& object, const char* key, bool required,
                    std::string& value, std::string& fault) {
    const auto found = object.find(key);
    if (found == object.end() || (!required && found->is_null())) {
        if (required) fault = std::string("missing key \"") + key + "\"";
        return !required;
    }
    if (!found->is_string()) {
        fault = std::string("key \"") + key + "\" must be a string";
        return false;
    }
    value = found->get<std::string>();
    return true;
}

// The fault of a number column whose value is `shown`.
std::string NotANumber(std::size_t column, const std::string& shown) {
    return std::string(kColumnNames[column]) + " " + shown +
           " is not a whole number of bytes (0 to 2^64-1)";
}

bool NumberFromJson(const nlohmann::json& object, Column column, unsigned long long& value,
                    std::string& fault) {
    const char* key = kColumnNames[column];
    const auto found = object.find(key);
    if (found == object.end()) {
        fault = std::string("missing key \"") + key + "\"";
        return false;
    }
    if (!SizeFromJson(*found, value)) {
        fault = NotANumber(column, found->dump());
        return false;
    }
    return true;
}

bool FieldFromJson(const nlohmann::json& object, Column column, JobResults& record,
                   std::string& fault) {
    const jobresults::RecordField& field = jobresults::kRecordFields[column];
    if (field.kind == jobresults::FieldKind::kNumber) {
        return NumberFromJson(object, column, record.*field.number, fault);
    }
    return StringFromJson(object, kColumnNames[column], column != kOptionalJsonColumn,
                          record.*field.text, fault);
}

bool CheckKeys(const nlohmann::json& object, std::string& fault) {
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* name : kColumnNames) known = known || item.key() == name;
        if (!known) {
            fault = "unknown key \"" + item.key() + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace

InputFormat DetectInputFormat(const std::string& firstLine) {
    const auto first = firstLine.find_first_not_of(" \t\r");
    return first != std::string::npos && firstLine[first] == '{' ? InputFormat::kJsonLines
                                                                 : InputFormat::kTsv;
}

std::optional<TsvColumns> ParseTsvHeader(const std::string& line, std::string& fault) {
    const auto cells = SplitTsvLine(WithoutCarriageReturn(line));
    TsvColumns columns{};
    std::array<bool, kColumnCount> named{};
    std::size_t known = 0;
    for (std::size_t cell = 0; cell < cells.size(); ++cell) {
        for (std::size_t column = 0; column < kColumnCount; ++column) {
            if (HeaderWord(cells[cell]) != HeaderWord(kColumnNames[column])) continue;
            ++known;
            if (!named[column]) columns[column] = cell;
            named[column] = true;
        }
    }
    const bool each = std::find(named.begin(), named.end(), false) == named.end();
    if (each && known == kColumnCount && cells.size() == kColumnCount) return columns;
    // One cell that matches a name is likely data ("error" as an error text).
    if (known >= 2) {
        fault =
            "a header line names each of the columns client, url, job_id, error and size "
            "once, in any order";
    }
    return std::nullopt;
}

bool ParseTsvRecord(const std::string& line, JobResults& record, std::string& fault,
                    const TsvColumns& columns) {
    const std::string text = WithoutCarriageReturn(line);
    if (text.find_first_not_of("\t ") == std::string::npos) {
        fault = "only tabs and blanks, no values (a record needs at least its size)";
        return false;
    }
    const auto fields = SplitTsvLine(text);
    if (fields.size() != kColumnCount) {
        fault = "expected 5 tab-separated fields (client, url, job id, error, size), found " +
                std::to_string(fields.size());
        return false;
    }
    for (std::size_t column = 0; column < kColumnCount; ++column) {
        const jobresults::RecordField& field = jobresults::kRecordFields[column];
        const std::string& cell = fields[columns[column]];
        if (field.kind == jobresults::FieldKind::kText) {
            record.*field.text = UnescapeTsvValue(cell);
        } else if (!ParseDecimal(Trimmed(cell), record.*field.number)) {
            fault = NotANumber(column, '"' + Trimmed(cell) + '"');
            return false;
        }
    }
    return true;
}

bool ParseJsonRecord(const std::string& line, JobResults& record, std::string& fault) {
    nlohmann::json object;
    try {
        object = nlohmann::json::parse(line);
    } catch (const nlohmann::json::parse_error& error) {
        fault = "invalid JSON: " + WithoutExceptionTag(error.what());
        return false;
    }
    if (!object.is_object()) {
        fault = "expected a JSON object with the keys " + ColumnList();
        return false;
    }
    if (!CheckKeys(object, fault)) return false;
    for (std::size_t column = 0; column < kColumnCount; ++column) {
        if (!FieldFromJson(object, static_cast<Column>(column), record, fault)) return false;
    }
    return true;
}

RecordStream::RecordStream(std::istream& input, std::optional<InputFormat> forcedFormat)
    : m_input(input), m_format(forcedFormat) {}

bool RecordStream::Next(JobResults& record) {
    std::string line;
    while (std::getline(m_input, line)) {
        ++m_lineNumber;
        // Spreadsheet exports often open with a UTF-8 byte order mark.
        if (m_lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        // Tabs separate TSV fields: a line of them is no blank line there.
        const bool tsv = m_format.value_or(InputFormat::kTsv) == InputFormat::kTsv;
        if (line.find_first_not_of(tsv ? " \r" : " \t\r") == std::string::npos) continue;
        const bool firstLine = !m_sawContent;
        m_sawContent = true;
        if (!m_format) m_format = DetectInputFormat(line);
        if (firstLine && *m_format == InputFormat::kTsv) {
            if (const auto header = ParseTsvHeader(line, m_fault)) {
                m_columns = *header;
                continue;
            }
        }
        if (!m_fault.empty() || !ParseLine(line, record)) {
            m_fault = "line " + std::to_string(m_lineNumber) + ": " + m_fault;
            return false;
        }
        return true;
    }
    return false;
}

bool RecordStream::ParseLine(const std::string& line, JobResults& record) {
    record = JobResults{};
    return *m_format == InputFormat::kTsv ? ParseTsvRecord(line, record, m_fault, m_columns)
                                          : ParseJsonRecord(line, record, m_fault);
}

}  // namespace jrtool
