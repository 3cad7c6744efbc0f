// JobResultsReader: the records of a job results file one at a time, cut by
// the same cursor as CCIJobResults' reader uses, so that both give the same
// records and the same verdict.
#include "jobresults/JobResultsReader.h"

#include <unistd.h>

#include <cerrno>

#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/Fingerprint.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsMessages.h"
#include "jobresults/detail/JobResultsScan.h"

namespace {

using jobresults::FileWindow;
using jobresults::ResumePoint;
using jobresults::RootCursor;

// The file being read: its descriptor (closed here only when the reader
// opened it), the window on it and the cursor walking it, which refer to
// one another and so stay in one place.
struct OpenFile {
    OpenFile(int descriptor, bool closeAtEnd)
        : fd(descriptor), owned(closeAtEnd), window(descriptor), cursor(window) {}
    ~OpenFile() {
        if (owned) ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd;
    bool owned;
    FileWindow window;
    RootCursor cursor;
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

    void Fail(std::string_view head, const std::string& name, int number) {
        message.assign(head.data(), head.size());
        message += name;
        error = number;
        ok = false;
        file.reset();
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

    bool Matches(const ResumePoint& point) const {
        std::uint64_t now = 0;
        return point.rootContent > 0 && point.rootContent <= point.offset &&
               jobresults::FingerprintAt(file->fd, point.offset, point.rootContent, now) == 0 &&
               now == point.fingerprint;
    }

    bool OpenPath(const std::string& wholePath, const std::string& name, const ResumePoint& point) {
        *this = State();
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
        *this = State();
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
        *m_pState = State();
        return false;
    }
    return m_pState->OpenPath(dirName + jobresults::kDirectorySeparator + fileName, fileName, {});
}

bool JobResultsReader::open(const std::string& path) {
    if (path.empty()) {
        *m_pState = State();
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
    RootCursor& cursor = state.file->cursor;
    const RootCursor::Step step = cursor.NextRecord(record);
    state.validBytes = state.file->window.FileOffset(cursor.RecordEnd());
    if (step == RootCursor::Step::kChild) {
        state.recordOffset = state.file->window.FileOffset(cursor.RecordStart());
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

void JobResultsReader::close() { m_pState->file.reset(); }
