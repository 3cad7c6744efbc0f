// One job result, as the writer stores it and the readers hand it out.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECORD_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECORD_H

#include <string>

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

// Empties every field, keeping the strings' capacity: the readers leave a
// field that a record lacks as it was, so a record reused for each read is
// cleared before it.
inline void ClearRecord(JobResults& record) {
    record.ClientName.clear();
    record.Url.clear();
    record.BackupJobId.clear();
    record.ErrorString.clear();
    record.Size = 0;
}

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECORD_H
