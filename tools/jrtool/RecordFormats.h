// Machine-readable renderings of job results records.
//
// JSON and JSON Lines use the keys client, url, job_id, error, size in that
// order; string values go through ToValidUtf8, so any byte yields valid
// JSON. CSV follows RFC 4180 (CRLF line ends, fields with commas, quotes or
// line breaks quoted, quotes doubled). TSV uses the escapes of TsvText, so
// its output reads back through `jobresults write` unchanged.
#ifndef JRTOOL_RECORDFORMATS_H
#define JRTOOL_RECORDFORMATS_H

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jobresults/cijobresults.h"

namespace jrtool {

// Keys keep their insertion order, so output reads in column order.
nlohmann::ordered_json RecordToJson(const JobResults& record);

// Valid UTF-8 JSON text; any invalid bytes were mapped before.
std::string DumpJson(const nlohmann::ordered_json& value, int indent);

void WriteJsonArray(const std::vector<JobResults>& records, std::ostream& out);
void WriteJsonLines(const std::vector<JobResults>& records, std::ostream& out);
void WriteCsv(const std::vector<JobResults>& records, std::ostream& out);
void WriteTsv(const std::vector<JobResults>& records, std::ostream& out);

std::string CsvField(const std::string& value);

}  // namespace jrtool

#endif
