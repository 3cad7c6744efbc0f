#include "jrtool/RecordFormats.h"

#include "jrtool/TsvText.h"
#include "jrtool/Utf8Text.h"

namespace jrtool {

nlohmann::ordered_json RecordToJson(const JobResults& record) {
    nlohmann::ordered_json object;
    object["client"] = ToValidUtf8(record.ClientName);
    object["url"] = ToValidUtf8(record.Url);
    object["job_id"] = ToValidUtf8(record.BackupJobId);
    object["error"] = ToValidUtf8(record.ErrorString);
    object["size"] = record.Size;
    return object;
}

std::string DumpJson(const nlohmann::ordered_json& value, int indent) {
    // The strict handler stays on: every string went through ToValidUtf8,
    // so a throw here would be a fault of this tool, not of the data.
    return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
}

void WriteJsonArray(const std::vector<JobResults>& records, std::ostream& out) {
    auto array = nlohmann::ordered_json::array();
    for (const auto& record : records) array.push_back(RecordToJson(record));
    out << DumpJson(array, 2) << '\n';
}

void WriteJsonLines(const std::vector<JobResults>& records, std::ostream& out) {
    for (const auto& record : records) out << DumpJson(RecordToJson(record), -1) << '\n';
}

std::string CsvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void WriteCsv(const std::vector<JobResults>& records, std::ostream& out) {
    out << "client,url,job_id,error,size\r\n";
    for (const auto& record : records) {
        out << CsvField(record.ClientName) << ',' << CsvField(record.Url) << ','
            << CsvField(record.BackupJobId) << ',' << CsvField(record.ErrorString) << ','
            << record.Size << "\r\n";
    }
}

void WriteTsv(const std::vector<JobResults>& records, std::ostream& out) {
    out << "client\turl\tjob_id\terror\tsize\n";
    for (const auto& record : records) {
        out << EscapeTsvValue(record.ClientName) << '\t' << EscapeTsvValue(record.Url) << '\t'
            << EscapeTsvValue(record.BackupJobId) << '\t' << EscapeTsvValue(record.ErrorString)
            << '\t' << record.Size << '\n';
    }
}

}  // namespace jrtool
