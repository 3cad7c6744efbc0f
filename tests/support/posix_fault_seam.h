// Fault injection for the POSIX calls of the job results store. The test
// executable that includes this header defines pwrite64, ftruncate64,
// lseek64, read, pread64 (the readers' read, armed as kRead), open64, linkat,
// fdatasync and fsync (both armed as kSync) itself; the library's calls reach these definitions
// before the C library's, and they forward to the real ones unless a rule
// is armed for the descriptor and call.
//
// Include this header in exactly one source file of a test executable.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_POSIX_FAULT_SEAM_H
#define CIJOBRESULTS_TESTS_SUPPORT_POSIX_FAULT_SEAM_H

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>

namespace faultseam {

enum Call { kPwrite, kFtruncate, kLseek, kRead, kSync, kCallCount };

// A rule's fd that matches every descriptor (a directory's the store opens
// to sync it, say).
constexpr int kAnyDescriptor = -2;

enum class Fault {
    kNone,
    kError,  // fail with the rule's errno, nothing done
    kEintr,  // fail with EINTR, nothing done
    kShort,  // do at most shortBytes of the transfer for real
};

struct Rule {
    int fd = -1;    // the descriptor the rule applies to; -1: none
    int skip = 0;   // calls let through before the first fault
    int times = 0;  // faults to inject; -1: no end
    int every = 1;  // of the calls after skip, only every n-th is faulted
    Fault fault = Fault::kNone;
    Fault then = Fault::kNone;  // injected once times ran out ...
    int thenTimes = -1;         // ... into this many calls; -1: no end
    int error = EIO;
    size_t shortBytes = 1;
    long seen = 0;  // calls after skip, faulted or not
};

struct State {
    Rule rules[kCallCount];
    long calls[kCallCount] = {};  // calls seen on armed descriptors
    int tmpfileError = 0;         // when set, opening a file without a name fails with it
    long links = 0;               // successful linkat calls
};

inline State& Seam() {
    static State state;
    return state;
}

inline void Arm(Call call, const Rule& rule) { Seam().rules[call] = rule; }
inline void DisarmAll() { Seam() = State(); }
// Counts the calls made on fd from now on, injecting nothing.
inline void Watch(int fd) {
    DisarmAll();
    for (Rule& rule : Seam().rules) rule.fd = fd;
}
inline long Calls(Call call) { return Seam().calls[call]; }
// Makes every open with O_TMPFILE fail with error, as on a file system
// that cannot create a file without a name.
inline void FailTmpfile(int error) { Seam().tmpfileError = error; }
inline long Links() { return Seam().links; }

// The fault to inject into this call, if any.
inline Fault Decide(Call call, int fd, size_t* limit) {
    Rule& rule = Seam().rules[call];
    if (rule.fd == -1 || (rule.fd != kAnyDescriptor && fd != rule.fd)) return Fault::kNone;
    ++Seam().calls[call];
    if (rule.fault == Fault::kNone) return Fault::kNone;
    if (rule.skip > 0) {
        --rule.skip;
        return Fault::kNone;
    }
    Fault fault = rule.fault;
    if (rule.times != 0) {
        if (rule.seen++ % rule.every != 0) return Fault::kNone;
        if (rule.times > 0) --rule.times;
    } else {
        if (rule.thenTimes == 0) return Fault::kNone;
        if (rule.thenTimes > 0) --rule.thenTimes;
        fault = rule.then;
    }
    if (fault == Fault::kError) errno = rule.error;
    if (fault == Fault::kEintr) errno = EINTR;
    *limit = rule.shortBytes;
    return fault;
}

template <class Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// fdatasync and fsync: failed when the kSync rule says so.
inline int SyncThroughSeam(int (*real)(int), int fd) {
    size_t limit = 0;
    const Fault fault = Decide(kSync, fd, &limit);
    if (fault == Fault::kError || fault == Fault::kEintr) return -1;
    return real(fd);
}

}  // namespace faultseam

