// JobResultsReader: the records of a job results file one at a time, cut by
// the same cursor as CCIJobResults' reader uses, so that both give the same
// records and the same verdict.
#include "jobresults/JobResultsReader.h"

#include <unistd.h>

#include <cerrno>

#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsMessages.h"
#include "jobresults/detail/JobResultsScan.h"

namespace {

using jobresults::FileWindow;
using jobresults::RootCursor;

// The file being read: its descriptor, the window on it and the cursor
// walking it, which refer to one another and so stay in one place.
struct OpenFile {
    explicit OpenFile(int descriptor) : fd(descriptor), window(descriptor), cursor(window) {}
    ~OpenFile() { ::close(fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd;
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

    void Fail(std::string_view head, const std::string& name, int number) {
        message.assign(head.data(), head.size());
        message += name;
        error = number;
        ok = false;
        file.reset();
    }

    // The walk has reached its verdict: the file is done with.
    void Finish(RootCursor::Step step) {
        switch (step) {
            case RootCursor::Step::kEnd:
                // As the classic reader, which ends with 0 only on a record.
                if (!file->cursor.LastChildIsRecord()) {
                    return Fail(jobresults::messages::kNoRecords, fileName, -1);
                }
                break;
            case RootCursor::Step::kInvalid:
                return Fail(jobresults::messages::kInvalidData, path, -1);
            case RootCursor::Step::kDamaged:
                // As the classic reader, which finds no further record.
                return Fail(jobresults::messages::kNoRecords, fileName, -1);
            case RootCursor::Step::kFailed:
                return Fail(jobresults::messages::kReadFailed, path, file->cursor.Error());
            case RootCursor::Step::kChild:
                return;
        }
        file.reset();
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
    State& state = *m_pState;
    state = State();
    if (dirName.empty() || fileName.empty()) return false;
    state.path = dirName + jobresults::kDirectorySeparator + fileName;
    state.fileName = fileName;
    const int fd = FileWindow::OpenToRead(state.path);
    if (fd == -1) {
        const int error = errno;
        state.Fail(jobresults::messages::kOpenFailed, state.path, error);
        return false;
    }
    state.file = std::make_unique<OpenFile>(fd);
    state.ok = true;
    const RootCursor::Step step = state.file->cursor.FindRoot();
    state.validBytes = state.file->cursor.RecordEnd();
    if (step == RootCursor::Step::kChild) return true;
    state.Finish(step);
    return false;
}

bool JobResultsReader::next(JobResults& record) {
    if (!m_pState->file) return false;
    State& state = *m_pState;
    RootCursor& cursor = state.file->cursor;
    const RootCursor::Step step = cursor.NextRecord(record);
    state.validBytes = cursor.RecordEnd();
    if (step == RootCursor::Step::kChild) return true;
    state.Finish(step);
    return false;
}

bool JobResultsReader::ok() const { return m_pState->ok; }

const std::string& JobResultsReader::errorMessage() const { return m_pState->message; }

int JobResultsReader::errorNumber() const { return m_pState->error; }

std::uint64_t JobResultsReader::validBytes() const { return m_pState->validBytes; }

void JobResultsReader::close() { m_pState->file.reset(); }
