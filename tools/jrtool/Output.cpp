#include "jrtool/Output.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string_view>

#include "jobresults/JobResultsTally.h"
#include "jrtool/Input.h"

namespace jrtool {

// --- machine-readable formats -------------------------------------------

nlohmann::ordered_json RecordToJson(const JobResults& record) {
    nlohmann::ordered_json object;
    for (std::size_t column = 0; column < kColumnCount; ++column) {
        const jobresults::RecordField& field = jobresults::kRecordFields[column];
        if (field.kind == jobresults::FieldKind::kText) {
            object[kColumnNames[column]] = ToValidUtf8(record.*field.text);
        } else {
            object[kColumnNames[column]] = record.*field.number;
        }
    }
    return object;
}

std::string DumpJson(const nlohmann::ordered_json& value, int indent) {
    // The strict handler stays on: every string went through ToValidUtf8,
    // so a throw here would be a fault of this tool, not of the data.
    return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
}

namespace {

// Bytes that stand for themselves inside a JSON string: printable ASCII but
// the quote and the backslash. Control bytes get escapes, and bytes from
// 0x80 on are checked as UTF-8.
constexpr std::array<bool, 256> kPlainJsonBytes = [] {
    std::array<bool, 256> plain{};
    for (std::size_t byte = 0x20; byte < 0x80; ++byte) plain[byte] = byte != '"' && byte != '\\';
    return plain;
}();

// The escapes DumpJson writes: the short ones JSON has, \u00xx for the other
// control bytes.
void AppendJsonEscape(unsigned char byte, std::string& out) {
    static const char kHex[] = "0123456789abcdef";
    static constexpr std::string_view kShort = "\"\\\b\f\n\r\t", kLetters = "\"\\bfnrt";
    const std::size_t at = kShort.find(static_cast<char>(byte));
    if (at != std::string_view::npos) {
        out += '\\';
        out += kLetters[at];
        return;
    }
    const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
    out.append(escape, sizeof escape);
}

// The JSON text of what ToValidUtf8 makes of the single byte at `at`: a
// stray byte's escape, with its backslash escaped for JSON, or the byte's
// JSON escape, twice for a backslash that is doubled.
void AppendJsonOfByte(const std::string& bytes, std::size_t at, bool stray, std::string& out) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (stray) {
        out += '\\';
        AppendByteEscape(byte, out);
        return;
    }
    AppendJsonEscape(byte, out);
    if (byte == '\\' && BackslashDoubled(bytes, at + 1)) AppendJsonEscape(byte, out);
}

}  // namespace

void AppendJsonString(const std::string& bytes, std::string& out) {
    out += '"';
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        std::size_t plainEnd = i;
        while (plainEnd < size && kPlainJsonBytes[static_cast<unsigned char>(bytes[plainEnd])]) {
            ++plainEnd;
        }
        out.append(bytes, i, plainEnd - i);
        i = plainEnd;
        if (i == size) break;
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = byte < 0x80 ? 1 : Utf8SequenceLength(bytes, i);
        if (length <= 1) {
            AppendJsonOfByte(bytes, i, length == 0, out);
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    out += '"';
}

namespace {

// "name": with a comma in front of every member but the first.
void AppendKey(Column column, std::string& out) {
    if (column != kClientColumn) out += ',';
    out += '"';
    out += kColumnNames[column];
    out += "\":";
}

}  // namespace

void AppendRecordMembers(const JobResults& record, std::string& out) {
    for (std::size_t column = 0; column < kColumnCount; ++column) {
        const jobresults::RecordField& field = jobresults::kRecordFields[column];
        AppendKey(static_cast<Column>(column), out);
        if (field.kind == jobresults::FieldKind::kText) {
            AppendJsonString(record.*field.text, out);
        } else {
            char digits[24];
            const auto end =
                std::to_chars(digits, digits + sizeof digits, record.*field.number).ptr;
            out.append(digits, static_cast<std::size_t>(end - digits));
        }
    }
}

void JsonArrayStream::Add(const nlohmann::ordered_json& element) {
    m_out << (m_empty ? "[\n  " : ",\n  ");
    m_empty = false;
    // JSON strings hold no raw line break, so every one in the text is
    // layout, indented one level deeper inside the array.
    const std::string text = DumpJson(element, 2);
    std::size_t start = 0;
    for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        m_out.write(text.data() + start, static_cast<std::streamsize>(end + 1 - start)) << "  ";
        start = end + 1;
    }
    m_out.write(text.data() + start, static_cast<std::streamsize>(text.size() - start));
}

