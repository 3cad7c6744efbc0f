// The byte layout in which the round-trip target receives job results, and
// its inverse for the seed corpus:
//
//   flags byte, then records separated by 0x1E; within a record the fields
//   ClientName, Url, BackupJobId, ErrorString and Size are separated by
//   0x1F. Size is decimal digits (other bytes are skipped; it wraps modulo
//   2^64). Missing fields are empty, extra fields are ignored.
//
// Bit 0 of the flags asks for an explicit save; without it the writer's
// destructor finishes the file.
#ifndef CIJOBRESULTS_FUZZ_RECORD_CODEC_H
#define CIJOBRESULTS_FUZZ_RECORD_CODEC_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jobresults/cijobresults.h"

namespace recordcodec {

constexpr char kRecordSeparator = '\x1e';
constexpr char kFieldSeparator = '\x1f';
constexpr uint8_t kFlagSave = 1;

inline std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

inline unsigned long long DecimalWrapping(std::string_view digits) {
    unsigned long long value = 0;
    for (const char byte : digits) {
        if (byte >= '0' && byte <= '9') value = value * 10 + static_cast<unsigned>(byte - '0');
    }
    return value;
}

// "<" and NUL are dropped from the values: markup cannot come back as
// written (a value holding an end tag ends its element early), and the
// writer refuses a NUL byte. Every other byte is stored and read back.
inline std::string PlainValue(std::string_view value) {
    std::string plain;
    for (const char byte : value) {
        if (byte != '<' && byte != '\0') plain.push_back(byte);
    }
    return plain;
}

inline JobResults DecodeRecord(std::string_view text) {
    const std::vector<std::string_view> fields = Split(text, kFieldSeparator);
    auto field = [&fields](size_t i) { return i < fields.size() ? fields[i] : std::string_view(); };
    JobResults record;
    record.ClientName = PlainValue(field(0));
    record.Url = PlainValue(field(1));
    record.BackupJobId = PlainValue(field(2));
    record.ErrorString = PlainValue(field(3));
    record.Size = DecimalWrapping(field(4));
    return record;
}

inline std::vector<JobResults> DecodeRecords(std::string_view text, size_t maxRecords) {
    std::vector<JobResults> records;
    if (text.empty()) return records;
    for (const std::string_view part : Split(text, kRecordSeparator)) {
        if (records.size() == maxRecords) break;
        records.push_back(DecodeRecord(part));
    }
    return records;
}

inline std::string Encode(uint8_t flags, const std::vector<JobResults>& records) {
    std::string out(1, static_cast<char>(flags));
    for (size_t i = 0; i < records.size(); ++i) {
        if (i > 0) out += kRecordSeparator;
        const JobResults& r = records[i];
        out += r.ClientName + kFieldSeparator + r.Url + kFieldSeparator + r.BackupJobId +
               kFieldSeparator + r.ErrorString + kFieldSeparator + std::to_string(r.Size);
    }
    return out;
}

}  // namespace recordcodec

#endif  // CIJOBRESULTS_FUZZ_RECORD_CODEC_H
