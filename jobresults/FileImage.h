// The whole of a file in memory, read in large blocks. While the text is
// turned into nodes front to back, the pages already used can be given back,
// so that the file and the nodes made from it are not held in full at once.
// Large images get a mapping of their own whose pages are all set up in one
// go, rather than one page fault at a time while the file is read.
#ifndef CIJOBRESULTS_JOBRESULTS_FILEIMAGE_H
#define CIJOBRESULTS_JOBRESULTS_FILEIMAGE_H

#include <cstddef>
#include <string_view>

namespace jobresults {

class FileImage {
public:
    FileImage() = default;
    ~FileImage();
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;

    // Reads fd from its current position to the end of the file. Returns 0,
    // or the errno of the failed call (ENOMEM when no buffer can be had).
    int ReadAll(int fd);

    std::string_view Text() const { return std::string_view(m_pData, m_nSize); }

    // Gives back the whole pages before offset. The text before offset must
    // not be read afterwards.
    void ReleaseBefore(size_t offset);

private:
    bool Grow(size_t capacity);
    bool GrowMapped(size_t capacity);

    char* m_pData = nullptr;
    size_t m_nSize = 0;
    size_t m_nCapacity = 0;
    size_t m_nReleased = 0;
    bool m_bMapped = false;  // large images live in a mapping of their own
};

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_FILEIMAGE_H
