/* Crash-state simulator, recorder: an LD_PRELOAD shim that logs, in call
 * order, every successful file-system call that changes what a power loss
 * could leave under one root (CRASHSIM_ROOT), into CRASHSIM_LOG. Writes to
 * the descriptor CRASHSIM_ACK_FD are logged as acknowledgements, in order
 * with the file-system calls, and passed on.
 *
 * Log: one event a line, fields separated by tabs, paths absolute, data in
 * hex:
 *   open FD FLAGS PATH        an existing file or directory opened
 *   create FD PATH            a new named file created (O_CREAT, mkstemp)
 *   tmpfile FD DIR            an anonymous file created in DIR (O_TMPFILE)
 *   write FD OFFSET HEX       pwrite/write (write: at the kernel's position)
 *   trunc FD SIZE             ftruncate
 *   fsync FD | fdatasync FD
 *   linkfd FD PATH            linkat of /proc/self/fd/FD (or AT_EMPTY_PATH)
 *   link OLD NEW | rename OLD NEW | unlink PATH
 *   close FD | dup OLD NEW
 *   ack TEXT
 *   unsupported WHAT FD       fallocate, a shared writable mmap: the replay refuses
 * A write's position is asked of the kernel (lseek), so write after lseek
 * or O_APPEND is logged at the offset it really went to. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#define MAX_FDS 65536

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static int g_ready;
static char g_root[PATH_MAX];
static size_t g_rootLength;
static int g_log = -1;
static int g_ackFd = -1;
static char* g_paths[MAX_FDS]; /* tracked descriptors: their path */

static void Init(void) {
    if (g_ready) return;
    g_ready = 1;
    const char* root = getenv("CRASHSIM_ROOT");
    const char* log = getenv("CRASHSIM_LOG");
    const char* ack = getenv("CRASHSIM_ACK_FD");
    if (ack != NULL) g_ackFd = atoi(ack);
    if (root == NULL || log == NULL || realpath(root, g_root) == NULL) return;
    g_rootLength = strlen(g_root);
    int fd =
        (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    g_log = fcntl(fd, F_DUPFD_CLOEXEC, 1000);
    syscall(SYS_close, fd);
}

static void Emit(const char* text, size_t size) {
    while (size > 0) {
        ssize_t n = syscall(SYS_write, g_log, text, size);
        if (n <= 0) return;
        text += n;
        size -= (size_t)n;
    }
}

/* One line: the printf part, then optional data in hex, then "\n". */
static void Log(const void* data, size_t size, const char* format, ...) {
    if (g_log < 0) return;
    char head[3 * PATH_MAX];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(head, sizeof head, format, args);
    va_end(args);
    if (length < 0) return;
    if ((size_t)length >= sizeof head) length = sizeof head - 1;
    static const char digits[] = "0123456789abcdef";
    size_t total = (size_t)length + 2 * size + 1;
    char* line = malloc(total);
    if (line == NULL) return;
    memcpy(line, head, (size_t)length);
    const unsigned char* bytes = data;
    for (size_t i = 0; i < size; ++i) {
        line[length + 2 * i] = digits[bytes[i] >> 4];
        line[length + 2 * i + 1] = digits[bytes[i] & 15];
    }
    line[total - 1] = '\n';
    Emit(line, total);
    free(line);
}

/* The absolute, lexically normalized form of path (relative to dirfd). */
static int Absolute(int dirfd, const char* path, char* out) {
    char joined[2 * PATH_MAX];
    if (path[0] == '/') {
        snprintf(joined, sizeof joined, "%s", path);
    } else if (dirfd == AT_FDCWD) {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == NULL) return 0;
        snprintf(joined, sizeof joined, "%s/%s", cwd, path);
    } else if (dirfd >= 0 && dirfd < MAX_FDS && g_paths[dirfd] != NULL) {
        snprintf(joined, sizeof joined, "%s/%s", g_paths[dirfd], path);
    } else {
        return 0;
    }
    /* Drop "." and empty components, resolve ".." lexically. */
    size_t o = 0;
    const char* p = joined;
    while (*p) {
        while (*p == '/') ++p;
        const char* end = strchr(p, '/');
        size_t n = end ? (size_t)(end - p) : strlen(p);
        if (n == 0) break;
        if (n == 1 && p[0] == '.') {
        } else if (n == 2 && p[0] == '.' && p[1] == '.') {
            while (o > 0 && out[o - 1] != '/') --o;
            if (o > 0) --o;
        } else {
            if (o + n + 2 >= PATH_MAX) return 0;
            out[o++] = '/';
            memcpy(out + o, p, n);
            o += n;
        }
        p += n;
    }
    if (o == 0) out[o++] = '/';
    out[o] = 0;
    return 1;
}

