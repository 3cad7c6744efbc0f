#include "jobresults/detail/Fingerprint.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace jobresults {
namespace {

// The file's start taken in: at least Root's start tag, and a few records.
constexpr std::uint64_t kHeadBytes = 4096;
// In front of the offset: the end of the last record read, at least.
constexpr std::uint64_t kBehindBytes = 256;

constexpr std::uint64_t kFnvOffset = 14695981039346656037ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;

// Hashes bytes [from, to) of fd into hash (FNV-1a).
int HashRange(int fd, std::uint64_t from, std::uint64_t to, std::uint64_t& hash) {
    char piece[kHeadBytes];
    while (from < to) {
        const auto wanted = static_cast<size_t>(std::min<std::uint64_t>(to - from, sizeof piece));
        const ssize_t count = pread64(fd, piece, wanted, static_cast<off64_t>(from));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) return ESTALE;
        for (ssize_t i = 0; i < count; ++i) {
            hash = (hash ^ static_cast<unsigned char>(piece[i])) * kFnvPrime;
        }
        from += static_cast<std::uint64_t>(count);
    }
    return 0;
}

}  // namespace

int FingerprintAt(int fd, std::uint64_t offset, std::uint64_t rootContent,
                  std::uint64_t& fingerprint) {
    const std::uint64_t headEnd = std::min(offset, std::max(kHeadBytes, rootContent));
    const std::uint64_t behindStart =
        std::max(headEnd, offset > kBehindBytes ? offset - kBehindBytes : 0);
    std::uint64_t hash = kFnvOffset;
    int error = HashRange(fd, 0, headEnd, hash);
    if (error == 0) error = HashRange(fd, behindStart, offset, hash);
    if (error == 0) fingerprint = hash;
    return error;
}

}  // namespace jobresults
