// Streaming reader of job results files: hands out the records of a file one
// by one while reading it front to back, holding a window of the file and
// the record being cut, never the whole file. Its verdict on a file is the
// one CCIJobResults gives (openJobResults, then getNextJobResult until it
// stops): the same records in the same order, and the same message and errno
// where that reader fails. On a damaged file it delivers the complete records
// in front of the damage, then reports the failure. Damage inside Root (an
// element that is not closed, as torn or zeroed bytes leave) is reported as
// such, never passed over: no torn record is delivered, nor any behind it.
// So is a NUL byte inside Root, what is left of a record whose own tags
// were damaged (a field outside any record, or another element holding the
// format's tags), text, markup or a tag holding a "<" in a record, or a
// field whose value no writer stores (a tag of the format's own elements);
// the state a kill leaves in the middle of a write ends the records only at
// the end of the file. Damage costs no memory: an element that outgrows the
// window is looked for in the file, and only a record is held whole. Only
// regular files are read.
//
//   JobResultsReader reader;
//   if (reader.open(dir, "ci_push_1700000000.xml")) {
//       JobResults record;
//       while (reader.next(record)) use(record);
//   }
//   if (!reader.ok()) report(reader.errorMessage(), reader.errorNumber());
//
// A file that a writer is still appending to reads as a complete document:
// the records written before open, in order, possibly more.
//
// A file can be named by any path, or lent as a descriptor, which the
// reader reads with pread (its offset stays where the caller left it) and
// never closes. A reader that comes back to a file resumes behind the last
// record it read (resumePoint, then resume), once it has checked that the
// file is still the one it read.
//
// Strict reading (setStrict) judges the file as `jobresults check` does
// instead: every record exactly as a writer leaves it, and anything else
// is damage, reported where it begins (check()). The tool and the Python
// module read so; the default stays the classic verdict, which hand-made
// files and their callers rely on.
//
// The object keeps its data behind a pointer, so that it can grow without
// changing its size; it is movable, not copyable. No function throws but
// for running out of memory.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSREADER_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSREADER_H

#include <cstdint>
#include <memory>
#include <string>

#include "jobresults/JobResultsCheck.h"
#include "jobresults/JobResultsRecord.h"
#include "xml/LibraryExport.h"

namespace jobresults {

// Where a reader stopped in a file, to go on from there later: behind the
// last record read, with what tells the file apart from any other file or
// any rewriting of it. A point with offset 0 reads from the start.
struct ResumePoint {
    std::uint64_t offset = 0;       // validBytes(): behind the last record read
    std::uint64_t rootContent = 0;  // behind Root's start tag
    std::uint64_t fingerprint = 0;  // of the file's first bytes and those in front of offset
};

}  // namespace jobresults

class CIJOBRESULTS_API JobResultsReader {
public:
    JobResultsReader();
    // Releases the descriptor and the buffers held.
    ~JobResultsReader();
    // A reader moved from is left as a fresh one.
    JobResultsReader(JobResultsReader&& other);
    JobResultsReader& operator=(JobResultsReader&& other) noexcept;
    JobResultsReader(const JobResultsReader&) = delete;
    JobResultsReader& operator=(const JobResultsReader&) = delete;

    // Opens dirName + "\\" + fileName (the name openJobResults builds) and
    // reads up to the start of its Root element. False when either name is
    // empty (no message), when the file cannot be opened or read, or when
    // the document does not begin with a Root element; then ok() is false
    // and errorMessage()/errorNumber() say why, as openJobResults would.
    // A file opened before is closed first.
    bool open(const std::string& dirName, const std::string& fileName);

    // Opens the file at `path`, as above; messages name the path.
    bool open(const std::string& path);

    // Reads the regular file that `fd` is open on from its start, with
    // pread: fd's offset stays as it is, and fd is never closed (the caller
    // keeps it open until close(), the next open or the destructor). `path`
    // names the file in messages. Anything but a regular file is refused
    // (EINVAL; EISDIR for a directory).
    bool open(int fd, const std::string& path);

    // Opens the file and goes on behind point.offset, as if every record
    // in front of it had been read: next() gives the records behind it,
    // and offsets stay those of the file. False with errorNumber() ESTALE
    // ("... is not the file read before") when the file is not the one the
    // point was taken in: Root's start tag or the fingerprint differ, or
    // the file is shorter. Such a file is read again with open.
    bool resume(const std::string& path, const jobresults::ResumePoint& point);
    bool resume(int fd, const std::string& path, const jobresults::ResumePoint& point);

    // Where the reader stands, for resume: behind the last record
    // delivered (validBytes()). Taken while the file is open or at the
    // verdict; an offset of 0 before Root's start tag was read.
    jobresults::ResumePoint resumePoint() const;

    // Fills record from the next record, field by field as getNextJobResult
    // does (matched by tag name, a missing field keeps the caller's value,
    // Size as "%llu" converts it). False when no record follows, or when no
    // file is open; the file is closed then and ok() holds the verdict.
    bool next(JobResults& record);

    // After next returned false (or open failed): true exactly when the
    // classic reader delivers every record and ends with 0. Before that,
    // true while nothing has gone wrong.
    bool ok() const;

    // When ok() is false: the classic reader's message and errno where it
    // stops ("Invalid data in Job Results file " + path, "Invalid data/No
    // Data found in Job Results file " + fileName, or a failed system call).
    // Empty and 0 otherwise.
    const std::string& errorMessage() const;
    int errorNumber() const;

    // The file offset just behind the last complete record delivered so
    // far (behind Root's start tag before the first record, 0 before that).
    // On a damaged file, where the damage begins once next returned false.
    std::uint64_t validBytes() const;

    // The file offset where the last record delivered begins: the "<" of
    // its start tag. With validBytes(), a record's place in the file, which
    // the bytes before it fix for good in a file that is only appended to.
    // 0 before the first record.
    std::uint64_t recordOffset() const;

    // When ok() is false with errorNumber() -1: true when the content is
    // refused (not a single Root element, or damage inside it), false when
    // the records simply end without the last child being a record.
    bool contentRefused() const;

    // Judge files as CheckResultsFile does, from the next open or resume
    // on: records are delivered only as a writer wrote them (all five
    // fields, Size the writer's digits), up to the first byte that no
    // writer leaves, where the file is refused ("Invalid data in Job
    // Results file " + path, -1). Resume points are the same in both ways
    // of reading.
    void setStrict(bool strict);
    bool strict() const;
    // The verdict as a check of the file, once next() returned false (or
    // open failed). Strict: what CheckResultsFile gives (counting the
    // records from a resume point on). Classic: a refused content is
    // damage (kStray) from validBytes() to the end of the file.
    jobresults::FileCheck check() const;
    // Closes the file early; the verdict and validBytes() stay as they are.
    void close();

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSREADER_H