static int UnderRoot(const char* absolute) {
    return g_rootLength > 0 && strncmp(absolute, g_root, g_rootLength) == 0 &&
           (absolute[g_rootLength] == '/' || absolute[g_rootLength] == 0);
}

static int Tracked(int fd) { return fd >= 0 && fd < MAX_FDS && g_paths[fd] != NULL; }

static void Track(int fd, const char* path) {
    if (fd < 0 || fd >= MAX_FDS) return;
    free(g_paths[fd]);
    g_paths[fd] = path ? strdup(path) : NULL;
}

#define REAL(name)                        \
    static __typeof__(name)* real_##name; \
    if (!real_##name) real_##name = (__typeof__(name)*)dlsym(RTLD_NEXT, #name)

/* After an open of path (dirfd-relative) that returned fd. */
static void AfterOpen(int dirfd, const char* path, int flags, int fd, int existed) {
    char absolute[PATH_MAX];
    if (fd < 0 || !Absolute(dirfd, path, absolute)) return;
    pthread_mutex_lock(&g_lock);
    Track(fd, NULL);
    if (UnderRoot(absolute)) {
        Track(fd, absolute);
        if ((flags & O_TMPFILE) == O_TMPFILE) {
            Log(NULL, 0, "tmpfile\t%d\t%s", fd, absolute);
        } else if ((flags & O_CREAT) && !existed) {
            Log(NULL, 0, "create\t%d\t%s", fd, absolute);
        } else {
            Log(NULL, 0, "open\t%d\t%x\t%s", fd, flags, absolute);
            if ((flags & O_TRUNC) && (flags & O_ACCMODE) != O_RDONLY)
                Log(NULL, 0, "trunc\t%d\t0", fd);
        }
    }
    pthread_mutex_unlock(&g_lock);
}

static int Exists(int dirfd, const char* path) {
    struct stat st;
    return fstatat(dirfd, path, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

static int DoOpenat(int dirfd, const char* path, int flags, mode_t mode, const char* which) {
    Init();
    typedef int (*OpenatFn)(int, const char*, int, ...);
    OpenatFn real = (OpenatFn)dlsym(RTLD_NEXT, which);
    const int existed = (flags & O_CREAT) ? Exists(dirfd, path) : 1;
    const int fd = real(dirfd, path, flags, mode);
    const int saved = errno;
    AfterOpen(dirfd, path, flags, fd, existed);
    errno = saved;
    return fd;
}

static mode_t ModeOf(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(args, int) : 0;
}

static int DoOpen(const char* path, int flags, mode_t mode, const char* which) {
    Init();
    typedef int (*OpenFn)(const char*, int, ...);
    OpenFn real = (OpenFn)dlsym(RTLD_NEXT, which);
    const int existed = (flags & O_CREAT) ? Exists(AT_FDCWD, path) : 1;
    const int fd = real(path, flags, mode);
    const int saved = errno;
    AfterOpen(AT_FDCWD, path, flags, fd, existed);
    errno = saved;
    return fd;
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    return DoOpen(path, flags, mode, "open");
}
int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    return DoOpen(path, flags, mode, "open64");
}
int __open_2(const char* path, int flags) { return DoOpen(path, flags, 0, "open"); }
int __open64_2(const char* path, int flags) { return DoOpen(path, flags, 0, "open64"); }
int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    return DoOpenat(dirfd, path, flags, mode, "openat");
}
int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    return DoOpenat(dirfd, path, flags, mode, "openat64");
}
int creat(const char* path, mode_t mode) {
    return DoOpen(path, O_CREAT | O_WRONLY | O_TRUNC, mode, "open");
}

