// JobResultsReader: the records of a job results file one at a time, cut by
// the same cursor as CCIJobResults' reader uses, so that both give the same
// records and the same verdict; or, reading strictly, found by the walk
// over the writer's layout that checks a file.
#include "jobresults/JobResultsReader.h"

#include <unistd.h>

#include <cerrno>

#include "jobresults/JobResultsFiles.h"
#include "jobresults/detail/CheckedWalk.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/Fingerprint.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsMessages.h"
#include "jobresults/detail/RootCursor.h"

namespace {

using jobresults::CheckedWalk;
using jobresults::FileCheck;
using jobresults::FileWindow;
using jobresults::ResumePoint;
using jobresults::RootCursor;

// Behind Root's start tag in a file a writer made: where a resume point
// taken before the first record stands.
constexpr std::uint64_t kWrittenRootContent = jobresults::kHeader.rfind('>') + 1;

// The file being read: its descriptor (closed here only when the reader
// opened it), the window on it and the cursor or the walk reading it,
// which refer to one another and so stay in one place.
struct OpenFile {
    OpenFile(int descriptor, bool closeAtEnd)
        : fd(descriptor), owned(closeAtEnd), window(descriptor), cursor(window), walk(window) {}
    ~OpenFile() {
        if (owned) ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd;
    bool owned;
    FileWindow window;
    RootCursor cursor;
    CheckedWalk walk;
};

}  // namespace

struct JobResultsReader::State {
    std::unique_ptr<OpenFile> file;
    std::string path;
    std::string fileName;
    std::string message;
    int error = 0;
    bool ok = false;
    std::uint64_t validBytes = 0;
    std::uint64_t recordOffset = 0;
    std::uint64_t rootContent = 0;
    std::uint64_t fingerprint = 0;
    bool resumed = false;
    bool contentRefused = false;
    bool strict = false;
    std::uint64_t delivered = 0;
    FileCheck check;
    // Strict: the first record, found while opening to judge the file's
    // beginning, and not delivered yet.
    JobResults pending;
    bool hasPending = false;

    void Fail(std::string_view head, const std::string& name, int number) {
        message.assign(head.data(), head.size());
        message += name;
        error = number;
        ok = false;
        if (!strict) {
            ClassicCheck();
        } else if (number != -1 && check.error == 0) {
            check.error = number;
        }
        file.reset();
    }

    // The classic verdict told as a check of the file.
    void ClassicCheck() {
        check = FileCheck();
        check.records = delivered;
        if (!ok && error != -1) {
            check.error = error;
        } else if (!ok) {
            check.damage = jobresults::DamageKind::kStray;
            check.damageOffset = validBytes;
        } else if (file) {
            check.ending = jobresults::EndingOfFile(file->fd);
        }
    }

    // The fingerprint at validBytes, taken while the file is at hand.
    std::uint64_t FingerprintNow() const {
        std::uint64_t value = 0;
        if (file) jobresults::FingerprintAt(file->fd, validBytes, rootContent, value);
        return value;
    }

    // The walk has reached its verdict: the file is done with.
    void Finish(RootCursor::Step step) {
        fingerprint = FingerprintNow();
        switch (step) {
            case RootCursor::Step::kEnd:
                // As the classic reader, which ends with 0 only on a record.
                if (!file->cursor.LastChildIsRecord()) {
                    return Fail(jobresults::messages::kNoRecords, fileName, -1);
                }
                ClassicCheck();
                break;
            case RootCursor::Step::kInvalid:
                contentRefused = true;
                return Fail(jobresults::messages::kInvalidData, path, -1);
            case RootCursor::Step::kDamaged:
                contentRefused = true;
                // As the classic reader, which finds no further record.
                return Fail(jobresults::messages::kNoRecords, fileName, -1);
            case RootCursor::Step::kFailed:
                return Fail(jobresults::messages::kReadFailed, path, file->cursor.Error());
            case RootCursor::Step::kChild:
                return;
        }
        file.reset();
    }

    // Starts reading the open file `fd`, from its start or behind `point`.
    bool Start(int fd, bool owned, const ResumePoint& point) {
        file = std::make_unique<OpenFile>(fd, owned);
        ok = true;
        resumed = point.offset > 0;
        if (resumed && !Matches(point)) {
            Fail(jobresults::messages::kNotTheFileRead, path, ESTALE);
            return false;
        }
        if (strict) return StartStrict(point);
        if (resumed) file->window.Skip(point.rootContent, point.offset);
        const RootCursor::Step step = file->cursor.FindRoot();
        rootContent = validBytes = file->cursor.RecordEnd();
        if (resumed && rootContent != point.rootContent) {
            Fail(jobresults::messages::kNotTheFileRead, path, ESTALE);
            return false;
        }
        validBytes = file->window.FileOffset(validBytes);
        // Behind Root's start tag no child has been read: the verdict on a
        // Root without records stays the one a reading from the start gives.
        if (point.offset > point.rootContent) file->cursor.ResumeBehindRecord();
        if (step == RootCursor::Step::kChild) return true;
        Finish(step);
        return false;
    }

    // The walk judges the header, and goes on behind the point's record:
    // past its line break, so that the records behind follow the header.
    bool StartStrict(const ResumePoint& point) {
        if (resumed && point.rootContent != kWrittenRootContent) {
            Fail(jobresults::messages::kNotTheFileRead, path, ESTALE);
            return false;
        }
        if (point.offset > kWrittenRootContent) {
            std::string behind;
            file->window.ReadAt(point.offset, 1, behind);
            file->window.Skip(jobresults::kHeader.size(), point.offset + (behind == "\n"));
            file->walk.ResumeBehindRecord();
        }
        rootContent = kWrittenRootContent;
        validBytes = resumed ? point.offset : rootContent;
        hasPending = file->walk.Next(pending);
        if (hasPending || file->walk.Check().sound()) return true;
        FinishStrict();
        return false;
    }

