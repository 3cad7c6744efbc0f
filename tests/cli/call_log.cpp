// Loaded into the tool (LD_PRELOAD) by cli.e2e.salvage_order: appends each
// successful link, rename and fsync as a line to $JOBRESULTS_CALL_LOG, so
// that the test sees the order of names and syncs a power loss depends on.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// A failed call is not logged, and keeps its errno.
int Logged(int result, const std::string& call) {
    const char* path = std::getenv("JOBRESULTS_CALL_LOG");
    if (result != 0 || path == nullptr) return result;
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return result;
    const std::string line = call + '\n';
    while (write(fd, line.data(), line.size()) < 0 && errno == EINTR) {
    }
    close(fd);
    return result;
}

template <class Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using TwoPaths = int (*)(const char*, const char*);

}  // namespace

extern "C" int link(const char* from, const char* to) {
    return Logged(Real<TwoPaths>("link")(from, to), "link");
}

extern "C" int rename(const char* from, const char* to) {
    return Logged(Real<TwoPaths>("rename")(from, to), "rename");
}

extern "C" int fsync(int fd) {
    struct stat status;
    const bool directory = fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    return Logged(Real<int (*)(int)>("fsync")(fd), directory ? "fsync directory" : "fsync file");
}
