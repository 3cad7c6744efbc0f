// A sealed text kept in a file of its own, read back whole.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "jobresults/JobResultsReplace.h"

namespace jobresults {
namespace {

// The whole content of `fd` into `text`: 0, or the errno of a failed read.
int ReadToEnd(int fd, std::string& text) {
    char block[1 << 16];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno;
        if (got == 0) return 0;
        text.append(block, static_cast<std::size_t>(got));
    }
}

}  // namespace

int ReadSealedFile(const std::string& path, std::string_view kind, std::vector<std::string>& lines,
                   SealedRead& outcome) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    std::string text;
    const int failure = ReadToEnd(fd, text);
    close(fd);
    if (failure == 0) outcome = OpenSealedText(text, kind, lines);
    return failure;
}

}  // namespace jobresults
