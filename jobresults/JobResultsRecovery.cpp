// JobResultsRecovery: the file, its window and the walk over its layout,
// kept behind a pointer so that the exported class never changes size.
#include "jobresults/JobResultsRecovery.h"

#include <unistd.h>

#include <cerrno>

#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/LayoutWalk.h"

namespace {

using jobresults::FileWindow;
using jobresults::LayoutItem;
using jobresults::LayoutWalk;

// The descriptor, the window on it and the walk, which refer to one another
// and so stay in one place.
struct OpenFile {
    OpenFile(int descriptor, bool closeAtEnd)
        : fd(descriptor), owned(closeAtEnd), window(descriptor), walk(window) {}
    ~OpenFile() {
        if (owned) ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd;
    bool owned;
    FileWindow window;
    LayoutWalk walk;
};

JobResultsRecovery::Found FoundOf(LayoutItem::Kind kind) {
    switch (kind) {
        case LayoutItem::Kind::kRecord:
            return JobResultsRecovery::Found::kRecord;
        case LayoutItem::Kind::kDamage:
            return JobResultsRecovery::Found::kDamage;
        case LayoutItem::Kind::kEnd:
            return JobResultsRecovery::Found::kEnd;
        case LayoutItem::Kind::kFailed:
            break;
    }
    return JobResultsRecovery::Found::kReadFailed;
}

}  // namespace

struct JobResultsRecovery::State {
    std::unique_ptr<OpenFile> file;
    JobResults record;
    LayoutItem last;

    bool Fail(int error) {
        last.kind = LayoutItem::Kind::kFailed;
        last.error = error;
        return false;
    }

    bool Start(int fd, bool owned) {
        if (fd == -1) return Fail(errno);
        file = std::make_unique<OpenFile>(fd, owned);
        return true;
    }
};

JobResultsRecovery::JobResultsRecovery() : m_pState(std::make_unique<State>()) {}

JobResultsRecovery::~JobResultsRecovery() = default;

JobResultsRecovery::JobResultsRecovery(JobResultsRecovery&& other)
    : m_pState(std::make_unique<State>()) {
    m_pState.swap(other.m_pState);
}

JobResultsRecovery& JobResultsRecovery::operator=(JobResultsRecovery&& other) noexcept {
    if (this != &other) {
        m_pState.swap(other.m_pState);
        *other.m_pState = State();
    }
    return *this;
}

bool JobResultsRecovery::open(const std::string& dirName, const std::string& fileName) {
    if (dirName.empty() || fileName.empty()) {
        *m_pState = State();
        return m_pState->Fail(EINVAL);
    }
    return open(jobresults::JoinResultsPath(dirName, fileName));
}

bool JobResultsRecovery::open(const std::string& path) {
    State& state = *m_pState;
    state = State();
    if (path.empty()) return state.Fail(EINVAL);
    return state.Start(FileWindow::OpenToRead(path), true);
}

bool JobResultsRecovery::open(int fd) {
    State& state = *m_pState;
    state = State();
    if (fd < 0) return state.Fail(EBADF);
    if (const int error = FileWindow::RegularFileError(fd)) return state.Fail(error);
    return state.Start(fd, false);
}

JobResultsRecovery::Found JobResultsRecovery::next() {
    State& state = *m_pState;
    if (state.file) {
        state.last = state.file->walk.Next(state.record);
        if (state.last.kind == LayoutItem::Kind::kEnd ||
            state.last.kind == LayoutItem::Kind::kFailed) {
            state.file.reset();
        }
    }
    return FoundOf(state.last.kind);
}

const JobResults& JobResultsRecovery::record() const { return m_pState->record; }

std::uint64_t JobResultsRecovery::offset() const { return m_pState->last.offset; }

std::uint64_t JobResultsRecovery::length() const { return m_pState->last.length; }

JobResultsRecovery::Ending JobResultsRecovery::ending() const { return m_pState->last.ending; }

int JobResultsRecovery::errorNumber() const { return m_pState->last.error; }

void JobResultsRecovery::close() { m_pState->file.reset(); }
