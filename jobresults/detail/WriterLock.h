// The lock by which a writer is known to be alive: an open file description
// lock (F_OFD_SETLK) on one byte far behind anything a file will ever hold.
// The writer takes it on the descriptor it creates the file with, before
// the file has a name, and holds it until it closes the file; the kernel
// drops it when the process dies, however it dies. Readers never take it:
// they test for it without taking it (F_OFD_GETLK), so a reader never
// blocks and never disturbs a writer. What ends a file a writer left takes
// the same lock for itself, so that two of them exclude each other.
#ifndef CIJOBRESULTS_JOBRESULTS_DETAIL_WRITERLOCK_H
#define CIJOBRESULTS_JOBRESULTS_DETAIL_WRITERLOCK_H

#include <sys/types.h>

#include <limits>

namespace jobresults {

// The locked byte: no file reaches it, so no other user of byte-range
// locks on the same file (a backup program, say) meets the writer's lock.
inline constexpr off64_t kWriterLockOffset = std::numeric_limits<off64_t>::max() - 1;

// Takes the writer's lock on fd (open for writing) without waiting. 0, or
// EAGAIN when another open file description holds it, or the errno of a
// file system that keeps no such locks.
int TakeWriterLock(int fd);

// Takes a shared hold on the writer's byte (fd open for reading) without
// waiting: it keeps every other holder of the writer's lock out while the
// caller works on the file. 0, EAGAIN, or the errno as above.
int ShareWriterLock(int fd);

// Lets go of what fd took of the writer's lock.
void ReleaseWriterLock(int fd);

// Whether another open file description holds the writer's lock on the
// file fd is open on (any access mode); taken and left untouched. 0, or
// the errno of the test.
int TestWriterLock(int fd, bool& held);

}  // namespace jobresults

#endif  // CIJOBRESULTS_JOBRESULTS_DETAIL_WRITERLOCK_H
