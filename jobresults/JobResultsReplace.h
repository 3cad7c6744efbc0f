// Keeping a small file of one's own beside job results files (a program's
// state between runs, the text a collector picks up) so that a kill or a
// power loss at any moment leaves the old file or the new one whole, never
// a mix: the text goes to a temporary file beside it, which is synced and
// renamed over the file, and the directory is synced after the rename.
// Nothing is printed and nothing thrown: errno values say what failed.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSREPLACE_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSREPLACE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/LibraryExport.h"

namespace jobresults {

// Where a replacement stopped.
enum class ReplaceStep {
    kNone,    // it did not fail
    kCreate,  // no temporary file could be made beside the file
    kWrite,   // writing, syncing or renaming the temporary file failed (it is removed)
};

struct ReplaceOutcome {
    ReplaceStep step = ReplaceStep::kNone;
    int error = 0;  // the errno of the failed call
    bool ok() const { return step == ReplaceStep::kNone; }
};

// Replaces the file at `path` by `text`, giving it `mode` less the umask.
// The temporary file's name is `path` with a suffix, so readers that pick
// files by their extension pass it over. A failed sync of the directory
// after the rename is not reported: the new file is in place by then.
CIJOBRESULTS_API ReplaceOutcome ReplaceFileDurably(const std::string& path, std::string_view text,
                                                   mode_t mode);

// Whether ReplaceFileDurably can make its temporary file beside `path`: 0,
// or the errno of the failure. For a program that must fail before any of
// its output depends on the replacement.
CIJOBRESULTS_API int CheckReplaceable(const std::string& path);

// Writes all `size` bytes at fd's position, going on after short counts
// and EINTR: 0, or the errno of the failure (EIO for a write that makes no
// progress).
CIJOBRESULTS_API int WriteFully(int fd, const char* data, std::size_t size);

// --- sealed text -------------------------------------------------------------

// A program's state must never be taken for a smaller truth when a copy of
// it was cut short or garbled: sealed text ends in a line that checks all
// before it ("end", the number of lines and their checksum, separated by
// tabs), and its first line names its kind.

// FNV-1a over `text`: the seal's checksum, and a short stable key for a
// long name.
CIJOBRESULTS_API std::uint64_t TextChecksum(std::string_view text);

// `text` (lines that end in a line feed, the kind's first) with its seal.
CIJOBRESULTS_API std::string SealText(std::string_view text);

enum class SealedRead {
    kRead,
    kOtherKind,  // the first line is not the kind asked for
    kBroken,     // the seal does not match what it seals
};

// The lines of `sealed` between its first line, which must be `kind`, and
// its seal, into `lines`, for kRead.
CIJOBRESULTS_API SealedRead OpenSealedText(std::string_view sealed, std::string_view kind,
                                           std::vector<std::string>& lines);

// Reads the file at `path` whole and opens its sealed text as
// OpenSealedText does, into `lines` and `outcome`: 0, or the errno of the
// failure to open or read it (ENOENT: there is no such file), which leaves
// both as they were.
CIJOBRESULTS_API int ReadSealedFile(const std::string& path, std::string_view kind,
                                    std::vector<std::string>& lines, SealedRead& outcome);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSREPLACE_H
