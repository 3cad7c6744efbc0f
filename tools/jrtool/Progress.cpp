#include "jrtool/Progress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "jrtool/StateFile.h"

namespace jrtool {

namespace {

constexpr std::array<const char*, 3> kStateNames = {"open", "saved", "damaged"};

// A tail copy may catch a writer's append half done, which reads as damage
// while the file is fine; the verdict stands only when the file did not
// change while it was read, or after this many readings.
constexpr int kReadingsOfAChangingFile = 4;

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

// Copies bytes [from, to) of `in` to `out`; to == 0 means up to the end.
bool CopyRange(int in, int out, std::uint64_t from, std::uint64_t to) {
    std::unique_ptr<char[]> buffer(new char[std::size_t{64} << 10]);
    const std::size_t capacity = std::size_t{64} << 10;
    for (std::uint64_t offset = from; to == 0 || offset < to;) {
        const std::size_t wanted =
            to == 0 ? capacity
                    : static_cast<std::size_t>(std::min<std::uint64_t>(capacity, to - offset));
        const ssize_t count = pread(in, buffer.get(), wanted, static_cast<off_t>(offset));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return false;
        if (count == 0) return to == 0;
        if (!WriteAll(out, buffer.get(), static_cast<std::size_t>(count))) return false;
        offset += static_cast<std::uint64_t>(count);
    }
    return true;
}

// The reader starts at a document's beginning. To go on behind a record,
// it reads a private copy of Root's start tag followed by the bytes behind
// the record; offsets in the copy map back by the shift between the two.
// The copy is unlinked as soon as the reader holds it open.
bool OpenTail(const ResultsFilePath& file, const FileProgress& progress, RecordSource& source,
              std::string& problem) {
    Descriptor in(open(file.WholePath().c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) {
        problem = WithReason("cannot open " + file.WholePath(), errno);
        return false;
    }
    const char* const tmp = std::getenv("TMPDIR");
    const std::string dirName =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/jobresults-tail";
    std::string path = ResultsFilePath{dirName, "XXXXXX"}.WholePath();
    Descriptor out(mkostemp(&path[0], O_CLOEXEC));
    if (out.fd < 0) {
        problem = WithReason("cannot create a temporary file " + path, errno);
        return false;
    }
    const bool copied = CopyRange(in.fd, out.fd, 0, progress.rootContent) &&
                        CopyRange(in.fd, out.fd, progress.resume, 0);
    const int copyError = errno;
    const bool opened = copied && source.Open(*SplitWholePath(path));
    unlink(path.c_str());
    if (!copied) problem = WithReason("cannot copy the new part of " + file.WholePath(), copyError);
    return opened;
}

std::string DamageVerdict(const RecordSource& source, std::uint64_t offset) {
    return "damaged at byte " + std::to_string(offset) + ": " + source.Error();
}

}  // namespace

const char* FileStateName(FileState state) { return kStateNames[static_cast<std::size_t>(state)]; }

std::optional<FileState> FileStateFromName(const std::string& name) {
    for (std::size_t i = 0; i < kStateNames.size(); ++i) {
        if (name == kStateNames[i]) return static_cast<FileState>(i);
    }
    return std::nullopt;
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    FileStamp stamp;
    stamp.inode = status.st_ino;
    stamp.size = static_cast<std::uint64_t>(status.st_size);
    stamp.mtimeNs =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return stamp;
}

std::vector<std::string> FileProgress::Fields() const {
    return {std::to_string(stamp.inode), std::to_string(stamp.size),  std::to_string(stamp.mtimeNs),
            std::to_string(resume),      std::to_string(rootContent), FileStateName(state)};
}

std::optional<FileProgress> FileProgress::FromFields(const std::vector<std::string>& fields,
                                                     std::size_t first) {
    if (fields.size() < first + 6) return std::nullopt;
    FileProgress progress;
    const auto state = FileStateFromName(fields[first + 5]);
    if (!ParseStateNumber(fields[first], progress.stamp.inode) ||
        !ParseStateNumber(fields[first + 1], progress.stamp.size) ||
        !ParseStateNumber(fields[first + 2], progress.stamp.mtimeNs) ||
        !ParseStateNumber(fields[first + 3], progress.resume) ||
        !ParseStateNumber(fields[first + 4], progress.rootContent) || !state) {
        return std::nullopt;
    }
    progress.state = *state;
    return progress;
}

Change ChangeSince(const FileProgress& progress, const FileStamp& now) {
    if (now == progress.stamp && progress.rootContent != 0) return Change::kNone;
    // A saved or damaged file gains no records by appends: if it changed,
    // it was rewritten.
    if (progress.rootContent == 0 || now.inode != progress.stamp.inode ||
        now.size < progress.resume || progress.state != FileState::kOpen) {
        return Change::kReplaced;
    }
    return Change::kGrown;
}

ReadOutcome ReadNewRecords(const ResultsFilePath& file, const FileStamp& stamp,
                           FileProgress& progress, const RecordVisitor& visit) {
    ReadOutcome outcome;
    FileStamp seen = stamp;
    for (int reading = 1;; ++reading) {
        // The ending is taken before the records: a file found saved then
        // holds every record that the reading below sees, while a save
        // found after the reading could hide appends made in between.
        const FileEnding ending = EndingOf(file.WholePath());
        const bool fromStart = progress.rootContent == 0 || progress.resume <= progress.rootContent;
        RecordSource source;
        const bool opened =
            fromStart ? source.Open(file) : OpenTail(file, progress, source, outcome.problem);
        if (fromStart && opened) progress.rootContent = source.ValidBytes();
        // Offsets in a tail copy lie behind its copied start tag.
        const std::uint64_t base = fromStart ? 0 : progress.resume - progress.rootContent;
        JobResults record;
        while (opened && source.Next(record)) {
            visit(record, base + source.RecordOffset());
            progress.resume = base + source.ValidBytes();
            ++outcome.records;
        }
        if (!opened && !fromStart && !outcome.problem.empty()) return outcome;
        // A tail without a record (nothing new, or only the save's end tag)
        // is no document to the reader, and no damage either.
        const bool nothingNew =
            !fromStart && source.Delivered() == 0 && source.Damaged() && !source.ContentRefused();
        if (source.Valid() || nothingNew) {
            progress.stamp = seen;
            progress.state = ending == FileEnding::kOpen ? FileState::kOpen : FileState::kSaved;
            return outcome;
        }
        if (!source.Damaged()) {
            outcome.problem = source.Error();
            return outcome;
        }
        const auto now = StampOf(file.WholePath());
        if (now && !(*now == seen) && reading < kReadingsOfAChangingFile) {
            seen = *now;
            continue;
        }
        progress.stamp = seen;
        progress.state = FileState::kDamaged;
        outcome.problem = DamageVerdict(source, base + source.ValidBytes());
        return outcome;
    }
}

}  // namespace jrtool
