#include "app/follow.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/common/process.h"
#include "rivulet/ts.h"

namespace rivulet {
namespace {

// Without inotify (or between its events) the file is looked at this often.
constexpr int kPollMs = 1000;
constexpr uint32_t kWatched = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;

bool replaced(const char* path, const struct stat& open) {
    struct stat named {};
    return path && (::stat(path, &named) != 0 || named.st_ino != open.st_ino || named.st_dev != open.st_dev);
}

// Grew, Shrank, or Idle for "no change yet".
Growth lookAt(int fd, const char* path, uint64_t position) {
    struct stat open {};
    if (::fstat(fd, &open) != 0) return Growth::Shrank;
    if (replaced(path, open) || uint64_t(open.st_size) < position) return Growth::Shrank;
    return uint64_t(open.st_size) > position ? Growth::Grew : Growth::Idle;
}

struct Watch {
    int fd = -1;
    // Through /proc, so that a descriptor without a name is watched too.
    explicit Watch(int watched) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", watched);
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

bool stillThere(int fd, const uint8_t* bytes, size_t size, uint64_t at) {
    uint8_t now[kFollowTailBytes];
    return size == 0 || (::pread(fd, now, size, off_t(at)) == ssize_t(size) && std::memcmp(now, bytes, size) == 0);
}

// Whether the first bytes read and those before the read position are still there.
bool unchanged(const FollowedInput& in) {
    return stillThere(in.fd, in.head, in.headSize, in.start) &&
           stillThere(in.fd, in.tail, in.tailSize, in.position - in.tailSize);
}

bool sizeBelowPosition(const FollowedInput& in) {
    struct stat st {};
    return ::fstat(in.fd, &st) != 0 || uint64_t(st.st_size) < in.position;
}

void keepHead(FollowedInput& in, const uint8_t* bytes, size_t n) {
    size_t taken = std::min(n, kFollowTailBytes - in.headSize);
    std::memcpy(in.head + in.headSize, bytes, taken);
    in.headSize += taken;
}

void keepTail(FollowedInput& in, const uint8_t* bytes, size_t n) {
    if (n >= kFollowTailBytes) {
        std::memcpy(in.tail, bytes + n - kFollowTailBytes, kFollowTailBytes);
        in.tailSize = kFollowTailBytes;
        return;
    }
    size_t kept = std::min(in.tailSize, kFollowTailBytes - n);
    std::memmove(in.tail, in.tail + in.tailSize - kept, kept);
    std::memcpy(in.tail + kept, bytes, n);
    in.tailSize = kept + n;
}

bool readableWithin(int fd, int ms) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, ms) != 0;  // a signal or an error: the read tells
}

}  // namespace

uint64_t steadyClockMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

bool isRegularFile(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

Growth waitForGrowth(int fd, const char* path, uint64_t position, uint32_t idleSeconds) {
    Watch watch(fd);
    const uint64_t deadline = steadyClockMs() + uint64_t(idleSeconds) * 1000;
    for (;;) {
        if (stopRequested()) return Growth::Stopped;
        Growth growth = lookAt(fd, path, position);
        if (growth != Growth::Idle) return growth;
        uint64_t now = steadyClockMs();
        if (idleSeconds > 0 && now >= deadline) return Growth::Idle;
        uint64_t left = idleSeconds > 0 ? deadline - now : kPollMs;
        watch.wait(int(left < uint64_t(kPollMs) ? left : kPollMs));
    }
}

void followStart(FollowedInput* input, int fd, const char* path, bool follow, uint32_t idleSeconds) {
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    input->fd = fd;
    input->path = path;
    input->follow = follow;
    input->idleSeconds = idleSeconds;
    input->position = input->start = at > 0 ? uint64_t(at) : 0;
    input->headSize = 0;
    input->tailSize = 0;
}

FollowRead followRead(FollowedInput* input, uint8_t* bytes, size_t capacity, size_t* n, int quietMs) {
    FollowedInput& in = *input;
    *n = 0;
    for (;;) {
        // Bytes read before a stop are handed out; the next call stops.
        if (stopRequested()) return FollowRead::Stopped;
        if (in.follow && (sizeBelowPosition(in) || !unchanged(in))) return FollowRead::Shrank;
        if (quietMs >= 0 && !in.follow && !readableWithin(in.fd, quietMs)) return FollowRead::Quiet;
        if (stopRequested()) return FollowRead::Stopped;  // the signal that ended the wait
        ssize_t got = ::read(in.fd, bytes, capacity);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return FollowRead::Failed;
        if (got > 0) {
            in.position += uint64_t(got);
            // Read past a cut: the bytes are another recording's.
            if (in.follow && sizeBelowPosition(in)) return FollowRead::Shrank;
            if (in.follow) {
                keepHead(in, bytes, size_t(got));
                keepTail(in, bytes, size_t(got));
            }
            *n = size_t(got);
            return FollowRead::Data;
        }
        if (!in.follow) return FollowRead::End;
        Growth growth = waitForGrowth(in.fd, in.path, in.position, in.idleSeconds);
        if (growth == Growth::Idle) return FollowRead::End;
        if (growth == Growth::Shrank) return FollowRead::Shrank;
        if (growth == Growth::Stopped) return FollowRead::Stopped;
    }
}

}  // namespace rivulet