    void FinishStrict() {
        check = file->walk.Check();
        if (check.damaged() && check.damageOffset < jobresults::kHeader.size()) {
            rootContent = validBytes = 0;
        }
        fingerprint = FingerprintNow();
        if (check.error != 0) {
            Fail(jobresults::messages::kReadFailed, path, check.error);
        } else if (check.damaged()) {
            contentRefused = true;
            Fail(jobresults::messages::kInvalidData, path, -1);
        }
        file.reset();
    }

    bool NextStrict(JobResults& record) {
        CheckedWalk& walk = file->walk;
        if (hasPending) {
            std::swap(record, pending);
            hasPending = false;
        } else if (!walk.Next(record)) {
            FinishStrict();
            return false;
        }
        recordOffset = walk.RecordStart();
        validBytes = walk.RecordEnd();
        ++delivered;
        return true;
    }

    bool Matches(const ResumePoint& point) const {
        std::uint64_t now = 0;
        return point.rootContent > 0 && point.rootContent <= point.offset &&
               jobresults::FingerprintAt(file->fd, point.offset, point.rootContent, now) == 0 &&
               now == point.fingerprint;
    }

    // Every field anew but the way of reading.
    void Reset() {
        const bool strictReading = strict;
        *this = State();
        strict = strictReading;
    }

    bool OpenPath(const std::string& wholePath, const std::string& name, const ResumePoint& point) {
        Reset();
        path = wholePath;
        fileName = name;
        const int fd = FileWindow::OpenToRead(path);
        if (fd == -1) {
            const int failure = errno;
            Fail(jobresults::messages::OpenRefusedHead(failure), path, failure);
            return false;
        }
        return Start(fd, true, point);
    }

    bool OpenLent(int fd, const std::string& name, const ResumePoint& point) {
        Reset();
        path = fileName = name;
        if (const int notRegular = FileWindow::RegularFileError(fd)) {
            Fail(jobresults::messages::OpenRefusedHead(notRegular), path, notRegular);
            return false;
        }
        return Start(fd, false, point);
    }
};

JobResultsReader::JobResultsReader() : m_pState(std::make_unique<State>()) {}

JobResultsReader::~JobResultsReader() = default;

// A reader moved from is a fresh reader, never one without state: moving
// swaps states, and the one left behind is cleared.
JobResultsReader::JobResultsReader(JobResultsReader&& other) : m_pState(std::make_unique<State>()) {
    m_pState.swap(other.m_pState);
}

JobResultsReader& JobResultsReader::operator=(JobResultsReader&& other) noexcept {
    if (this != &other) {
        m_pState.swap(other.m_pState);
        *other.m_pState = State();
    }
    return *this;
}

bool JobResultsReader::open(const std::string& dirName, const std::string& fileName) {
    if (dirName.empty() || fileName.empty()) {
        m_pState->Reset();
        return false;
    }
    return m_pState->OpenPath(jobresults::JoinResultsPath(dirName, fileName), fileName, {});
}

bool JobResultsReader::open(const std::string& path) {
    if (path.empty()) {
        m_pState->Reset();
        return false;
    }
    return m_pState->OpenPath(path, path, {});
}

bool JobResultsReader::open(int fd, const std::string& path) {
    return m_pState->OpenLent(fd, path, {});
}

bool JobResultsReader::resume(const std::string& path, const jobresults::ResumePoint& point) {
    return m_pState->OpenPath(path, path, point);
}

bool JobResultsReader::resume(int fd, const std::string& path,
                              const jobresults::ResumePoint& point) {
    return m_pState->OpenLent(fd, path, point);
}

jobresults::ResumePoint JobResultsReader::resumePoint() const {
    const State& state = *m_pState;
    if (state.rootContent == 0) return {};
    return {state.validBytes, state.rootContent,
            state.file ? state.FingerprintNow() : state.fingerprint};
}

bool JobResultsReader::next(JobResults& record) {
    if (!m_pState->file) return false;
    State& state = *m_pState;
    if (state.strict) return state.NextStrict(record);
    RootCursor& cursor = state.file->cursor;
    const RootCursor::Step step = cursor.NextRecord(record);
    state.validBytes = state.file->window.FileOffset(cursor.RecordEnd());
    if (step == RootCursor::Step::kChild) {
        state.recordOffset = state.file->window.FileOffset(cursor.RecordStart());
        ++state.delivered;
        return true;
    }
    state.Finish(step);
    return false;
}

bool JobResultsReader::ok() const { return m_pState->ok; }

const std::string& JobResultsReader::errorMessage() const { return m_pState->message; }

int JobResultsReader::errorNumber() const { return m_pState->error; }

std::uint64_t JobResultsReader::validBytes() const { return m_pState->validBytes; }

std::uint64_t JobResultsReader::recordOffset() const { return m_pState->recordOffset; }

bool JobResultsReader::contentRefused() const { return m_pState->contentRefused; }

void JobResultsReader::setStrict(bool strict) { m_pState->strict = strict; }

bool JobResultsReader::strict() const { return m_pState->strict; }

jobresults::FileCheck JobResultsReader::check() const { return m_pState->check; }

void JobResultsReader::close() { m_pState->file.reset(); }
