// Reading records from text, one record a line: TSV with the columns
// client, url, job id, error, size (or in the order an optional header line
// names them), or JSON Lines with objects keyed client, url, job_id, error,
// size. Blank lines are skipped; a TSV line of only tabs is refused, as it
// holds no size. Values that a job results file cannot carry intact are the
// store's to refuse.
//
// Escaping of values in tab-separated text. A value may hold tabs and line
// breaks, which TSV cannot carry raw, so they travel as the escapes \t, \n,
// \r, and a backslash as \\. On input a backslash followed by anything else
// stays a plain backslash, so Windows paths such as C:\Backups need no
// doubling (only C:\new or C:\temp would).
#ifndef JRTOOL_INPUT_H
#define JRTOOL_INPUT_H

#include <array>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "jobresults/JobResultsRecord.h"
#include "jobresults/cijobresults.h"

namespace jrtool {

// The columns of the tool's record formats: the header cells of TSV and
// CSV, and the keys of JSON. Column i holds the record's field
// jobresults::kRecordFields[i], so the formats follow the record's table;
// only the names are the tool's own.
enum Column : std::size_t { kClientColumn, kUrlColumn, kJobIdColumn, kErrorColumn, kSizeColumn };
inline constexpr std::size_t kColumnCount = jobresults::kRecordFieldCount;
inline constexpr std::array<const char*, kColumnCount> kColumnNames = {"client", "url", "job_id",
                                                                       "error", "size"};
static_assert(jobresults::kRecordFields[kClientColumn].tag == jobresults::kClientNameTag &&
                  jobresults::kRecordFields[kErrorColumn].tag == jobresults::kErrorStringTag &&
                  jobresults::kRecordFields[kSizeColumn].tag == jobresults::kSizeTag,
              "the tool's columns follow the record's fields");

// A JSON object may leave this column out: an empty error text means the
// job succeeded.
inline constexpr Column kOptionalJsonColumn = kErrorColumn;

// --- TSV text -----------------------------------------------------------

std::string EscapeTsvValue(const std::string& value);
std::string UnescapeTsvValue(const std::string& text);

// Splits a line at every tab; n tabs give n + 1 fields.
std::vector<std::string> SplitTsvLine(const std::string& line);

// --- records ------------------------------------------------------------

enum class InputFormat { kTsv, kJsonLines };

// JSON Lines when the line starts with "{" (after blanks), else TSV.
InputFormat DetectInputFormat(const std::string& firstLine);

// Which field of a TSV line holds each column, in the order of
// kColumnNames.
using TsvColumns = std::array<std::size_t, kColumnCount>;
inline constexpr TsvColumns kTsvColumnsInOrder = {0, 1, 2, 3, 4};

// Line parsers: true with `record` filled, or false with `fault` set.
bool ParseTsvRecord(const std::string& line, JobResults& record, std::string& fault,
                    const TsvColumns& columns = kTsvColumnsInOrder);
bool ParseJsonRecord(const std::string& line, JobResults& record, std::string& fault);

// The column order of a header line, whose cells name the five columns
// once each, in any order (case, blanks and underscores aside). nullopt for
// a line that is no header; then `fault` is set when the line names some
// columns but not each once.
std::optional<TsvColumns> ParseTsvHeader(const std::string& line, std::string& fault);

// Pulls records from a stream, keeping the line number for messages.
class RecordStream {
public:
    RecordStream(std::istream& input, std::optional<InputFormat> forcedFormat);

    // True with the next record; false at the end of the input or at a
    // malformed line, which Fault() then describes.
    bool Next(JobResults& record);
    // "line N: what is wrong", empty when the input ended cleanly.
    const std::string& Fault() const { return m_fault; }
    // The line of the record that Next gave last.
    std::size_t LineNumber() const { return m_lineNumber; }

private:
    bool ParseLine(const std::string& line, JobResults& record);

    std::istream& m_input;
    std::optional<InputFormat> m_format;
    TsvColumns m_columns = kTsvColumnsInOrder;
    std::size_t m_lineNumber = 0;
    bool m_sawContent = false;
    std::string m_fault;
};

}  // namespace jrtool

#endif