/* mkstemp and friends open through libc's internal calls: logged here. */
static int AfterTemp(char* templ, int fd) {
    const int saved = errno;
    AfterOpen(AT_FDCWD, templ, O_CREAT | O_EXCL | O_RDWR, fd, 0);
    errno = saved;
    return fd;
}
int mkstemp(char* templ) {
    Init();
    REAL(mkstemp);
    return AfterTemp(templ, real_mkstemp(templ));
}
int mkstemp64(char* templ) {
    Init();
    REAL(mkstemp64);
    return AfterTemp(templ, real_mkstemp64(templ));
}
int mkostemp(char* templ, int flags) {
    Init();
    REAL(mkostemp);
    return AfterTemp(templ, real_mkostemp(templ, flags));
}
int mkostemp64(char* templ, int flags) {
    Init();
    REAL(mkostemp64);
    return AfterTemp(templ, real_mkostemp64(templ, flags));
}

static void LogWrite(int fd, const void* data, ssize_t written, off64_t offset) {
    if (written <= 0 || !Tracked(fd)) return;
    pthread_mutex_lock(&g_lock);
    Log(data, (size_t)written, "write\t%d\t%lld\t", fd, (long long)offset);
    pthread_mutex_unlock(&g_lock);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
    Init();
    REAL(pwrite64);
    const ssize_t written = real_pwrite64(fd, data, size, offset);
    const int saved = errno;
    LogWrite(fd, data, written, offset);
    errno = saved;
    return written;
}
ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    return pwrite64(fd, data, size, (off64_t)offset);
}

ssize_t write(int fd, const void* data, size_t size) {
    Init();
    REAL(write);
    if (fd == g_ackFd && g_log >= 0) {
        pthread_mutex_lock(&g_lock);
        size_t n = size;
        while (n > 0 && ((const char*)data)[n - 1] == '\n') --n;
        char text[512];
        snprintf(text, sizeof text, "%.*s", (int)(n < 500 ? n : 500), (const char*)data);
        Log(NULL, 0, "ack\t%s", text);
        pthread_mutex_unlock(&g_lock);
        return real_write(fd, data, size);
    }
    if (!Tracked(fd)) return real_write(fd, data, size);
    off64_t offset = lseek64(fd, 0, SEEK_CUR);
    if (fcntl(fd, F_GETFL) & O_APPEND) {
        struct stat st;
        if (fstat(fd, &st) == 0) offset = st.st_size;
    }
    const ssize_t written = real_write(fd, data, size);
    const int saved = errno;
    LogWrite(fd, data, written, offset);
    errno = saved;
    return written;
}

static void LogFdOp(const char* op, int fd, int result) {
    if (result != 0 || !Tracked(fd)) return;
    pthread_mutex_lock(&g_lock);
    Log(NULL, 0, "%s\t%d", op, fd);
    pthread_mutex_unlock(&g_lock);
}

int ftruncate64(int fd, off64_t size) {
    Init();
    REAL(ftruncate64);
    const int result = real_ftruncate64(fd, size);
    const int saved = errno;
    if (result == 0 && Tracked(fd)) {
        pthread_mutex_lock(&g_lock);
        Log(NULL, 0, "trunc\t%d\t%lld", fd, (long long)size);
        pthread_mutex_unlock(&g_lock);
    }
    errno = saved;
    return result;
}
int ftruncate(int fd, off_t size) { return ftruncate64(fd, (off64_t)size); }

