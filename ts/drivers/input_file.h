// Opening and reading the input of a driver, with the messages users see.
#ifndef RIVULET_INPUT_FILE_H
#define RIVULET_INPUT_FILE_H

#include "ts/stream/packet_walk.h"

namespace rivulet {

// Opens `path` read-only; on failure prints "Error: Failed open %s." and
// returns -1.
int openInput(const char* path);
// How the walk ended, as users read it: "Warning: N bytes without packet sync
// skipped." when it had to regain sync; then TS_ERR_READ after "Error: Failed
// read %s." (a read error, a directory), TS_ERR_INTERRUPTED after
// "Interrupted: outputs hold the input up to byte N." (or, when no packet had
// come, the error below), TS_ERR_NO_PACKETS after
// "Error: No transport stream packets in %s.", or 0.
int32_t reportWalkEnd(WalkEnd end, const char* path, const WalkStats& stats);
// The same for a dump, for which an input without packets is an empty dump:
// "Warning: no transport stream packets in %s." and 0.
int32_t reportDumpEnd(WalkEnd end, const char* path, const WalkStats& stats);
// "Warning: no PAT in %s; no file written." for the drivers that write files.
void warnNoPAT(const char* path);
void closeInput(int& fd);

}  // namespace rivulet

#endif
