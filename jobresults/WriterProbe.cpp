// ProbeWriter: the writer's lock tested through a descriptor of the
// prober's own.
#include <unistd.h>

#include <cerrno>

#include "jobresults/JobResultsWriterState.h"
#include "jobresults/detail/FileWindow.h"
#include "jobresults/detail/WriterLock.h"

namespace jobresults {

WriterProbe ProbeWriter(int fd) {
    WriterProbe probe;
    if (fd < 0) {
        probe.error = EBADF;
        return probe;
    }
    probe.error = TestWriterLock(fd, probe.alive);
    if (probe.error != 0) probe.alive = false;
    return probe;
}

WriterProbe ProbeWriter(const std::string& path) {
    const int fd = FileWindow::OpenToRead(path);
    if (fd < 0) {
        WriterProbe probe;
        probe.error = errno;
        return probe;
    }
    const WriterProbe probe = ProbeWriter(fd);
    ::close(fd);
    return probe;
}

}  // namespace jobresults