int fsync(int fd) {
    Init();
    REAL(fsync);
    const int result = real_fsync(fd);
    const int saved = errno;
    LogFdOp("fsync", fd, result);
    errno = saved;
    return result;
}
int fdatasync(int fd) {
    Init();
    REAL(fdatasync);
    const int result = real_fdatasync(fd);
    const int saved = errno;
    LogFdOp("fdatasync", fd, result);
    errno = saved;
    return result;
}
int syncfs(int fd) {
    Init();
    REAL(syncfs);
    const int result = real_syncfs(fd);
    const int saved = errno;
    LogFdOp("syncfs", fd, result);
    errno = saved;
    return result;
}

int close(int fd) {
    Init();
    REAL(close);
    if (fd == g_log) return 0; /* never the log */
    pthread_mutex_lock(&g_lock);
    if (Tracked(fd)) {
        Log(NULL, 0, "close\t%d", fd);
        Track(fd, NULL);
    }
    pthread_mutex_unlock(&g_lock);
    return real_close(fd);
}

static void AfterDup(int oldfd, int newfd) {
    if (newfd < 0) return;
    pthread_mutex_lock(&g_lock);
    if (Tracked(newfd)) Log(NULL, 0, "close\t%d", newfd);
    Track(newfd, Tracked(oldfd) ? g_paths[oldfd] : NULL);
    if (Tracked(oldfd)) Log(NULL, 0, "dup\t%d\t%d", oldfd, newfd);
    pthread_mutex_unlock(&g_lock);
}
int dup(int oldfd) {
    Init();
    REAL(dup);
    const int fd = real_dup(oldfd);
    const int saved = errno;
    AfterDup(oldfd, fd);
    errno = saved;
    return fd;
}
int dup2(int oldfd, int newfd) {
    Init();
    REAL(dup2);
    const int fd = real_dup2(oldfd, newfd);
    const int saved = errno;
    if (fd >= 0 && oldfd != newfd) AfterDup(oldfd, fd);
    errno = saved;
    return fd;
}
int dup3(int oldfd, int newfd, int flags) {
    Init();
    REAL(dup3);
    const int fd = real_dup3(oldfd, newfd, flags);
    const int saved = errno;
    AfterDup(oldfd, fd);
    errno = saved;
    return fd;
}

/* "/proc/self/fd/N" (or the descriptor itself with AT_EMPTY_PATH) names
 * an open file: N when it is tracked, else -1. */
static int ProcFd(int olddirfd, const char* oldpath, int flags) {
    if ((flags & AT_EMPTY_PATH) && oldpath[0] == 0) return Tracked(olddirfd) ? olddirfd : -1;
    static const char prefix[] = "/proc/self/fd/";
    if (strncmp(oldpath, prefix, sizeof prefix - 1) != 0) return -1;
    const int fd = atoi(oldpath + sizeof prefix - 1);
    return Tracked(fd) ? fd : -1;
}

int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags) {
    Init();
    REAL(linkat);
    const int result = real_linkat(olddirfd, oldpath, newdirfd, newpath, flags);
    const int saved = errno;
    char from[PATH_MAX], to[PATH_MAX];
    if (result == 0 && Absolute(newdirfd, newpath, to) && UnderRoot(to)) {
        pthread_mutex_lock(&g_lock);
        const int fd = ProcFd(olddirfd, oldpath, flags);
        if (fd >= 0) {
            Log(NULL, 0, "linkfd\t%d\t%s", fd, to);
        } else if (Absolute(olddirfd, oldpath, from)) {
            Log(NULL, 0, "link\t%s\t%s", from, to);
        }
        pthread_mutex_unlock(&g_lock);
    }
    errno = saved;
    return result;
}
int link(const char* oldpath, const char* newpath) {
    return linkat(AT_FDCWD, oldpath, AT_FDCWD, newpath, 0);
}

