// Append order. A record and trailer that fit in the page of the old trailer
// go in one write, which a kill cannot cut. Otherwise the new record and
// trailer are written behind the old trailer first, led by "<" and a short
// filler so that an unfinished tail reads as an element without its end tag
// (the scan of the file stops there). Only when that tail is written are the
// old trailer and the lead overwritten with the record's first bytes; those
// few bytes can be torn by a kill, but whatever mixture results still leaves
// a closed document: the old trailer is intact, or the new one at the end
// closes Root. A failed step puts the old trailer back and cuts the file
// behind it. A record for which no lead gives an inert tail (its text would
// have to hold every candidate end tag) also goes in one write.
#include "jobresults/detail/AppendProtocol.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "jobresults/detail/Durability.h"
#include "jobresults/detail/JobResultsFormat.h"
#include "jobresults/detail/JobResultsLayout.h"
#include "jobresults/detail/WriterLock.h"
#include "xml/detail/XmlScan.h"

namespace jobresults {
namespace {

constexpr int kMaxNameAttempts = 1024;
constexpr mode_t kFileMode = 0644;
constexpr off64_t kTrailerLength = static_cast<off64_t>(kTrailer.size());

constexpr bool LeadsFit() {
    for (const Lead& lead : kLeads) {
        if (lead.split != kTrailer.size() + 1 + lead.filler.size() || lead.split > kMaxSplit) {
            return false;
        }
    }
    return true;
}
static_assert(LeadsFit(),
              "a lead's \"<\" and filler fill the bytes from the trailer's end to the split");

// Whether the tail of this lead ends the scan of a file without yielding an
// element: a start tag whose end tag does not follow, or no ">" at all.
bool TailIsInert(std::string_view data, const Lead& lead) {
    const size_t close = xmlscan::FindByte(data, '>', lead.split);
    if (close == std::string_view::npos) return true;
    std::string tagText(lead.filler);
    tagText.append(data.substr(lead.split, close - lead.split));
    std::string_view tag = tagText;
    if (xmlscan::ClassifyTag(tag) != xmlscan::TagKind::kStart) return false;
    const std::string_view name = xmlscan::TagName(tag);
    std::string endTag;
    endTag.reserve(name.size() + 3);
    endTag.append("</").append(name).append(">");
    return xmlscan::Find(data, endTag, close + 1) == std::string_view::npos;
}

// nullptr when no lead gives an inert tail.
const Lead* ChooseLead(std::string_view data) {
    for (const Lead& lead : kLeads) {
        if (data.size() > lead.split + kTrailer.size() && TailIsInert(data, lead)) return &lead;
    }
    return nullptr;
}

// Writes "<" + filler + data[split..] at the end of the old trailer.
int WriteTail(int fd, char* data, size_t size, const Lead& lead, off64_t trailer) {
    const size_t leadLength = lead.split - kTrailer.size();
    char saved[kMaxSplit];
    std::memcpy(saved, data + kTrailer.size(), leadLength);
    data[kTrailer.size()] = '<';
    std::memcpy(data + kTrailer.size() + 1, lead.filler.data(), lead.filler.size());
    const int error =
        WriteAllAt(fd, data + kTrailer.size(), size - kTrailer.size(), trailer + kTrailerLength);
    std::memcpy(data + kTrailer.size(), saved, leadLength);
    return error;
}

// A write that stays within one page is never cut short by a kill (see
// kPageSize). Such an append goes in one write.
bool WithinOnePage(off64_t offset, size_t size) {
    constexpr off64_t kPage = static_cast<off64_t>(kPageSize);
    return offset / kPage == (offset + static_cast<off64_t>(size) - 1) / kPage;
}

bool PutBackTrailer(int fd, off64_t trailer) {
    return WriteAllAt(fd, kTrailer.data(), kTrailer.size(), trailer) == 0;
}

// After a failed write: the old trailer again, nothing behind it.
AppendOutcome Undo(int fd, off64_t trailer, int error) {
    if (!PutBackTrailer(fd, trailer) || TruncateTo(fd, trailer + kTrailerLength) != 0) {
        return {AppendStatus::kAbandoned, error, trailer};
    }
    return {AppendStatus::kWriteFailed, error, trailer};
}

// After a failed sync the record goes again, as after a failed write; the
// writer then leaves the file, whose later syncs could report data on the
// disk that a failed writeback lost.
AppendOutcome TakeBack(int fd, off64_t trailer, int error) {
    const AppendOutcome undone = Undo(fd, trailer, error);
    if (undone.status == AppendStatus::kAbandoned) return undone;
    return {AppendStatus::kSyncFailed, error, trailer};
}

int OpenRetryingEintr(const char* path, int flags) {
    int fd;
    do {
        fd = open64(path, flags, kFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Errors with which a kernel or file system says it cannot make a file
// without a name (an old kernel opens the directory and fails the write
// access with EISDIR).
bool TmpfileUnsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Links the open anonymous file fd to path. The descriptor's entry in
// /proc serves every user; linking the descriptor itself (AT_EMPTY_PATH)
// needs, on older kernels, a capability that ordinary users lack, and is
// the way left where /proc is not mounted.
int LinkDescriptor(int fd, const std::string& path) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0) return errno;
    return linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

CreatedFile CreateNamed(const std::string& dirName, const std::string& baseName,
                        long long seconds) {
    CreatedFile created;
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        created.path = CreationPath(dirName, baseName, seconds + attempt);
        created.fd = OpenRetryingEintr(created.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC);
        if (created.fd >= 0) return created;
        created.error = errno;
        if (created.error != EEXIST) break;
    }
    return created;
}

// The writer's lock on the new file, from before its name shows (for a
// file made without one) until the writer closes it. A file system that
// keeps no such locks still gets the record: the file then reads as one
// whose writer is gone, and what would end it cannot take the lock either,
// so it refuses.
CreatedFile Locked(CreatedFile created) {
    if (created.fd >= 0) TakeWriterLock(created.fd);
    return created;
}

CreatedFile CreateUnlocked(const std::string& dirName, const std::string& baseName,
                           long long seconds) {
    CreatedFile created;
    created.path = CreationPath(dirName, baseName, seconds);
    created.fd =
        OpenRetryingEintr(HoldingDirectory(created.path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC);
    if (created.fd >= 0) {
        created.anonymous = true;
        return created;
    }
    created.error = errno;
    if (!TmpfileUnsupported(created.error)) return created;
    return CreateNamed(dirName, baseName, seconds);
}

}  // namespace

int WriteAllAt(int fd, const char* data, size_t size, off64_t offset) {
    while (size > 0) {
        const ssize_t written = pwrite64(fd, data, size, offset);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (written == 0) return EIO;  // no progress: give up rather than spin
        data += written;
        size -= static_cast<size_t>(written);
        offset += written;
    }
    return 0;
}

std::string HoldingDirectory(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int TruncateTo(int fd, off64_t size) {
    while (ftruncate64(fd, size) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

CreatedFile CreateJobResultsFile(const std::string& dirName, const std::string& baseName,
                                 long long seconds) {
    return Locked(CreateUnlocked(dirName, baseName, seconds));
}

int NameCreatedFile(CreatedFile& created, const std::string& dirName, const std::string& baseName,
                    long long seconds) {
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        created.path = CreationPath(dirName, baseName, seconds + attempt);
        created.error = LinkDescriptor(created.fd, created.path);
        if (created.error != EEXIST) break;
    }
    if (created.error == 0) created.anonymous = false;
    return created.error;
}

AppendOutcome AppendOverTrailer(int fd, char* data, size_t size, bool durable) {
    const off64_t trailer = lseek64(fd, 0, SEEK_CUR);
    if (trailer < 0) return {AppendStatus::kNoPosition, errno, 0};
    const Lead* lead =
        WithinOnePage(trailer, size) ? nullptr : ChooseLead(std::string_view(data, size));
    if (lead != nullptr) {
        if (const int error = WriteTail(fd, data, size, *lead, trailer)) {
            // The old trailer is untouched; only the unfinished tail goes.
            if (TruncateTo(fd, trailer + kTrailerLength) != 0) {
                return {AppendStatus::kAbandoned, error, trailer};
            }
            return {AppendStatus::kWriteFailed, error, trailer};
        }
        if (const int error = WriteAllAt(fd, data, lead->split, trailer)) {
            return Undo(fd, trailer, error);
        }
    } else if (const int error = WriteAllAt(fd, data, size, trailer)) {
        return Undo(fd, trailer, error);
    }
    if (const int error = durable ? SyncData(fd) : 0) return TakeBack(fd, trailer, error);
    const off64_t newTrailer = trailer + static_cast<off64_t>(size) - kTrailerLength;
    if (lseek64(fd, newTrailer, SEEK_SET) < 0) {
        return {AppendStatus::kSeekFailed, errno, newTrailer};
    }
    return {AppendStatus::kDone, 0, newTrailer};
}

FinishOutcome FinishAt(int fd, off64_t trailer, bool durable) {
    if (const int error =
            WriteAllAt(fd, kFinishTail.data(), kFinishTail.size(), trailer + kTrailerLength)) {
        // At most "t></Root>" lies behind the trailer: it forms no element.
        return {error, false};
    }
    // From here on the spare "</Root>" closes the document whatever happens
    // to the trailer. Putting the trailer back keeps a later append safe; a
    // repeated finish does not need it.
    if (const int error = WriteAllAt(fd, kFinishHead.data(), kFinishHead.size(), trailer)) {
        PutBackTrailer(fd, trailer);
        return {error, false};
    }
    const off64_t finalSize = trailer + static_cast<off64_t>(kFinalEndTag.size());
    if (const int error = TruncateTo(fd, finalSize)) {
        PutBackTrailer(fd, trailer);
        return {error, false};
    }
    if (const int error = durable ? SyncData(fd) : 0) return {error, true};
    return {};
}

namespace {

// Whether the file ends in the spare end tag of a save, which only a save
// writes, at trailer + 7: the save got past its first step.
bool SaveUnderWay(int fd, off64_t trailer) {
    char tail[kFinishTail.size() + 1];
    const off64_t at = trailer + kTrailerLength;
    ssize_t count;
    do {
        count = pread64(fd, tail, sizeof tail, at);
    } while (count < 0 && errno == EINTR);
    return count == static_cast<ssize_t>(kFinishTail.size()) &&
           std::string_view(tail, kFinishTail.size()) == kFinishTail;
}

}  // namespace

// Two ways, each through states the readers accept at every moment:
// - a save got past its first step ("t></Root>" ends the file): FinishAt
//   from the same offset rewrites that step's bytes as they are, and its
//   later steps go on as they would have (torn save states);
// - otherwise the trailer goes back at its offset, as after a failed
//   append (Undo): written over a torn head it mends it, or, cut at the
//   page boundary that cut the head, leaves the lead as the writer's
//   undoing leaves it; the cut behind it is one call, which a kill does
//   not split. The file is then open, and FinishAt saves it.
FinishOutcome FinishLeftAt(int fd, off64_t trailer, bool durable) {
    if (!SaveUnderWay(fd, trailer)) {
        if (const int error = WriteAllAt(fd, kTrailer.data(), kTrailer.size(), trailer)) {
            return {error, false};
        }
        if (const int error = TruncateTo(fd, trailer + kTrailerLength)) return {error, false};
    }
    return FinishAt(fd, trailer, durable);
}

}  // namespace jobresults
