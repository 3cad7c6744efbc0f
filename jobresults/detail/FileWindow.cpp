#include "jobresults/detail/FileWindow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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
    : m_nFd(fd), m_nFileSize(SizeOf(fd)), m_nFirstBlock(blockSize > 0 ? blockSize : 1) {}

FileWindow::~FileWindow() { std::free(m_pData); }

bool FileWindow::Grow(size_t capacity) {
    void* grown = std::realloc(m_pData, capacity);
    if (grown == nullptr) return false;
    m_pData = static_cast<char*>(grown);
    m_nCapacity = capacity;
    return true;
}

int FileWindow::Fill() {
    while (m_nSize < m_nCapacity && !m_bAtEnd) {
        const size_t room = m_nCapacity - m_nSize;
        const ssize_t count =
            read(m_nFd, m_pData + m_nSize, room < kMaxReadSize ? room : kMaxReadSize);
        if (count < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (count == 0) m_bAtEnd = true;
        m_nSize += static_cast<size_t>(count);
    }
    return 0;
}

int FileWindow::Advance(size_t used) {
    if (used > m_nSize) used = m_nSize;
    m_nSize -= used;
    m_nDropped += used;
    if (m_nSize > 0 && used > 0) std::memmove(m_pData, m_pData + used, m_nSize);
    if (m_bAtEnd) return 0;
    if (m_nCapacity == 0) {
        if (!Grow(m_nFirstBlock)) return ENOMEM;
    } else if (m_nSize > m_nCapacity / 2) {
        if (m_nCapacity > SIZE_MAX / 2 || !Grow(m_nCapacity * 2)) return ENOMEM;
    }
    return Fill();
}

int FileWindow::ReadToEnd(size_t used) {
    int error = Advance(used);
    while (error == 0 && !m_bAtEnd) error = Advance(0);
    return error;
}

int FileWindow::OpenToRead(const std::string& path) {
    int fd;
    do {
        fd = open64(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Compares the text held with the file from offset start on. When growth
// counts, one byte more is asked for, so that it shows in the same read.
int FileWindow::Differs(long long start, bool growthCounts, bool& changed) const {
    char piece[kRecheckPiece];
    size_t done = 0;
    for (;;) {
        const size_t left = m_nSize - done;
        const size_t wanted = std::min(left + (growthCounts ? 1 : 0), sizeof piece);
        if (wanted == 0) return 0;
        const ssize_t count = pread64(m_nFd, piece, wanted, static_cast<off64_t>(start + done));
        if (count < 0) {
            if (errno == EINTR) continue;
            return errno == ESPIPE ? 0 : errno;
        }
        const size_t got = static_cast<size_t>(count);
        if (got > left || (got == 0 && left > 0) || std::memcmp(piece, m_pData + done, got) != 0) {
            changed = true;
            return 0;
        }
        done += got;
        // A short read ends the file; it has not grown when it ends here.
        if (got < wanted && done == m_nSize) return 0;
    }
}

int FileWindow::Recheck(bool toTheEnd, bool& changed) {
    changed = false;
    const off64_t position = lseek64(m_nFd, 0, SEEK_CUR);
    if (position < 0) return errno == ESPIPE ? 0 : errno;
    const long long start = static_cast<long long>(position) - static_cast<long long>(m_nSize);
    if (const int error = Differs(start, toTheEnd && m_bAtEnd, changed)) return error;
    if (!changed) return 0;
    if (lseek64(m_nFd, static_cast<off64_t>(start), SEEK_SET) < 0) return errno;
    m_nSize = 0;
    m_bAtEnd = false;
    return Fill();
}

}  // namespace jobresults
