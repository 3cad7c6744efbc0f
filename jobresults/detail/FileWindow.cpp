#include "jobresults/detail/FileWindow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace jobresults {
namespace {

// One read hands over at most this much (Linux caps a read near 2 GiB).
constexpr size_t kMaxReadSize = size_t{1} << 30;

// Recheck compares the text held with the file in pieces of this size.
constexpr size_t kRecheckPiece = size_t{4} << 10;

size_t SizeOf(int fd) {
    struct stat64 status {};
    if (fstat64(fd, &status) != 0 || status.st_size <= 0) return 0;
    return static_cast<size_t>(status.st_size);
}

}  // namespace

FileWindow::FileWindow(int fd, size_t blockSize)
    : m_fd(fd),
      m_fileSize(SizeOf(fd)),
      m_firstBlock(blockSize > 0 ? blockSize : 1),
      m_seekable(lseek64(fd, 0, SEEK_CUR) >= 0) {}

void FileWindow::Skip(std::uint64_t from, std::uint64_t to) {
    m_skipFrom = from;
    m_skipLength = to > from ? to - from : 0;
}

long long FileWindow::ReadText(char* into, size_t size, std::uint64_t at) {
    size_t done = 0;
    while (done < size) {
        const std::uint64_t textAt = at + done;
        size_t wanted = std::min(size - done, kMaxReadSize);
        // A read stops at the start of the skipped stretch.
        if (textAt < m_skipFrom)
            wanted = static_cast<size_t>(std::min<std::uint64_t>(wanted, m_skipFrom - textAt));
        const ssize_t count = m_seekable ? pread64(m_fd, into + done, wanted,
                                                   static_cast<off64_t>(FileOffset(textAt)))
                                         : read(m_fd, into + done, wanted);
        if (count < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (count == 0) break;
        done += static_cast<size_t>(count);
        // A pipe hands over what has arrived; the caller asks again.
        if (!m_seekable) break;
    }
    return static_cast<long long>(done);
}

FileWindow::~FileWindow() { std::free(m_data); }

bool FileWindow::Grow(size_t capacity) {
    void* grown = std::realloc(m_data, capacity);
    if (grown == nullptr) return false;
    m_data = static_cast<char*>(grown);
    m_capacity = capacity;
    return true;
}

int FileWindow::Fill() {
    while (m_size < m_capacity && !m_atEnd) {
        const long long count = ReadText(m_data + m_size, m_capacity - m_size, m_dropped + m_size);
        if (count < 0) return errno;
        if (count == 0) m_atEnd = true;
        m_size += static_cast<size_t>(count);
    }
    return 0;
}

int FileWindow::Advance(size_t used) {
    if (used > m_size) used = m_size;
    m_size -= used;
    m_dropped += used;
    if (m_size > 0 && used > 0) std::memmove(m_data, m_data + used, m_size);
    if (m_atEnd) return 0;
    if (m_capacity == 0) {
        if (!Grow(m_firstBlock)) return ENOMEM;
    } else if (m_size > m_capacity / 2 &&
               (m_capacity < m_reserved || m_reserved == 0 || m_size == m_capacity)) {
        // By half again, not double: an element held whole then costs at
        // most 1.5 times its size in the window, beside its copy in the
        // caller's record.
        if (m_capacity > SIZE_MAX / 3 || !Grow(m_capacity + m_capacity / 2 + 1)) return ENOMEM;
    }
    return Fill();
}

bool FileWindow::Reserve(size_t bytes) {
    m_reserved = bytes;
    return bytes <= m_capacity || Grow(bytes);
}

void FileWindow::Drop(size_t used) {
    m_reserved = 0;
    if (used > m_size) used = m_size;
    m_size -= used;
    m_dropped += used;
    if (m_capacity <= m_firstBlock) {
        if (m_size > 0 && used > 0) std::memmove(m_data, m_data + used, m_size);
        return;
    }
    // What was read behind the element is read again later, from the file.
    const size_t kept = m_seekable ? std::min(m_size, m_firstBlock / 2) : m_size;
    if (kept < m_size) m_atEnd = false;
    m_size = kept;
    if (m_size > 0 && used > 0) std::memmove(m_data, m_data + used, m_size);
    if (m_size <= m_firstBlock / 2) Grow(m_firstBlock);
}

int FileWindow::ReadToEnd(size_t used) {
    int error = Advance(used);
    while (error == 0 && !m_atEnd) error = Advance(0);
    return error;
}

int FileWindow::SeekTo(std::uint64_t offset) {
    if (!m_seekable) return ESPIPE;
    m_dropped = static_cast<size_t>(offset);
    m_size = 0;
    m_atEnd = false;
    return Fill();
}

namespace {

// pread until `length` bytes or the end of the file; how many were read.
ssize_t ReadFully(int fd, char* into, size_t length, std::uint64_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t count =
            pread64(fd, into + done, length - done, static_cast<off64_t>(offset + done));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return -1;
        if (count == 0) break;
        done += static_cast<size_t>(count);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

// Offsets are those of the text; the file is read at FileOffset of them,
// behind a skipped stretch when the search starts there.
int FileWindow::FindAhead(std::uint64_t from, std::string_view needle, std::uint64_t& found,
                          std::uint64_t& fileEnd, std::uint64_t until) const {
    const std::uint64_t shift = FileOffset(from) - from;
    std::uint64_t end = kNotFound;
    const int error =
        FindInFile(from + shift, needle, found, end, until == kNotFound ? until : until + shift);
    if (error == 0 && found != kNotFound) found -= shift;
    if (error == 0 && end != kNotFound) fileEnd = end - shift;
    return error;
}

int FileWindow::FindInFile(std::uint64_t from, std::string_view needle, std::uint64_t& found,
                           std::uint64_t& fileEnd, std::uint64_t until) const {
    constexpr size_t kPiece = size_t{16} << 10;
    // Each piece starts with the last bytes of the one before, so that a
    // needle split between two pieces is seen.
    std::string piece(kPiece + needle.size(), '\0');
    size_t kept = 0;
    for (std::uint64_t offset = from;;) {
        const ssize_t count = ReadFully(m_fd, &piece[kept], kPiece, offset);
        if (count < 0) return errno;
        const size_t held = kept + static_cast<size_t>(count);
        const size_t at = std::string_view(piece.data(), held).find(needle);
        if (at != std::string_view::npos) {
            found = offset - kept + at;
            if (found + needle.size() > until) found = kNotFound;
            return 0;
        }
        offset += static_cast<std::uint64_t>(count);
        if (offset >= until) {
            found = kNotFound;
            return 0;
        }
        if (static_cast<size_t>(count) < kPiece) {
            found = kNotFound;
            fileEnd = offset;
            return 0;
        }
        kept = std::min(held, needle.size() - 1);
        std::memmove(&piece[0], piece.data() + held - kept, kept);
    }
}

int FileWindow::ReadAt(std::uint64_t offset, size_t length, std::string& out) const {
    out.resize(length);
    const ssize_t count = ReadFully(m_fd, &out[0], length, FileOffset(offset));
    if (count < 0) return errno;
    out.resize(static_cast<size_t>(count));
    return 0;
}

int FileWindow::RegularFileError(int fd) {
    struct stat64 status {};
    if (fstat64(fd, &status) != 0) return errno;
    if (S_ISREG(status.st_mode)) return 0;
    return S_ISDIR(status.st_mode) ? EISDIR : kNotRegularFile;
}

// Opened without blocking, so that a FIFO (or a device) put where a file
// was expected cannot hang the open; the descriptor, not the name, is then
// checked, so that nothing swapped in between a check and the open is read.
int FileWindow::OpenToRead(const std::string& path) {
    int fd;
    do {
        fd = open64(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fd;
    int error = RegularFileError(fd);
    if (error == 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) error = errno;
    if (error == 0) return fd;
    ::close(fd);
    errno = error;
    return -1;
}

// Compares the text held with the file from offset start on. When growth
// counts, one byte more is asked for, so that it shows in the same read.
int FileWindow::Differs(std::uint64_t start, bool growthCounts, bool& changed) {
    char piece[kRecheckPiece];
    size_t done = 0;
    for (;;) {
        const size_t left = m_size - done;
        const size_t wanted = std::min(left + (growthCounts ? 1 : 0), sizeof piece);
        if (wanted == 0) return 0;
        const long long count = ReadText(piece, wanted, start + done);
        if (count < 0) return errno;
        const size_t got = static_cast<size_t>(count);
        if (got > left || (got == 0 && left > 0) || std::memcmp(piece, m_data + done, got) != 0) {
            changed = true;
            return 0;
        }
        done += got;
        // A short read ends the file; it has not grown when it ends here.
        if (got < wanted && done == m_size) return 0;
    }
}

int FileWindow::Recheck(bool toTheEnd, bool& changed) {
    changed = false;
    if (!m_seekable) return 0;
    if (const int error = Differs(m_dropped, toTheEnd && m_atEnd, changed)) return error;
    if (!changed) return 0;
    m_size = 0;
    m_atEnd = false;
    return Fill();
}

}  // namespace jobresults
