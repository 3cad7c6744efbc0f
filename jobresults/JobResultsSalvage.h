// Salvage of a damaged job results file: every intact record, found by the
// walk over the writer's layout (JobResultsRecovery), is written through
// the store's writer into a copy of the same creation time. In place, the
// copy takes the file's own name and the damaged file is kept as
// "<path>.damaged", which no listing takes for a job results file; a stop
// at any moment (a kill, a power loss) loses nothing. One protocol for
// every program that salvages: the tool, the Python module, a caller's own
// code. Nothing is printed and nothing thrown: the result says what
// happened, and the caller words it.
//
//   const jobresults::SalvageResult result = jobresults::SalvageResultsFile(path);
//   if (!result.ok()) ...            // result.step, result.errorNumber
//   else if (result.sound) ...       // nothing copied
//   else ...                         // result.copyPath, result.damagedPath
//
// A file whose writer is alive is refused with kOpen and EBUSY, nothing
// changed: its appends after the copy would go to the damaged file. While
// a salvage runs it keeps writers (and CloseLeftFile) out of the file.
//
// Salvages of one file run one at a time: a salvage removes the copies
// that stopped salvages of its file left, and with them the copy of one
// running at the same moment.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSSALVAGE_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSSALVAGE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/LibraryExport.h"

namespace jobresults {

// Appended to a damaged file's path when its copy takes its place.
inline constexpr std::string_view kDamagedSuffix = ".damaged";

struct SalvageOptions {
    // Empty: the copy replaces the file. Otherwise the copy is made under
    // this directory name and the file is left as it is.
    std::string outDirName;
};

// Where a salvage stopped.
enum class SalvageStep {
    kNone,             // it did not fail
    kOpen,             // the file could not be opened; EBUSY: its writer is alive
    kSurvey,           // reading the file to judge it failed; nothing written
    kNoDirectoryName,  // a file named by a plain path needs outDirName
    kCopy,             // the store's writer failed (storeMessage)
    kLocateCopy,       // the store wrote the copy but no name of it was found
    kNoRecord,         // no intact record; no file written (ENODATA)
    kCopyRead,         // reading failed while copying; the copy is removed
    kSyncCopy,         // the copy could not be synced (copy removed)
    kSetAside,         // the damaged file could not be linked as .damaged
    kSyncDirectory,    // the directory could not be synced
    kRename,           // the copy could not take the file's name
    kNameCopy,         // the copy could not take its name under outDirName
};

// A short name of each step, for messages and for other languages.
inline constexpr const char* SalvageStepName(SalvageStep step) {
    constexpr const char* kNames[] = {
        "",          "open",      "survey",    "directory name", "copy",           "locate copy",
        "no record", "copy read", "sync copy", "set aside",      "sync directory", "rename",
        "name copy",
    };
    return kNames[static_cast<int>(step)];
}

// Bytes that no writer leaves there, which the copy leaves out.
struct DamagedStretch {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// A copy left by a stopped salvage of the same file; error 0 when it was
// removed, the errno of the failed unlink otherwise.
struct LeftoverRemoval {
    std::string path;
    int error = 0;
};

struct SalvageResult {
    // The copies of stopped salvages found, before anything else.
    std::vector<LeftoverRemoval> leftovers;
    // The file is sound and the readers accept it: nothing was copied, and
    // `records` counts its records.
    bool sound = false;
    // What the copy's walk found (the judging walk's records when sound),
    // in file order, up to a failure.
    std::uint64_t records = 0;
    std::vector<DamagedStretch> stretches;
    std::uint64_t damagedBytes = 0;
    // The file stops where a record or its end tag should follow, at cutAt.
    bool cut = false;
    std::uint64_t cutAt = 0;
    // The directory name the copy is written under: "<copy's path>.rescue"
    // for a temporary name, else outDirName or the file's own.
    std::string copyDirName;
    // The copy written under a temporary name (or the name the writer gave
    // it); removed again on failure.
    std::string rescuePath;
    // Where the copy is now (or was to go, for a failure in placing it):
    // the file's own path in place, a path under outDirName, or the name
    // the writer gave it where the file's name has no creation time to
    // keep.
    std::string copyPath;
    // In place: the path the damaged file is kept (or was to be kept) under.
    std::string damagedPath;
    // On failure: the step, the errno (0 when none) and for kCopy the
    // store's message.
    SalvageStep step = SalvageStep::kNone;
    int errorNumber = 0;
    std::string storeMessage;

    bool ok() const { return step == SalvageStep::kNone; }
};

// Salvages the file dirName + "\\" + fileName; with an empty dirName,
// fileName is a plain path of the file (one renamed, say), whose copy
// needs options.outDirName.
CIJOBRESULTS_API SalvageResult SalvageResultsFile(const std::string& dirName,
                                                  const std::string& fileName,
                                                  const SalvageOptions& options = {});
// The same for a whole path, split at its last backslash; a path without
// one (or with nothing on one side of it) is a plain path. Pass the options
// as a SalvageOptions object: a braced {"dir"} would pick the form above.
// There is no descriptor form: the copy replaces the file by its name.
CIJOBRESULTS_API SalvageResult SalvageResultsFile(const std::string& path,
                                                  const SalvageOptions& options = {});

// --- copies left by stopped salvages ---------------------------------------

// A salvage writes its copy of the file at `path` under the directory name
// "<path>.rescue", so the copy's name ends in ".xml" only behind a
// backslash and no listing takes it for a job results file. A salvage that
// is stopped (killed, or the power lost) leaves it.
CIJOBRESULTS_API std::string RescueDirName(const std::string& path);

// A copy left by a stopped salvage among the files of a directory name:
// its whole path and that of the file it was made for, whose salvage
// removes it.
struct RescueLeftover {
    std::string path;
    std::string original;
};

// The leftovers of salvages of the files of `dirName`, by path: names of
// its host directory that are "<file name>.rescue\<file name>" behind its
// name prefix, both job results file names. Empty when it cannot be read.
CIJOBRESULTS_API std::vector<RescueLeftover> ListRescueLeftovers(const std::string& dirName);

// The whole paths of the leftovers of salvages of the file at `path`: the
// names that begin with "<path>.rescue\" and go on with a job results file
// name, nothing else.
CIJOBRESULTS_API std::vector<std::string> RescueLeftoversOf(const std::string& path);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSSALVAGE_H
