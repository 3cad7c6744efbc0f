#include "jobresults/detail/FileWindow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace jobresults {
namespace {

// One read hands over at most this much (Linux caps a read near 2 GiB).
constexpr size_t kMaxReadSize = size_t{1} << 30;

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

}  // namespace jobresults
