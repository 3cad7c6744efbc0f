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

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECORD_H
