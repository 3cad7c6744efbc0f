// The fingerprint by which a reader that resumes in a file tells that the
// file is still the one it read: a hash of the bytes in front of the
// resume offset, those at the file's start (its header, Root's start tag
// and first records) and those just in front of the offset (the end of the
// last record read). A file replaced, or rewritten in place, keeps neither.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_FINGERPRINT_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_FINGERPRINT_H

#include <cstdint>

namespace jobresults {

// The fingerprint of fd's bytes in front of `offset`, read with pread
// (fd's own offset stays). 0 with `fingerprint` set, ESTALE when the file
// is shorter than `offset`, or the errno of a failed read.
int FingerprintAt(int fd, std::uint64_t offset, std::uint64_t rootContent,
                  std::uint64_t& fingerprint);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_FINGERPRINT_H
