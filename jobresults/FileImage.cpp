#include "jobresults/FileImage.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace jobresults {
namespace {

constexpr size_t kMinCapacity = 64 * 1024;
// One read hands over at most this much (Linux caps a read near 2 GiB).
constexpr size_t kMaxReadSize = size_t{1} << 30;
// From this size on an image gets a mapping of its own.
constexpr size_t kMapThreshold = size_t{1} << 20;
// Below this size the pages are not worth giving back one by one.
constexpr size_t kReleaseThreshold = size_t{4} << 20;
constexpr size_t kReleaseStep = size_t{512} << 10;

size_t PageSize() {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<size_t>(size) : 4096;
}

}  // namespace

FileImage::~FileImage() {
    if (m_bMapped) {
        munmap(m_pData, m_nCapacity);
    } else {
        std::free(m_pData);
    }
}

bool FileImage::GrowMapped(size_t capacity) {
    void* grown;
    if (m_bMapped) {
        grown = mremap(m_pData, m_nCapacity, capacity, MREMAP_MAYMOVE);
    } else {
        grown = mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (grown != MAP_FAILED && m_nSize > 0) std::memcpy(grown, m_pData, m_nSize);
        if (grown != MAP_FAILED) std::free(m_pData);
    }
    if (grown == MAP_FAILED) return false;
    m_pData = static_cast<char*>(grown);
    m_nCapacity = capacity;
    m_bMapped = true;
    return true;
}

bool FileImage::Grow(size_t capacity) {
    if (capacity >= kMapThreshold) return GrowMapped(capacity);
    void* grown = std::realloc(m_pData, capacity);
    if (grown == nullptr) return false;
    m_pData = static_cast<char*>(grown);
    m_nCapacity = capacity;
    return true;
}

int FileImage::ReadAll(int fd) {
    struct stat64 status {};
    size_t expected = 0;
    if (fstat64(fd, &status) == 0 && status.st_size > 0) {
        expected = static_cast<size_t>(status.st_size);
    }
    // One byte more than expected, so the read that reports the end of the
    // file needs no second buffer.
    if (!Grow(expected + 1 > kMinCapacity ? expected + 1 : kMinCapacity)) return ENOMEM;
    for (;;) {
        if (m_nSize == m_nCapacity && !Grow(m_nCapacity * 2)) return ENOMEM;
        const size_t room = m_nCapacity - m_nSize;
        const ssize_t count = read(fd, m_pData + m_nSize, room < kMaxReadSize ? room : kMaxReadSize);
        if (count < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (count == 0) return 0;
        m_nSize += static_cast<size_t>(count);
    }
}

void FileImage::ReleaseBefore(size_t offset) {
    if (!m_bMapped || m_nCapacity < kReleaseThreshold || offset < m_nReleased + kReleaseStep) return;
    const uintptr_t page = PageSize();
    const uintptr_t base = reinterpret_cast<uintptr_t>(m_pData);
    const uintptr_t from = (base + m_nReleased + page - 1) / page * page;
    const uintptr_t to = (base + offset) / page * page;
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
    m_nReleased = offset;
}

}  // namespace jobresults
