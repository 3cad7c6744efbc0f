// Loaded into a run of the tool (LD_PRELOAD): each successful link, rename
// and fsync is appended as one line to the file that JOBRESULTS_CALL_LOG
// names ("link", "rename", "fsync file", "fsync directory"), so that a test
// sees the order in which the tool makes names and syncs them, as the
// disk's ordering after a power loss depends on it, without strace.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

void Log(const char* call) {
    const char* path = std::getenv("JOBRESULTS_CALL_LOG");
    if (path == nullptr) return;
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::size_t size = std::strlen(call);
    if (write(fd, call, size) == static_cast<ssize_t>(size)) static_cast<void>(write(fd, "\n", 1));
    close(fd);
}

template <class Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int link(const char* from, const char* to) {
    static const auto real = Real<int (*)(const char*, const char*)>("link");
    const int result = real(from, to);
    if (result == 0) Log("link");
    return result;
}

extern "C" int rename(const char* from, const char* to) {
    static const auto real = Real<int (*)(const char*, const char*)>("rename");
    const int result = real(from, to);
    if (result == 0) Log("rename");
    return result;
}

extern "C" int fsync(int fd) {
    static const auto real = Real<int (*)(int)>("fsync");
    struct stat status;
    const bool directory = fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    const int result = real(fd);
    if (result == 0) Log(directory ? "fsync directory" : "fsync file");
    return result;
}
