// Following a recording that is still being written: at the end of what the
// file holds, wait for it to grow (inotify, with a poll as fallback).
#ifndef RIVULET_FOLLOW_H
#define RIVULET_FOLLOW_H

#include <cstdint>

namespace rivulet {

enum class Growth { Grew, Idle, Shrank, Stopped };

// Waits until the regular file open as `fd` (named `path`) holds more than
// `position` bytes. Idle once it has not grown for `idleSeconds` (0: never);
// Shrank when it holds fewer, or `path` names another file now (replaced);
// Stopped at SIGINT or SIGTERM. Sleeps between changes; never spins.
Growth waitForGrowth(int fd, const char* path, uint64_t position, uint32_t idleSeconds);

}  // namespace rivulet

#endif
