// CheckResultsFile: the records walked up to the verdict, which is all
// that is kept.
#include "jobresults/JobResultsCheck.h"

#include <unistd.h>

#include <cerrno>

#include "jobresults/detail/CheckedWalk.h"
#include "jobresults/detail/FileWindow.h"

namespace jobresults {

namespace {

FileCheck CheckOpenFile(int fd) {
    FileWindow window(fd);
    CheckedWalk walk(window);
    JobResults record;
    while (walk.Next(record)) {
    }
    return walk.Check();
}

FileCheck Failed(int error) {
    FileCheck check;
    check.error = error;
    return check;
}

}  // namespace

FileCheck CheckResultsFile(const std::string& path) {
    const int fd = FileWindow::OpenToRead(path);
    if (fd == -1) return Failed(errno);
    FileCheck check = CheckOpenFile(fd);
    ::close(fd);
    return check;
}

FileCheck CheckResultsFile(int fd) {
    if (fd < 0) return Failed(EBADF);
    if (const int error = FileWindow::RegularFileError(fd)) return Failed(error);
    return CheckOpenFile(fd);
}

}  // namespace jobresults
