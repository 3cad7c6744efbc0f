// The job results files of a directory name, as one listing for every
// program that finds them: the tool, the Python module, a caller's own
// code. A file belongs to a directory name when its name on the host is
// the name prefix of the directory name (LocateOnHost) followed by a name
// that ParseResultsFileName accepts, and it is a regular file.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSFILES_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSFILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "jobresults/JobResultsEnding.h"
#include "xml/LibraryExport.h"

namespace jobresults {

// What tells a file apart from every other file, also from one that later
// takes the same name, or the same inode once the file is deleted: the
// device, the inode and the birth time (statx), where the file system keeps
// one (birthNanoseconds is 0 where it does not).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t birthNanoseconds = 0;

    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode &&
               birthNanoseconds == other.birthNanoseconds;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
    bool operator<(const FileIdentity& other) const {
        if (device != other.device) return device < other.device;
        if (inode != other.inode) return inode < other.inode;
        return birthNanoseconds < other.birthNanoseconds;
    }
};

struct ResultsFile {
    std::string path;      // directory name, "\\", file name: what the readers open
    std::string fileName;  // ci_push_<seconds>.xml
    long long createdSeconds = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    FileIdentity identity;
    // From the file's last bytes: kSaved, kOpen or kNeither (the check of
    // the file, CheckResultsFile, gives the whole verdict).
    FileEnding ending = FileEnding::kNeither;
};

// The order of a listing: by creation second, then by name.
inline bool OlderFirst(const ResultsFile& a, const ResultsFile& b) {
    return a.createdSeconds != b.createdSeconds ? a.createdSeconds < b.createdSeconds
                                                : a.fileName < b.fileName;
}

// Fills `files` with the files of `dirName`, oldest first (by creation
// second, then by name). Returns 0, or the errno of opening or reading the
// host directory (then `files` is empty). A file that goes while it is
// looked at is left out.
CIJOBRESULTS_API int ListResultsFiles(const std::string& dirName, std::vector<ResultsFile>& files);

// One file of `dirName`, named `fileName`, as the listing gives it. 0, or
// ENOENT when no regular file of that name follows the naming rule (or it
// went), or the errno of the failure.
CIJOBRESULTS_API int DescribeResultsFile(const std::string& dirName, const std::string& fileName,
                                         ResultsFile& file);

// The ending of the regular file `fd` is open on, from its last bytes
// (read with pread; fd's offset stays).
CIJOBRESULTS_API FileEnding EndingOfFile(int fd);

// The line, counted from 1, that holds byte `offset` of the regular file
// `fd` is open on (read with pread; fd's offset stays), for messages that
// name a place in a file to people. 0, or the errno of the failure (EINVAL
// for anything but a regular file; ESPIPE when the file ends before
// `offset`). The path form opens the file without blocking.
CIJOBRESULTS_API int LineOfOffset(int fd, std::uint64_t offset, std::uint64_t& line);
CIJOBRESULTS_API int LineOfOffset(const std::string& path, std::uint64_t offset,
                                  std::uint64_t& line);

// People pass a directory where a directory name is expected. For a
// directory name that is an existing directory or ends in "/", what it
// means (where its files go and how they are named) and what to pass
// instead; `applies` false for any other name.
struct DirectoryNameNote {
    bool applies = false;
    // Ends in "/": file names would start with the backslash, which no one
    // means; callers refuse such a name.
    bool endsInSlash = false;
    std::string text;
};
CIJOBRESULTS_API DirectoryNameNote NoteOnDirectoryName(const std::string& dirName);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSFILES_H
