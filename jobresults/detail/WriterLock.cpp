// The writer's lock: F_OFD_* locks, which belong to the open file
// description rather than the process, so that a second descriptor of the
// same process conflicts too and closing an unrelated descriptor of the
// file releases nothing.
#include "jobresults/detail/WriterLock.h"

#include <fcntl.h>

#include <cerrno>

namespace jobresults {
namespace {

struct flock64 WriterByte(short type) {
    struct flock64 lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kWriterLockOffset;
    lock.l_len = 1;
    lock.l_pid = 0;  // required by the OFD commands
    return lock;
}

int SetLock(int fd, short type) {
    struct flock64 lock = WriterByte(type);
    while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno == EINTR) continue;
        // Both words mean "held by another" for F_SETLK.
        return errno == EACCES ? EAGAIN : errno;
    }
    return 0;
}

}  // namespace

int TakeWriterLock(int fd) { return SetLock(fd, F_WRLCK); }

int ShareWriterLock(int fd) { return SetLock(fd, F_RDLCK); }

void ReleaseWriterLock(int fd) {
    struct flock64 lock = WriterByte(F_UNLCK);
    fcntl(fd, F_OFD_SETLK, &lock);
}

int TestWriterLock(int fd, bool& held) {
    // A shared lock conflicts only with the writer's (exclusive) lock, so
    // readers that share it (a salvage) do not show as a writer.
    struct flock64 lock = WriterByte(F_RDLCK);
    while (fcntl(fd, F_OFD_GETLK, &lock) != 0) {
        if (errno != EINTR) return errno;
    }
    held = lock.l_type != F_UNLCK;
    return 0;
}

}  // namespace jobresults
