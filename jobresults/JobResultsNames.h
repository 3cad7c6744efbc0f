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
#include <optional>
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
    const std::string_view digits =
        fileName.substr(head, fileName.size() - head - kExtension.size());
    if (digits.size() > 18) return false;
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    seconds = value;
    return true;
}

// The creation time that a name following the rule encodes, or nullopt.
inline std::optional<long long> CreationTimeFromFileName(std::string_view fileName) {
    long long seconds = 0;
    if (!ParseResultsFileName(fileName, seconds)) return std::nullopt;
    return seconds;
}

// The name of a file created at `seconds` (decimal digits, or a stand-in
// such as "<seconds>" for help texts): "ci_push_<seconds>.xml", or the same
// after another base name (a writer's m_sFileName).
inline std::string ResultsFileName(std::string_view seconds,
                                   std::string_view baseName = kBaseFileName) {
    return std::string(baseName) + kTimeSeparator + std::string(seconds) + std::string(kExtension);
}
inline std::string ResultsFileName(long long seconds) {
    return ResultsFileName(std::to_string(seconds));
}
// "ci_push_<seconds>.xml", for messages and help texts.
inline std::string ResultsFileNamePattern() { return ResultsFileName("<seconds>"); }

// The path the readers open: directory name, separator, file name.
inline std::string JoinResultsPath(const std::string& dirName, const std::string& fileName) {
    return dirName + kDirectorySeparator + fileName;
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

// Whether the host directory's entry `entry` is a file of the directory
// name at `location`: the name prefix, then a name that follows the naming
// rule. Sets fileName to that name and seconds to its creation time.
inline bool ParseHostEntry(const HostLocation& location, std::string_view entry,
                           std::string_view& fileName, long long& seconds) {
    if (entry.substr(0, location.namePrefix.size()) != location.namePrefix) return false;
    fileName = entry.substr(location.namePrefix.size());
    return ParseResultsFileName(fileName, seconds);
}

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSNAMES_H