extern "C" {

ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset) {
    using Function = ssize_t (*)(int, const void*, size_t, off64_t);
    static const Function real = faultseam::Real<Function>("pwrite64");
    size_t limit = count;
    switch (faultseam::Decide(faultseam::kPwrite, fd, &limit)) {
        case faultseam::Fault::kError:
        case faultseam::Fault::kEintr:
            return -1;
        case faultseam::Fault::kShort:
            return real(fd, buffer, count < limit ? count : limit, offset);
        case faultseam::Fault::kNone:
            break;
    }
    return real(fd, buffer, count, offset);
}

ssize_t read(int fd, void* buffer, size_t count) {
    using Function = ssize_t (*)(int, void*, size_t);
    static const Function real = faultseam::Real<Function>("read");
    size_t limit = count;
    switch (faultseam::Decide(faultseam::kRead, fd, &limit)) {
        case faultseam::Fault::kError:
        case faultseam::Fault::kEintr:
            return -1;
        case faultseam::Fault::kShort:
            return real(fd, buffer, count < limit ? count : limit);
        case faultseam::Fault::kNone:
            break;
    }
    return real(fd, buffer, count);
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
    using Function = ssize_t (*)(int, void*, size_t, off64_t);
    static const Function real = faultseam::Real<Function>("pread64");
    size_t limit = count;
    switch (faultseam::Decide(faultseam::kRead, fd, &limit)) {
        case faultseam::Fault::kError:
        case faultseam::Fault::kEintr:
            return -1;
        case faultseam::Fault::kShort:
            return real(fd, buffer, count < limit ? count : limit, offset);
        case faultseam::Fault::kNone:
            break;
    }
    return real(fd, buffer, count, offset);
}

int ftruncate64(int fd, off64_t length) noexcept {
    using Function = int (*)(int, off64_t);
    static const Function real = faultseam::Real<Function>("ftruncate64");
    size_t limit = 0;
    const faultseam::Fault fault = faultseam::Decide(faultseam::kFtruncate, fd, &limit);
    if (fault == faultseam::Fault::kError || fault == faultseam::Fault::kEintr) return -1;
    return real(fd, length);
}

off64_t lseek64(int fd, off64_t offset, int whence) noexcept {
    using Function = off64_t (*)(int, off64_t, int);
    static const Function real = faultseam::Real<Function>("lseek64");
    size_t limit = 0;
    const faultseam::Fault fault = faultseam::Decide(faultseam::kLseek, fd, &limit);
    if (fault == faultseam::Fault::kError || fault == faultseam::Fault::kEintr) return -1;
    return real(fd, offset, whence);
}

int open64(const char* path, int flags, ...) {
    using Function = int (*)(const char*, int, ...);
    static const Function real = faultseam::Real<Function>("open64");
    const bool anonymous = (flags & O_TMPFILE) == O_TMPFILE;
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || anonymous) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, unsigned));
        va_end(arguments);
    }
    if (anonymous && faultseam::Seam().tmpfileError != 0) {
        errno = faultseam::Seam().tmpfileError;
        return -1;
    }
    return real(path, flags, mode);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) noexcept {
    using Function = int (*)(int, const char*, int, const char*, int);
    static const Function real = faultseam::Real<Function>("linkat");
    const int result = real(fromDir, from, toDir, to, flags);
    if (result == 0) ++faultseam::Seam().links;
    return result;
}

int fdatasync(int fd) {
    using Function = int (*)(int);
    static const Function real = faultseam::Real<Function>("fdatasync");
    return faultseam::SyncThroughSeam(real, fd);
}

int fsync(int fd) {
    using Function = int (*)(int);
    static const Function real = faultseam::Real<Function>("fsync");
    return faultseam::SyncThroughSeam(real, fd);
}

}  // extern "C"

#endif  // CIJOBRESULTS_TESTS_SUPPORT_POSIX_FAULT_SEAM_H
