// Renderings of job results records and files for people and programs.
//
// JSON and JSON Lines use the keys client, url, job_id, error, size in that
// order; string values go through ToValidUtf8, so any byte yields valid
// JSON. CSV follows RFC 4180 (CRLF line ends, fields with commas, quotes or
// line breaks quoted, quotes doubled). TSV uses the escapes of Input.h, so
// its output reads back through `jobresults write` unchanged. The table
// that `jobresults dump` prints for people has aligned columns, sizes in
// bytes and in binary units, control characters shown as escapes so that
// every record stays on one line and reads in the order it was written
// (ShownEscaped), and a closing summary.
//
// A NUL byte is data like any other, as in the store: JSON shows it as
// \u0000, the table as \x00, and CSV and TSV carry the byte itself (TSV has
// no escape for it, and `jobresults write` reads a raw NUL back unchanged).
#ifndef JRTOOL_OUTPUT_H
#define JRTOOL_OUTPUT_H

#include <array>
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "jobresults/cijobresults.h"
#include "jrtool/Text.h"

namespace jrtool {

// --- machine-readable formats -------------------------------------------

// Keys keep their insertion order, so output reads in column order.
nlohmann::ordered_json RecordToJson(const JobResults& record);

// Valid UTF-8 JSON text; any invalid bytes were mapped before.
std::string DumpJson(const nlohmann::ordered_json& value, int indent);

// The JSON text of `bytes` mapped by ToValidUtf8, quotes included, appended
// to `out`: byte for byte what DumpJson gives for that string, written
// without building a JSON value, as the line formats print millions.
void AppendJsonString(const std::string& bytes, std::string& out);

// The members of RecordToJson's object, without the braces, appended to
// `out` as DumpJson writes them on one line.
void AppendRecordMembers(const JobResults& record, std::string& out);

// Writes a JSON array one element at a time, laid out as DumpJson with
// indent 2 lays out the whole array, so that no element is held.
class JsonArrayStream {
public:
    explicit JsonArrayStream(std::ostream& out) : m_out(out) {}
    void Add(const nlohmann::ordered_json& element);
    // Closes the array and the line.
    void End();

private:
    std::ostream& m_out;
    bool m_empty = true;
};

// --- record by record ---------------------------------------------------

// Prints records as they come: Begin once, Add for each record, End once.
class RecordPrinter {
public:
    explicit RecordPrinter(std::ostream& out) : m_out(out) {}
    virtual ~RecordPrinter() = default;
    virtual void Begin() {}
    virtual void Add(const JobResults& record) = 0;
    virtual void End() {}

protected:
    std::ostream& m_out;
};

// The formats that print a record as soon as it is read, and their printer
// (nullptr for any other name).
inline constexpr std::array<const char*, 4> kStreamingFormats = {"json", "jsonl", "csv", "tsv"};
std::unique_ptr<RecordPrinter> MakeStreamingPrinter(const std::string& format, std::ostream& out);

std::string CsvField(const std::string& value);

// --- for people ---------------------------------------------------------

constexpr std::size_t kTableColumns = 6;

// The table's column widths, measured one record at a time, so that the
// table can be printed in a second pass without holding its records.
class TableLayout {
public:
    // Starts with the widths of the header.
    TableLayout();
    void Measure(const JobResults& record);
    const std::array<std::size_t, kTableColumns>& Widths() const { return m_widths; }

private:
    std::array<std::size_t, kTableColumns> m_widths{};
};

// Prints the header, a row for each record in the widths of `layout` and,
// at End, the summary.
std::unique_ptr<RecordPrinter> MakeTablePrinter(const TableLayout& layout, std::ostream& out);

// A value as one printable line: ShownEscaped with line breaks escaped.
std::string TableCell(const std::string& value);

// Below 1024 the exact byte count; above, one decimal in the largest unit
// that keeps the number at or above 1.
std::string HumanSize(unsigned long long bytes);

// Seconds since the epoch as "YYYY-MM-DDTHH:MM:SSZ".
std::string FormatUtcTime(long long seconds);

}  // namespace jrtool

#endif
