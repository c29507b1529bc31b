#include "app/follow.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "app/common/process.h"

namespace rivulet {
namespace {

// Without inotify (or between its events) the file is looked at this often.
constexpr int kPollMs = 1000;
constexpr uint32_t kWatched = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;

uint64_t nowMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

// Grew, Shrank, or Idle for "no change yet".
Growth lookAt(int fd, const char* path, uint64_t position) {
    struct stat open {}, named {};
    if (::fstat(fd, &open) != 0) return Growth::Shrank;
    bool replaced = ::stat(path, &named) != 0 || named.st_ino != open.st_ino || named.st_dev != open.st_dev;
    if (replaced || uint64_t(open.st_size) < position) return Growth::Shrank;
    return uint64_t(open.st_size) > position ? Growth::Grew : Growth::Idle;
}

struct Watch {
    int fd = -1;
    explicit Watch(const char* path) {
        fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd >= 0 && ::inotify_add_watch(fd, path, kWatched) < 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~Watch() {
        if (fd >= 0) ::close(fd);
    }
    // Sleeps until an event or `ms` have passed, then drops the events.
    void wait(int ms) const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, fd >= 0 ? 1 : 0, ms) <= 0 || fd < 0) return;
        char events[4096];
        while (::read(fd, events, sizeof events) > 0) {
        }
    }
};

}  // namespace

Growth waitForGrowth(int fd, const char* path, uint64_t position, uint32_t idleSeconds) {
    Watch watch(path);
    const uint64_t deadline = nowMs() + uint64_t(idleSeconds) * 1000;
    for (;;) {
        if (stopRequested()) return Growth::Stopped;
        Growth growth = lookAt(fd, path, position);
        if (growth != Growth::Idle) return growth;
        uint64_t now = nowMs();
        if (idleSeconds > 0 && now >= deadline) return Growth::Idle;
        uint64_t left = idleSeconds > 0 ? deadline - now : kPollMs;
        watch.wait(int(left < uint64_t(kPollMs) ? left : kPollMs));
    }
}

}  // namespace rivulet
