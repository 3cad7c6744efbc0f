// A sliding window over a file read front to back in large blocks. The
// reader cuts what it can out of the text held, drops what it has used and
// asks for more; an element that does not fit stays in the window, which
// grows until it does. Only a block or two of the file is held at a time,
// and the block that is being cut stays in the processor's cache.
//
// A file is read with pread from its start, so a descriptor that a caller
// lends keeps its offset; a pipe is read with read from where it stands.
// The window can pass over a stretch of the file (Skip): a reader that
// resumes behind a record sees Root's start tag followed by the bytes
// behind the record, as one text, without a copy of either.
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

    // Reads fd from its start (a pipe from where it stands); blockSize is
    // the size of the first buffer (small sizes let tests put every cut at
    // a block edge).
    explicit FileWindow(int fd, size_t blockSize = kDefaultBlockSize);
    ~FileWindow();
    FileWindow(const FileWindow&) = delete;
    FileWindow& operator=(const FileWindow&) = delete;

    std::string_view Text() const { return std::string_view(m_data, m_size); }

    // Whether the text held runs to the end of the file.
    bool AtEnd() const { return m_atEnd; }

    // How much text a reader keeps for one element before it looks for the
    // element's end in the file instead: half the first block, so that the
    // buffer need not grow for it, and tests with small blocks take that
    // way often.
    size_t HoldLimit() const { return m_firstBlock / 2 + 1; }

    // Bytes of the text before the text held (dropped so far): an offset
    // in the file, less the stretch skipped when it lies behind the skip.
    size_t Dropped() const { return m_dropped; }

    // Before the first read: the text runs from the file's start to `from`,
    // then goes on at `to` (from <= to). FileOffset maps offsets back.
    void Skip(std::uint64_t from, std::uint64_t to);
    std::uint64_t FileOffset(std::uint64_t textOffset) const {
        return textOffset >= m_skipFrom ? textOffset + m_skipLength : textOffset;
    }

    // The size the file had when the window was made (0 if unknown).
    size_t FileSize() const { return m_fileSize; }

    // Drops the first `used` bytes of the text held, then reads until the
    // buffer is full or the file ends, growing the buffer by half when what is kept
    // fills half of it (so an element is never scanned more than a few
    // times however it arrives). Returns 0, or the errno of the failed read
    // (ENOMEM when no buffer can be had).
    int Advance(size_t used);

    // The text held will have to grow to `bytes` from its start, and no
    // further (an element whose end is known): the buffer takes that size
    // at once rather than growing by halves past it. Returns false when no
    // such buffer can be had. Drop ends it.
    bool Reserve(size_t bytes);

    // Drops the first `used` bytes of the text held without reading, and
    // gives back what the buffer grew by to hold one long element (the text
    // read behind it is read again from the file, when it can be): a reader
    // that delivered a long record holds it once, in the caller's record,
    // not twice.
    void Drop(size_t used);

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

    // Drops the text held and goes on reading from offset `offset` (of the
    // text, as Dropped(): FileOffset maps it into the file).
    // Returns 0 or the errno of a failed call.
    int SeekTo(std::uint64_t offset);

    // Looks for needle in the text from offset `from` on, reading small
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
    // 0 when fd is open on a regular file, else the errno OpenToRead gives.
    static int RegularFileError(int fd);

private:
    int Fill();
    // Reads up to `size` bytes of the text at `at` into `into`: short only
    // where the file ends. -1 with errno on failure.
    long long ReadText(char* into, size_t size, std::uint64_t at);
    int FindInFile(std::uint64_t from, std::string_view needle, std::uint64_t& found,
                   std::uint64_t& fileEnd, std::uint64_t until) const;
    int Differs(std::uint64_t start, bool growthCounts, bool& changed);
    bool Grow(size_t capacity);

    int m_fd;
    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
    size_t m_reserved = 0;  // Reserve's size, 0 when none
    size_t m_dropped = 0;
    size_t m_fileSize = 0;
    size_t m_firstBlock;
    bool m_atEnd = false;
    bool m_seekable;
    std::uint64_t m_skipFrom = UINT64_MAX;
    std::uint64_t m_skipLength = 0;
};

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_FILEWINDOW_H
