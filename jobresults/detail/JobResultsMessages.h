// Every message the store leaves in m_sErrorMsg (and the streaming reader in
// errorMessage()). Callers match these texts, so they stay exactly as they
// are, quirks included: "Erroring while reading", "jobs results data",
// "addJobResults()" with an "s", "Job results" in the append's handle
// message but "Job Results" in the save's, and no blank before "is invalid".
// A name that is empty leaves two blanks around it.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSMESSAGES_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSMESSAGES_H

#include <cerrno>
#include <string>
#include <string_view>

namespace jobresults::messages {

// --- writer -------------------------------------------------------------
inline std::string InvalidDirectoryName(const std::string& dirName) {
    return "Invalid directory name = " + dirName + " received from caller.";
}
inline std::string DirectoryNameNotSet(const std::string& dirName) {
    return "Directory name = " + dirName + " not set in addJobResults().";
}
inline std::string FileNameNotSet(const std::string& fileName) {
    return "File name = " + fileName + " not set in addJobResults().";
}
inline constexpr std::string_view kHandleWithoutFile =
    "Invalid state. Internal state indicates that file is not open but file handle is valid.";
inline std::string CreationFailed(const std::string& path) {
    return "Failed to create job results file " + path + " for writing jobs results data.";
}
inline constexpr std::string_view kAppendWithoutHandle = "Job results file handle is invalid.";
inline constexpr std::string_view kWriteFailed = "Failed to write xmlData to job results file.";
inline constexpr std::string_view kSeekFailed =
    "Failed to seek to correct location in file after adding job result.";
inline constexpr std::string_view kSaveWithoutHandle = "Job Results file handle is invalid.";
inline constexpr std::string_view kFinishFailed =
    "Failed to write xml root tag end to job results file.";
// A value that the file could not give back as written (the library's own
// message, newer than the others).
inline std::string UnreadableValue(std::string_view field, std::string_view tag) {
    return "Invalid " + std::string(field) + " received from caller: the value holds the tag " +
           std::string(tag) + ", which the job results file could not read back.";
}
inline std::string NulInValue(std::string_view field) {
    return "Invalid " + std::string(field) +
           " received from caller: the value holds a NUL byte, which a job results file cannot "
           "hold.";
}
// The sync levels (newer than the others too).
inline constexpr std::string_view kSyncFailed = "Failed to sync job results file to disk.";
inline constexpr std::string_view kInvalidSyncLevel = "Invalid sync level received from caller.";
inline std::string UnknownSyncLevel(std::string_view variable, const std::string& word) {
    return "Invalid " + std::string(variable) + " = " + word +
           " in the environment: the sync level is none, name or append.";
}

// --- readers: each head is followed by the path, or for kNoRecords by the
// file name alone ---------------------------------------------------------
inline constexpr std::string_view kOpenFailed = "Failed to open file ";
inline constexpr std::string_view kReadFailed =
    "Erroring while reading data from Job Results file ";
inline constexpr std::string_view kInvalidData = "Invalid data in Job Results file ";
inline constexpr std::string_view kNoRecords = "Invalid data/No Data found in Job Results file ";
// The head for a file the readers do not open. A directory opens, and
// only reading it fails, so it keeps the read's message that callers know;
// a FIFO, a device and a failed open have the open's.
inline constexpr std::string_view OpenRefusedHead(int error) {
    return error == EISDIR ? kReadFailed : kOpenFailed;
}
// A reader asked to resume in a file that is not the one it read.
inline constexpr std::string_view kNotTheFileRead = "Not the Job Results file read before: ";
inline std::string NoHandle(const std::string& fileName) {
    return "file handle for file " + fileName + "is invalid";
}

}  // namespace jobresults::messages

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_JOBRESULTSMESSAGES_H
