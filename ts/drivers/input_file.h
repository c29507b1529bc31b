// Opening and reading the input of a driver, with the messages users see.
#ifndef RIVULET_INPUT_FILE_H
#define RIVULET_INPUT_FILE_H

#include "ts/stream/packet_walk.h"

namespace rivulet {

// Opens `path` read-only; on failure prints "Error: Failed open %s." and
// returns -1.
int openInput(const char* path);
// Prints "Warning: N bytes without packet sync skipped." when the walk had to
// regain sync, and "Error: Failed read %s." when the walk ended on a read error (for
// instance when the input is a directory) and returns TS_ERR_READ, else 0.
int32_t reportWalkEnd(WalkEnd end, const char* path);
void closeInput(int& fd);

}  // namespace rivulet

#endif
