// The names of the job results format, for programs that find, name or
// check job results files themselves: the element names, the bytes that end
// a document, and how a file's name is built. Constants and inline
// functions only: nothing here needs a symbol of the library.
//
// A file is created as  dirName + kDirectorySeparator + kBaseFileName +
// kTimeSeparator + <seconds since the epoch> + kExtension,  for example
// "/var/ci/results\ci_push_1700000000.xml". The separator is a backslash on
// every platform; on POSIX it is part of the file name (see LocateOnHost).
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSNAMES_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSNAMES_H

#include <cstddef>
#include <string>
#include <string_view>

namespace jobresults {

inline constexpr std::string_view kBaseFileName = "ci_push";
inline constexpr char kTimeSeparator = '_';
inline constexpr std::string_view kExtension = ".xml";
inline constexpr char kDirectorySeparator = '\\';

inline constexpr std::string_view kRootTag = "Root";
inline constexpr std::string_view kRecordTag = "JobResult";
inline constexpr std::string_view kClientNameTag = "ClientName";
inline constexpr std::string_view kUrlTag = "Url";
inline constexpr std::string_view kBackupJobIdTag = "BackupJobId";
inline constexpr std::string_view kErrorStringTag = "ErrorString";
inline constexpr std::string_view kSizeTag = "Size";

// Closes the document after every append; the next append overwrites it.
inline constexpr std::string_view kTrailer = "</Root>";
// Replaces the trailer when the file is saved.
inline constexpr std::string_view kFinalEndTag = "\n\n</Root>";

// The naming rule: kBaseFileName, kTimeSeparator, the decimal digits of
// the creation second (at most 18, so that they fit), kExtension. Sets
// seconds when `fileName` follows it.
inline bool ParseResultsFileName(std::string_view fileName, long long& seconds) {
    const std::size_t head = kBaseFileName.size() + 1;
    if (fileName.size() <= head + kExtension.size() ||
        fileName.substr(0, kBaseFileName.size()) != kBaseFileName ||
        fileName[kBaseFileName.size()] != kTimeSeparator ||
        fileName.substr(fileName.size() - kExtension.size()) != kExtension) {
        return false;
    }
    const std::string_view digits = fileName.substr(head, fileName.size() - head - kExtension.size());
    if (digits.size() > 18) return false;
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    seconds = value;
    return true;
}

// Where the files of a directory name live on a POSIX host: everything
// after the last slash of the directory name starts the files' names. The
// directory name "/var/ci/results" gives files named
// "results\ci_push_<seconds>.xml" in "/var/ci"; "results" gives them in
// "."; "out/" gives "\ci_push_..." in "out".
struct HostLocation {
    std::string directory;   // the POSIX directory that holds the files
    std::string namePrefix;  // what their names there start with, up to the backslash
};

inline HostLocation LocateOnHost(const std::string& dirName) {
    const auto slash = dirName.rfind('/');
    if (slash == std::string::npos) return {".", dirName + kDirectorySeparator};
    const std::string directory = slash == 0 ? "/" : dirName.substr(0, slash);
    return {directory, dirName.substr(slash + 1) + kDirectorySeparator};
}

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSNAMES_H
