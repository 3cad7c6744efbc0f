// Client summaries and totals as text fields, for callers that keep them
// between runs.
#include "jobresults/JobResultsTally.h"
#include "jobresults/detail/DecimalField.h"

namespace jobresults {
namespace {

constexpr std::size_t kSummaryFields = 7;
constexpr std::size_t kTotalsFields = 2;

}  // namespace

using detail::ParseDecimalField;

std::vector<std::string> ClientSummaryFields(const ClientSummary& s) {
    return {std::to_string(s.success),      std::to_string(s.error),
            std::to_string(s.last.created), s.last.fileName,
            std::to_string(s.last.offset),  s.lastSuccess ? "1" : "0",
            std::to_string(s.lastSize)};
}

bool ClientSummaryFromFields(const std::vector<std::string>& fields, std::size_t first,
                             ClientSummary& s) {
    if (fields.size() != first + kSummaryFields) return false;
    const std::string* f = &fields[first];
    s.last.fileName = f[3];
    s.lastSuccess = f[5] == "1";
    return ParseDecimalField(f[0], s.success) && ParseDecimalField(f[1], s.error) &&
           ParseDecimalField(f[2], s.last.created) && ParseDecimalField(f[4], s.last.offset) &&
           (f[5] == "0" || f[5] == "1") && ParseDecimalField(f[6], s.lastSize);
}

std::vector<std::string> RecordTotalsFields(const RecordTotals& totals) {
    return {std::to_string(totals.success), std::to_string(totals.error)};
}

bool RecordTotalsFromFields(const std::vector<std::string>& fields, std::size_t first,
                            RecordTotals& totals) {
    return fields.size() == first + kTotalsFields &&
           ParseDecimalField(fields[first], totals.success) &&
           ParseDecimalField(fields[first + 1], totals.error);
}

}  // namespace jobresults