static void LogRename(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
    char from[PATH_MAX], to[PATH_MAX];
    if (!Absolute(olddirfd, oldpath, from) || !Absolute(newdirfd, newpath, to)) return;
    if (!UnderRoot(from) && !UnderRoot(to)) return;
    pthread_mutex_lock(&g_lock);
    Log(NULL, 0, "rename\t%s\t%s", from, to);
    pthread_mutex_unlock(&g_lock);
}
int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
              unsigned flags) {
    Init();
    REAL(renameat2);
    const int result = real_renameat2(olddirfd, oldpath, newdirfd, newpath, flags);
    const int saved = errno;
    if (result == 0) LogRename(olddirfd, oldpath, newdirfd, newpath);
    errno = saved;
    return result;
}
int renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
    return renameat2(olddirfd, oldpath, newdirfd, newpath, 0);
}
int rename(const char* oldpath, const char* newpath) {
    return renameat2(AT_FDCWD, oldpath, AT_FDCWD, newpath, 0);
}

int unlinkat(int dirfd, const char* path, int flags) {
    Init();
    REAL(unlinkat);
    const int result = real_unlinkat(dirfd, path, flags);
    const int saved = errno;
    char absolute[PATH_MAX];
    if (result == 0 && Absolute(dirfd, path, absolute) && UnderRoot(absolute)) {
        pthread_mutex_lock(&g_lock);
        Log(NULL, 0, "unlink\t%s", absolute);
        pthread_mutex_unlock(&g_lock);
    }
    errno = saved;
    return result;
}
int unlink(const char* path) { return unlinkat(AT_FDCWD, path, 0); }

/* Vectored writes: logged as one write of the gathered bytes. */
static void LogVector(int fd, const struct iovec* vector, int count, ssize_t written,
                      off64_t offset) {
    if (written <= 0 || !Tracked(fd)) return;
    char* gathered = malloc((size_t)written);
    if (gathered == NULL) return;
    size_t filled = 0;
    for (int i = 0; i < count && filled < (size_t)written; ++i) {
        size_t n = vector[i].iov_len;
        if (n > (size_t)written - filled) n = (size_t)written - filled;
        memcpy(gathered + filled, vector[i].iov_base, n);
        filled += n;
    }
    LogWrite(fd, gathered, written, offset);
    free(gathered);
}
ssize_t writev(int fd, const struct iovec* vector, int count) {
    Init();
    REAL(writev);
    const off64_t offset = Tracked(fd) ? lseek64(fd, 0, SEEK_CUR) : 0;
    const ssize_t written = real_writev(fd, vector, count);
    const int saved = errno;
    LogVector(fd, vector, count, written, offset);
    errno = saved;
    return written;
}
ssize_t pwritev64(int fd, const struct iovec* vector, int count, off64_t offset) {
    Init();
    REAL(pwritev64);
    const ssize_t written = real_pwritev64(fd, vector, count, offset);
    const int saved = errno;
    LogVector(fd, vector, count, written, offset);
    errno = saved;
    return written;
}
ssize_t pwritev(int fd, const struct iovec* vector, int count, off_t offset) {
    return pwritev64(fd, vector, count, (off64_t)offset);
}

/* What the model cannot replay is logged so that the replay refuses it. */
static void Unsupported(const char* what, int fd) {
    if (!Tracked(fd)) return;
    pthread_mutex_lock(&g_lock);
    Log(NULL, 0, "unsupported\t%s\t%d", what, fd);
    pthread_mutex_unlock(&g_lock);
}
int fallocate64(int fd, int mode, off64_t offset, off64_t length) {
    Init();
    REAL(fallocate64);
    Unsupported("fallocate", fd);
    return real_fallocate64(fd, mode, offset, length);
}
int fallocate(int fd, int mode, off_t offset, off_t length) {
    return fallocate64(fd, mode, (off64_t)offset, (off64_t)length);
}
void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset) {
    Init();
    REAL(mmap64);
    if ((protection & PROT_WRITE) && (flags & MAP_SHARED)) Unsupported("mmap", fd);
    return real_mmap64(address, length, protection, flags, fd, offset);
}
void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    return mmap64(address, length, protection, flags, fd, (off64_t)offset);
}
