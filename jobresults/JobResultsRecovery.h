// Walks a job results file as its writer lays it out, to check a file and
// to rescue the records of a damaged one. In file order next() finds records
// that stand exactly as a writer wrote them (values as the readers give
// them), damaged stretches (bytes no writer leaves there; the walk resumes at
// the next record start) and the end: saved, open, a writer at work or cut.
// Damage whose bytes are a file the writer could have written stays unseen.
//   walk.open(dir, name);  // then, until the end: record(), or offset()/length()
//   for (Found f = walk.next(); f == Found::kRecord || f == Found::kDamage; f = walk.next())
// Memory: a block or two of the file, or one record when larger. Movable,
// not copyable; the data sits behind a pointer, so its size never changes.
#ifndef CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECOVERY_H
#define CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECOVERY_H

#include <cstdint>
#include <memory>
#include <string>

#include "jobresults/JobResultsEnding.h"
#include "jobresults/JobResultsRecord.h"
#include "xml/LibraryExport.h"

class CIJOBRESULTS_API JobResultsRecovery {
public:
    enum class Found {
        kRecord,      // record() holds it
        kDamage,      // a damaged stretch: offset() and length()
        kEnd,         // the end: ending(), from offset() for length() bytes
        kReadFailed,  // errorNumber() holds the errno; nothing follows
    };
    // How the file ends (the same type as the listing and the check use).
    using Ending = jobresults::FileEnding;

    JobResultsRecovery();
    ~JobResultsRecovery();
    JobResultsRecovery(JobResultsRecovery&& other);
    JobResultsRecovery& operator=(JobResultsRecovery&& other) noexcept;
    JobResultsRecovery(const JobResultsRecovery&) = delete;
    JobResultsRecovery& operator=(const JobResultsRecovery&) = delete;

    // Opens dirName + "\\" + fileName. False with errorNumber() when it
    // cannot be opened (EINVAL for an empty name); next() then gives
    // kReadFailed.
    bool open(const std::string& dirName, const std::string& fileName);
    // Opens the file at `path`.
    bool open(const std::string& path);
    // Walks the regular file that `fd` is open on from its start, with
    // pread: fd's offset stays, and fd is never closed. Anything but a
    // regular file is refused (errorNumber() EINVAL; EISDIR for a
    // directory).
    bool open(int fd);

    // The next thing found in file order. After kEnd or kReadFailed, and
    // before open, it gives the same again (kEnd, kCut before open).
    Found next();

    const JobResults& record() const;
    std::uint64_t offset() const;
    std::uint64_t length() const;
    Ending ending() const;
    int errorNumber() const;

    // Releases the file; next() then gives what it gave last.
    void close();

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

#endif  // CIJOBRESULTS_JOBRESULTS_JOBRESULTSRECOVERY_H
