// Job results files for the tool: how they are named and found, and the
// wrappers around the store's reader and writer.
//
// The store builds every path as directory name + "\" + file name, so on
// POSIX the backslash is part of the file name:
// "/var/ci/results\ci_push_1700000000.xml" is the file
// "results\ci_push_1700000000.xml" in "/var/ci".
#ifndef JRTOOL_FILES_H
#define JRTOOL_FILES_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobresults/cijobresults.h"

namespace jrtool {

// "message: reason" with the system's text for errno `error` (a closing
// period of the message dropped); the message alone for 0 or -1.
std::string WithReason(const std::string& message, int error);

// The store's message for its last failure, with the reason of a failed
// system call.
std::string StoreError(const CCIJobResults& store);

// --- naming -------------------------------------------------------------

// A job results file as the store's reader takes it.
struct ResultsFilePath {
    std::string dirName;
    std::string fileName;

    // Directory name, the store's separator, file name.
    std::string WholePath() const;
};

// Splits a whole path at its last backslash; nullopt when it has none or
// when either side would be empty.
std::optional<ResultsFilePath> SplitWholePath(const std::string& wholePath);

// Reads file arguments: an argument holding a backslash is a whole path; an
// argument without one is a directory name, and the argument after it is the
// file name. Returns nullopt with a message in `error` on misuse.
std::optional<std::vector<ResultsFilePath>> ParseFileArguments(
    const std::vector<std::string>& arguments, std::string& error);

// One file from one argument (a whole path) or two (a directory name and a
// file name; taken as such even when the directory name holds a backslash).
std::optional<ResultsFilePath> ParseSingleFileArguments(const std::vector<std::string>& arguments,
                                                        std::string& error);

// "ci_push_<seconds>.xml", the name the writer gives a file created at
// `seconds`.
std::string ResultsFileName(long long seconds);

// "ci_push_<seconds>.xml", for messages and help texts.
std::string ResultsFileNamePattern();

// The creation time encoded in a file name of that form, or nullopt.
std::optional<long long> CreationTimeFromFileName(const std::string& fileName);

// --- listing ------------------------------------------------------------

// On POSIX the last component of the directory name becomes the start of
// the file name: the directory name "demo/results" gives files named
// "results\ci_push_<seconds>.xml" in "demo".
struct ListedFile {
    ResultsFilePath path;
    long long createdSeconds = 0;
};

// The POSIX directory that holds the files of a directory name, and the
// prefix their names carry there.
struct HostLocation {
    std::string directory;
    std::string namePrefix;
};

HostLocation LocateOnHost(const std::string& dirName);

// Visits the entries of the host directory of `dirName` whose names are
// the directory name's prefix and a job results file name: `directory` is a
// descriptor of the host directory, `entry` the entry's name there. The
// visitor returns false to stop. Returns 0, or the errno of opening or
// reading the directory.
using ResultsFileVisitor = std::function<bool(int directory, const char* entry, ListedFile file)>;
int ForEachResultsFile(const std::string& dirName, const ResultsFileVisitor& visit);

// The files of `dirName`, oldest first. nullopt, with a message in `error`,
// when the host directory cannot be read.
std::optional<std::vector<ListedFile>> ListResultsFiles(const std::string& dirName,
                                                        std::string& error);

// The file of `dirName` that is open as `fd`: the entry with the
// descriptor's device and inode. nullopt, with a message in `error`, when
// no such entry exists.
std::optional<ResultsFilePath> FindOpenFile(const std::string& dirName, int fd, std::string& error);

// --- reading ------------------------------------------------------------

struct ReadOutcome {
    bool valid = false;
    std::vector<JobResults> records;
    // The reader's own message when it refused the file.
    std::string error;
};

// Every record of the file, or the reader's error (with the system's reason
// when a file cannot be opened or read).
ReadOutcome ReadAllRecords(const ResultsFilePath& file);

// How a file that the reader accepts was left by its writer.
enum class FileEnding { kSaved, kOpen };

// kOpen when the file ends in the trailer of an append rather than in the
// final end tag of a save.
FileEnding EndingOf(const std::string& wholePath);

// The raw bytes of a file; returns 0, or the errno when it cannot be read.
int ReadFileBytes(const std::string& path, std::string& bytes);

// --- writing ------------------------------------------------------------

// Writes records into a new job results file through the store's writer,
// and finds the path of the file that the store created.
class ResultsWriter {
public:
    explicit ResultsWriter(std::string dirName);

    // Appends one record; the first creates the file. False with Error().
    bool Add(const JobResults& record);
    // Finishes the file; true when nothing was written.
    bool Save();

    bool Created() const { return !createdPath_.empty(); }
    // The whole path of the created file; empty before the first append.
    const std::string& CreatedPath() const { return createdPath_; }
    const std::string& Error() const { return error_; }

private:
    bool AddFirst(const JobResults& record);

    std::string dirName_;
    CCIJobResults store_;
    bool directorySet_ = false;
    std::string createdPath_;
    std::string error_;
};

}  // namespace jrtool

#endif
