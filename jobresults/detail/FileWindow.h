// A sliding window over a file read front to back in large blocks. The
// reader cuts what it can out of the text held, drops what it has used and
// asks for more; an element that does not fit stays in the window, which
// grows until it does. Only a block or two of the file is held at a time,
// and the block that is being cut stays in the processor's cache.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_FILEWINDOW_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_FILEWINDOW_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace jobresults {

class FileWindow {
public:
    static constexpr size_t kDefaultBlockSize = size_t{256} << 10;

    // Reads fd from its current position on; blockSize is the size of the
    // first buffer (small sizes let tests put every cut at a block edge).
    explicit FileWindow(int fd, size_t blockSize = kDefaultBlockSize);
    ~FileWindow();
    FileWindow(const FileWindow&) = delete;
    FileWindow& operator=(const FileWindow&) = delete;

    std::string_view Text() const { return std::string_view(m_data, m_size); }

    // Whether the text held runs to the end of the file.
    bool AtEnd() const { return m_atEnd; }

    // How much text a reader keeps for one element before it looks for the
    // element's end in the file instead: the first block's size, so that
    // tests with small blocks take that way often.
    size_t HoldLimit() const { return m_firstBlock; }

    // Bytes of the file before the text held (dropped so far).
    size_t Dropped() const { return m_dropped; }

    // The size the file had when the window was made (0 if unknown).
    size_t FileSize() const { return m_fileSize; }

    // Drops the first `used` bytes of the text held, then reads until the
    // buffer is full or the file ends, growing the buffer when what is kept
    // fills half of it (so an element is never scanned more than a few
    // times however it arrives). Returns 0, or the errno of the failed read
    // (ENOMEM when no buffer can be had).
    int Advance(size_t used);

    // Drops the first `used` bytes and reads everything that is left.
    int ReadToEnd(size_t used);

    // Whether the file still holds the text held, and, with toTheEnd when
    // that text ran to the end of the file, nothing behind it. A writer may
    // have rewritten the bytes since they were read; then the window reads
    // them again from the same offset (as Advance would, into the buffer it
    // has) and `changed` is set. The comparison reads the file in small
    // pieces, so it costs no memory. A descriptor that cannot be read at an
    // offset (a pipe) counts as unchanged. Returns 0 or the errno of a
    // failed call.
    int Recheck(bool toTheEnd, bool& changed);

    // Drops the text held and goes on reading from file offset `offset`.
    // Returns 0 or the errno of a failed call.
    int SeekTo(std::uint64_t offset);

    // Looks for needle in the file from offset `from` on, reading small
    // pieces at an offset, so that it costs no memory and leaves the window
    // as it is: `found` is its offset, or kNotFound when the file ends
    // first, `fileEnd` then where the file ended. Returns 0 or an errno.
    static constexpr std::uint64_t kNotFound = ~std::uint64_t{0};
    // The search stops at offset `until` (found is then kNotFound too).
    int FindAhead(std::uint64_t from, std::string_view needle, std::uint64_t& found,
                  std::uint64_t& fileEnd, std::uint64_t until = kNotFound) const;

    // Up to `length` bytes of the file from `offset`, into out.
    int ReadAt(std::uint64_t offset, size_t length, std::string& out) const;

    // Opens path for reading, as the readers do; -1 with errno on failure.
    // Only regular files are read: a directory fails with EISDIR, anything
    // else (a FIFO, a device, a socket) with kNotRegularFile, and the open
    // never blocks.
    static int OpenToRead(const std::string& path);
    static constexpr int kNotRegularFile = EINVAL;

private:
    int Fill();
    int Differs(long long start, bool growthCounts, bool& changed) const;
    bool Grow(size_t capacity);

    int m_fd;
    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
    size_t m_dropped = 0;
    size_t m_fileSize = 0;
    size_t m_firstBlock;
    bool m_atEnd = false;
};

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_FILEWINDOW_H
