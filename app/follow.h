// Following a recording that is still being written: at the end of what the
// file holds, wait for it to grow (inotify, with a poll as fallback), and
// tell, between any two reads, whether the file was cut or replaced under
// the reader.
#ifndef RIVULET_FOLLOW_H
#define RIVULET_FOLLOW_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace rivulet {

enum class Growth { Grew, Idle, Shrank, Stopped };

// Milliseconds of a clock that never goes back.
uint64_t steadyClockMs();
// Whether `fd` is a regular file (not a pipe, a FIFO or a device).
bool isRegularFile(int fd);

// Waits until the regular file open as `fd` holds more than `position`
// bytes. Idle once it has not grown for `idleSeconds` (0: never); Shrank when
// it holds fewer, or `path` (null for a descriptor without a name, such as
// standard input) names another file now; Stopped at SIGINT or SIGTERM.
// Sleeps between changes; never spins.
Growth waitForGrowth(int fd, const char* path, uint64_t position, uint32_t idleSeconds);

// Bytes at the start and before the read position, compared again before
// each read: a recorder that truncates the file and writes a new recording
// past the old size between two reads has changed them.
constexpr size_t kFollowTailBytes = 4096;

// An input read to its end, or, followed, as long as it grows.
struct FollowedInput {
    int fd;
    const char* path;       // null: standard input, never replaced by name
    bool follow;            // a regular file, followed
    uint32_t idleSeconds;
    uint64_t position;      // bytes read so far, from the descriptor's offset at the start
    uint64_t start;         // the descriptor's offset at the start
    uint8_t head[kFollowTailBytes];
    size_t headSize;
    uint8_t tail[kFollowTailBytes];
    size_t tailSize;
};

enum class FollowRead { Data, Quiet, End, Shrank, Stopped, Failed };

// Prepares to read `fd` from its current offset, following it as it grows
// when `follow` (for a regular file: the caller's input source decides).
void followStart(FollowedInput* input, int fd, const char* path, bool follow, uint32_t idleSeconds);
// Reads up to `capacity` bytes into `bytes` (Data, with *n > 0), or tells why
// there are none: live input quiet for `quietMs` (-1: waits on), the end
// (for a followed file, once it has not grown for its idle time), a shrink
// or replacement, a stop request, a read error.
FollowRead followRead(FollowedInput* input, uint8_t* bytes, size_t capacity, size_t* n, int quietMs = -1);

}  // namespace rivulet

#endif