void JsonArrayStream::End() { m_out << (m_empty ? "[]\n" : "\n]\n"); }

std::string CsvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

namespace {

class JsonArrayPrinter : public RecordPrinter {
public:
    explicit JsonArrayPrinter(std::ostream& out) : RecordPrinter(out), m_array(out) {}
    void Add(const JobResults& record) override { m_array.Add(RecordToJson(record)); }
    void End() override { m_array.End(); }

private:
    JsonArrayStream m_array;
};

// The bytes of a record's text values, which its JSON line takes at least.
std::size_t TextBytes(const JobResults& record) {
    std::size_t bytes = 0;
    for (const jobresults::RecordField& field : jobresults::kRecordFields) {
        if (field.kind == jobresults::FieldKind::kText) bytes += (record.*field.text).size();
    }
    return bytes;
}

// Lines are gathered in one buffer and written in large pieces: a stream
// insertion per line would cost more than encoding it.
class JsonLinesPrinter : public RecordPrinter {
public:
    using RecordPrinter::RecordPrinter;
    void Add(const JobResults& record) override {
        // A record larger than the buffer goes into one of its own size,
        // not into one doubled past it.
        const std::size_t values = TextBytes(record);
        if (m_buffer.size() + values > std::max(m_buffer.capacity(), kFlushSize)) {
            Flush();
            m_buffer.reserve(values + kFlushSize);
        }
        m_buffer += '{';
        AppendRecordMembers(record, m_buffer);
        m_buffer += "}\n";
        if (m_buffer.size() >= kFlushSize) Flush();
    }
    void End() override { Flush(); }

private:
    static constexpr std::size_t kFlushSize = std::size_t{64} << 10;

    void Flush() {
        m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
        m_buffer.clear();
    }

    std::string m_buffer;
};

// CSV and TSV: a header line naming the columns, then a line for each
// record with its values made fit for the format by `field`.
class DelimitedPrinter : public RecordPrinter {
public:
    using FieldText = std::string (*)(const std::string&);
    DelimitedPrinter(std::ostream& out, char separator, const char* lineEnd, FieldText field)
        : RecordPrinter(out), m_separator(separator), m_lineEnd(lineEnd), m_field(field) {}
    void Begin() override {
        for (std::size_t column = 0; column < kColumnCount; ++column) {
            if (column > 0) m_out << m_separator;
            m_out << kColumnNames[column];
        }
        m_out << m_lineEnd;
    }
    void Add(const JobResults& record) override {
        for (std::size_t column = 0; column < kColumnCount; ++column) {
            const jobresults::RecordField& field = jobresults::kRecordFields[column];
            if (column > 0) m_out << m_separator;
            if (field.kind == jobresults::FieldKind::kText) {
                m_out << m_field(record.*field.text);
            } else {
                m_out << record.*field.number;
            }
        }
        m_out << m_lineEnd;
    }

private:
    char m_separator;
    const char* m_lineEnd;
    FieldText m_field;
};

}  // namespace

std::unique_ptr<RecordPrinter> MakeStreamingPrinter(const std::string& format, std::ostream& out) {
    if (format == "json") return std::make_unique<JsonArrayPrinter>(out);
    if (format == "jsonl") return std::make_unique<JsonLinesPrinter>(out);
    if (format == "csv") return std::make_unique<DelimitedPrinter>(out, ',', "\r\n", CsvField);
    if (format == "tsv") return std::make_unique<DelimitedPrinter>(out, '\t', "\n", EscapeTsvValue);
    return nullptr;
}

