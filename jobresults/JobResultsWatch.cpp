#include "jobresults/JobResultsWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <set>

#include "jobresults/JobResultsNames.h"

namespace jobresults {

namespace {

constexpr std::uint32_t kWatchedEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO |
                                         IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                         IN_ONLYDIR;

// The inode of an entry "#<inode>", the name the kernel gives a file
// without one; false for any other entry.
bool ParseUnnamed(std::string_view entry, std::uint64_t& inode) {
    if (entry.size() < 2 || entry[0] != '#') return false;
    const char* end = entry.data() + entry.size();
    const auto parsed = std::from_chars(entry.data() + 1, end, inode);
    return parsed.ec == std::errc() && parsed.ptr == end;
}

}  // namespace

int WatchResultsFiles(const std::string& dirName, int& fd) {
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return errno;
    if (inotify_add_watch(fd, LocateOnHost(dirName).directory.c_str(), kWatchedEvents) >= 0) {
        return 0;
    }
    const int error = errno;
    close(fd);
    fd = -1;
    return error;
}

WatchedChanges ReadWatchedChanges(int fd, const std::string& dirName) {
    const HostLocation host = LocateOnHost(dirName);
    alignas(inotify_event) char buffer[64 * 1024];
    WatchedChanges changes;
    std::set<std::string> names;
    std::set<std::uint64_t> inodes;
    const ssize_t size = read(fd, buffer, sizeof buffer);
    if (size < 0) changes.error = errno;
    for (const char* at = buffer; size > 0 && at < buffer + size;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        at += sizeof(inotify_event) + event->len;
        changes.directoryGone |= (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0;
        changes.overflowed |= (event->mask & IN_Q_OVERFLOW) != 0;
        // The name is padded with NUL bytes to the length given.
        const std::string_view entry = event->len > 0 ? event->name : "";
        std::string_view fileName;
        long long seconds = 0;
        std::uint64_t inode = 0;
        if (ParseHostEntry(host, entry, fileName, seconds)) names.emplace(fileName);
        if (ParseUnnamed(entry, inode)) inodes.insert(inode);
    }
    changes.fileNames.assign(names.begin(), names.end());
    changes.unnamedInodes.assign(inodes.begin(), inodes.end());
    return changes;
}

}  // namespace jobresults
