#include "jrtool/RecordTable.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "jrtool/HumanSize.h"
#include "jrtool/Utf8Text.h"

namespace jrtool {

namespace {

constexpr std::size_t kColumns = 6;
using Row = std::array<std::string, kColumns>;
// Numbers read best right-aligned.
constexpr std::array<bool, kColumns> kRightAligned = {false, false, true, true, false, false};

std::string ControlEscape(char c) {
    switch (c) {
        case '\t':
            return "\\t";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        default: {
            char text[8];
            std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned char>(c));
            return text;
        }
    }
}

Row RowOf(const JobResults& record) {
    return {TableCell(record.ClientName), TableCell(record.BackupJobId),
            std::to_string(record.Size),  HumanSize(record.Size),
            TableCell(record.Url),        TableCell(record.ErrorString)};
}

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

std::string Summary(const std::vector<JobResults>& records) {
    unsigned long long total = 0;
    std::size_t failed = 0;
    const auto maximum = std::numeric_limits<unsigned long long>::max();
    for (const auto& record : records) {
        // Saturates rather than wraps: a sum past 16 EiB means bad data.
        total = record.Size > maximum - total ? maximum : total + record.Size;
        if (!record.ErrorString.empty()) ++failed;
    }
    return std::to_string(records.size()) + (records.size() == 1 ? " record, " : " records, ") +
           std::to_string(failed) + " with errors, " + HumanSize(total) + " in total";
}

}  // namespace

std::string TableCell(const std::string& value) {
    std::string cell;
    for (std::size_t i = 0; i < value.size();) {
        const auto byte = static_cast<unsigned char>(value[i]);
        const std::size_t length = Utf8SequenceLength(value, i);
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            cell += ControlEscape(value[i]);
            ++i;
        } else {
            cell.append(value, i, length);
            i += length;
        }
    }
    return cell;
}

void WriteTable(const std::vector<JobResults>& records, std::ostream& out) {
    std::vector<Row> rows;
    rows.push_back({"CLIENT", "JOB ID", "BYTES", "SIZE", "URL", "ERROR"});
    for (const auto& record : records) rows.push_back(RowOf(record));
    std::array<std::size_t, kColumns> widths{};
    for (const auto& row : rows) {
        for (std::size_t column = 0; column < kColumns; ++column) {
            widths[column] = std::max(widths[column], DisplayWidth(row[column]));
        }
    }
    for (const auto& row : rows) WriteRow(row, widths, out);
    out << Summary(records) << '\n';
}

}  // namespace jrtool
