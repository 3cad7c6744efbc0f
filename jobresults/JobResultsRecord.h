// One job result, as the writer stores it and the readers hand it out.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECORD_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECORD_H

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

#include "jobresults/JobResultsNames.h"

// Strings are stored and returned byte for byte, trimmed of surrounding
// blanks, tabs and line breaks when read back.
struct JobResults {
    std::string ClientName;
    std::string Url;
    std::string BackupJobId;
    std::string ErrorString;
    unsigned long long Size = 0;
};

namespace jobresults {

// How a field's value is kept: text, byte for byte, or an unsigned number,
// written as its shortest decimal digits.
enum class FieldKind { kText, kNumber };

// One field of a record: its element's tag and the member that holds its
// value (`text` for kText, `number` for kNumber; the other is null).
struct RecordField {
    std::string_view tag;
    FieldKind kind;
    std::string JobResults::*text;
    unsigned long long JobResults::*number;
};

// The fields in the order a writer stores them. The writer, both readers,
// the check of a file and the refusal of values no file can hold follow
// this table, and the header's element declarations are checked against it
// when the library is built; the tool's columns and the Python module's
// fields map onto it.
inline constexpr RecordField kRecordFields[] = {
    {kClientNameTag, FieldKind::kText, &JobResults::ClientName, nullptr},
    {kUrlTag, FieldKind::kText, &JobResults::Url, nullptr},
    {kBackupJobIdTag, FieldKind::kText, &JobResults::BackupJobId, nullptr},
    {kErrorStringTag, FieldKind::kText, &JobResults::ErrorString, nullptr},
    {kSizeTag, FieldKind::kNumber, nullptr, &JobResults::Size},
};
inline constexpr std::size_t kRecordFieldCount = std::size(kRecordFields);

// Empties every field, keeping the strings' capacity: the readers leave a
// field that a record lacks as it was, so a record reused for each read is
// cleared before it.
inline void ClearRecord(JobResults& record) {
    for (const RecordField& field : kRecordFields) {
        if (field.kind == FieldKind::kText) {
            (record.*field.text).clear();
        } else {
            record.*field.number = 0;
        }
    }
}

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECORD_H
