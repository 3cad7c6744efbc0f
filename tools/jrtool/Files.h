// Job results files for the tool: how they are named and found, and the
// wrappers around the library's readers and writer.
//
// The store builds every path as directory name + "\" + file name, so on
// POSIX the backslash is part of the file name:
// "/var/ci/results\ci_push_1700000000.xml" is the file
// "results\ci_push_1700000000.xml" in "/var/ci".
#ifndef JRTOOL_FILES_H
#define JRTOOL_FILES_H

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include "jobresults/JobResultsFiles.h"
#include "jobresults/JobResultsNames.h"
#include "jobresults/JobResultsPaths.h"
#include "jobresults/JobResultsProgress.h"
#include "jobresults/JobResultsReader.h"
#include "jobresults/JobResultsReasons.h"
#include "jobresults/JobResultsSalvage.h"
#include "jobresults/cijobresults.h"

namespace jrtool {

using jobresults::WithReason;

// The store's message for its last failure, with the reason `error` of a
// failed system call.
std::string StoreError(const CCIJobResults& store, int error);

// --- naming -------------------------------------------------------------

using ResultsFilePath = jobresults::ResultsPath;

// --- directory names and listing ------------------------------------------

// Users pass directories by habit where a directory name is expected. For a
// directory name that is empty, an existing directory or ends in "/", the
// text that says what it means and what to pass instead (the library's
// note, or for an empty one the default of the metrics service's
// settings); nullopt for others.
std::optional<jobresults::DirectoryNameNote> NoteOnDirectoryName(const std::string& dirName);

// --- salvage's temporary copies -------------------------------------------

// --- reading ------------------------------------------------------------

// A job results file read one record at a time through the library's
// streaming reader, strictly: damage is found where check finds it, and
// memory stays the same whatever the size of the file.
class RecordSource {
public:
    RecordSource() { m_reader.setStrict(true); }
    // Opens the file and reads up to its first record. False, with Error(),
    // when it is not a regular file, cannot be opened or read, or is
    // damaged before its first record.
    bool Open(const ResultsFilePath& file);
    // The next record into `record`, reset first: the reader leaves a field
    // that a record lacks as it was. False at the end of the records or
    // where the damage begins.
    bool Next(JobResults& record);

    std::size_t Delivered() const { return m_delivered; }
    // After Next returned false: the reader accepts the whole file.
    bool Valid() const { return m_reader.ok(); }
    // The reader's message, with the system's reason for a failed call.
    std::string Error() const;
    // The reader refused the content (rather than a system call failing):
    // then Check() says where the damage begins.
    bool Damaged() const;
    // After Next returned false: the verdict as the check of the file.
    jobresults::FileCheck Check() const { return m_reader.check(); }

private:
    JobResultsReader m_reader;
    std::size_t m_delivered = 0;
};

// "damaged at byte N (line L): what" for the damage `check` found in the
// file at `path`; without the line unless `withLine` (or when it cannot be
// counted).
std::string DamagedAt(const std::string& path, const jobresults::FileCheck& check, bool withLine);

// A reader's message with the system's reason for `errorNumber`.
std::string ReaderError(const std::string& message, int errorNumber);

// What a reading on from a progress found wrong with `file`: "damaged at
// byte N[ (line L)]: what", or the failed call; empty when nothing.
std::string ProblemText(const jobresults::ResultsFile& file,
                        const jobresults::ProgressOutcome& outcome, bool withLine);

// --- writing ------------------------------------------------------------

// Why a file named by a plain path gets no copy without a directory name.
inline constexpr char kNoDirectoryNameMessage[] =
    "a new file needs a directory name, and none was given (for a file named by a plain path, "
    "salvage needs --out)";

// Why a file the store said it wrote under `dirName` is not there.
std::string NoCreatedFileMessage(const std::string& dirName);

// Writes records into a new job results file through the store's writer,
// and finds the path of the file that the store created.
class ResultsWriter {
public:
    explicit ResultsWriter(std::string dirName);

    // Appends one record; the first creates the file. False with Error().
    bool Add(const JobResults& record);
    // Finishes the file; true when nothing was written.
    bool Save();
    // The store's sync level for the file it creates, and the one in progress.
    bool SetSync(JobResultsSync level);
    // Every record added so far on the disk (a group commit). False with Error().
    bool Sync();

    bool Created() const { return !m_createdPath.empty(); }
    // The whole path of the created file; empty before the first append.
    const std::string& CreatedPath() const { return m_createdPath; }
    const std::string& Error() const { return m_error; }

private:
    bool AddFirst(const JobResults& record);
    // True for the store's 1; otherwise Error() takes the store's message.
    bool Succeeded(int storeResult);

    std::string m_dirName;
    CCIJobResults m_store;
    bool m_directorySet = false;
    std::string m_createdPath;
    std::string m_error;
};

}  // namespace jrtool

#endif