// --- for people ---------------------------------------------------------

namespace {

constexpr std::size_t kColumns = kTableColumns;
using Row = std::array<std::string, kColumns>;
// Numbers read best right-aligned.
constexpr std::array<bool, kColumns> kRightAligned = {false, false, true, true, false, false};

Row RowOf(const JobResults& record) {
    return {TableCell(record.ClientName), TableCell(record.BackupJobId),
            std::to_string(record.Size),  HumanSize(record.Size),
            TableCell(record.Url),        TableCell(record.ErrorString)};
}

const Row kHeader = {"CLIENT", "JOB ID", "BYTES", "SIZE", "URL", "ERROR"};

void WriteRow(const Row& row, const std::array<std::size_t, kColumns>& widths, std::ostream& out) {
    std::string line;
    for (std::size_t column = 0; column < kColumns; ++column) {
        const std::string padding(widths[column] - DisplayWidth(row[column]), ' ');
        if (column > 0) line += "  ";
        if (kRightAligned[column]) {
            line += padding + row[column];
        } else {
            line += row[column] + padding;
        }
    }
    // An empty last cell would leave the separator dangling.
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
}

// Totals of the records printed, for the line under the table.
class Summary {
public:
    void Count(const JobResults& record) {
        const auto maximum = std::numeric_limits<unsigned long long>::max();
        // Saturates rather than wraps: a sum past 16 EiB means bad data.
        m_total = record.Size > maximum - m_total ? maximum : m_total + record.Size;
        if (!jobresults::Succeeded(record)) ++m_failed;
        ++m_records;
    }

    std::string Text() const {
        return std::to_string(m_records) + (m_records == 1 ? " record, " : " records, ") +
               std::to_string(m_failed) + " with errors, " + HumanSize(m_total) + " in total";
    }

private:
    std::size_t m_records = 0;
    std::size_t m_failed = 0;
    unsigned long long m_total = 0;
};

class TablePrinter : public RecordPrinter {
public:
    TablePrinter(const TableLayout& layout, std::ostream& out)
        : RecordPrinter(out), m_widths(layout.Widths()) {}
    void Begin() override { WriteRow(kHeader, m_widths, m_out); }
    void Add(const JobResults& record) override {
        WriteRow(RowOf(record), m_widths, m_out);
        m_summary.Count(record);
    }
    void End() override { m_out << m_summary.Text() << '\n'; }

private:
    std::array<std::size_t, kColumns> m_widths;
    Summary m_summary;
};

}  // namespace

std::string TableCell(const std::string& value) {
    return ShownEscaped(value, LineBreaks::kEscaped);
}

TableLayout::TableLayout() {
    for (std::size_t column = 0; column < kColumns; ++column) {
        m_widths[column] = DisplayWidth(kHeader[column]);
    }
}

void TableLayout::Measure(const JobResults& record) {
    const Row row = RowOf(record);
    for (std::size_t column = 0; column < kColumns; ++column) {
        m_widths[column] = std::max(m_widths[column], DisplayWidth(row[column]));
    }
}

std::unique_ptr<RecordPrinter> MakeTablePrinter(const TableLayout& layout, std::ostream& out) {
    return std::make_unique<TablePrinter>(layout, out);
}

std::string HumanSize(unsigned long long bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    // Integer division picks the unit, so that the unit never depends on
    // floating-point rounding; only the shown decimal is rounded.
    unsigned long long whole = bytes;
    int unit = 0;
    while (whole >= 1024 && unit < 6) {
        whole /= 1024;
        ++unit;
    }
    double value = static_cast<double>(bytes);
    for (int i = 0; i < unit; ++i) value /= 1024.0;
    // 1023.96 KiB would print as "1024.0 KiB"; show it as the next unit.
    if (value >= 1023.95 && unit < 6) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string FormatUtcTime(long long seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[64];
    if (gmtime_r(&time, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        return "@" + std::to_string(seconds);
    }
    return text;
}

}  // namespace jrtool
