// ts/input: opening and reading a driver's input, live or not.
//
// Opening and reading the input of a driver, with the messages users see.
#ifndef RIVULET_INPUT_FILE_H
#define RIVULET_INPUT_FILE_H

#include "ts/core/log_sink.h"
#include "ts/stream/packet_walk.h"

namespace rivulet {

// Messages go to `log`: standard error unless the run has a sink.
//
// Opens `path` read-only; on failure says "Error: Failed open %s." with
// the system's reason on the next line, and returns -1.
int openInput(const char* path, const LogSink& log = LogSink{});
// "Error: Failed open <folder>." and, on the next line, that it is the
// output folder and why it is none.
void reportFolderFailure(const char* folder, const LogSink& log);
// "Error: Failed read %s." and, when `error` (an errno) is not 0, the
// system's reason on the next line.
void reportReadFailure(const char* path, int error, const LogSink& log);
// How the walk ended, as users read it: "Warning: N bytes without packet sync
// skipped." when it had to regain sync (but for an input without a packet,
// where the error says enough); then TS_ERR_READ after "Error: Failed
// read %s." and its reason (a read error, a directory), TS_ERR_INTERRUPTED after
// "Interrupted: outputs hold the input up to byte N." (or, when no packet had
// come, the error below), TS_ERR_NO_PACKETS after
// "Error: No transport stream packets in %s.", or 0.
int32_t reportWalkEnd(WalkEnd end, const char* path, const WalkStats& stats, const LogSink& log = LogSink{});
// The same for a dump, for which an input without packets is an empty dump:
// "Warning: no transport stream packets in %s." and 0.
int32_t reportDumpEnd(WalkEnd end, const char* path, const WalkStats& stats, const LogSink& log);
// "Warning: no PAT in %s; no file written." for the drivers that write files.
void warnNoPAT(const char* path, const LogSink& log);
void closeInput(int& fd);

uint64_t monotonicMs();

// Whether `fd` is read as live input by walkInput: it has no size (a pipe, a
// FIFO, a device) and a deadline is given.
inline bool readsLive(int fd, uint32_t liveTimeoutMs) { return liveTimeoutMs > 0 && inputSize(fd) == 0; }

// Reads `fd` and hands out its packets until onPacket returns false or the
// input ends. A live input (readsLive) has no end to wait for: once
// `liveTimeoutMs` have passed, what has come is all there is.
template <class OnPacket>
WalkEnd walkInput(PacketWalk& w, int fd, uint32_t liveTimeoutMs, OnPacket&& onPacket) {
    if (!readsLive(fd, liveTimeoutMs)) return walkFile(w, fd, onPacket);
    const uint64_t deadline = monotonicMs() + liveTimeoutMs;
    for (;;) {
        uint64_t now = monotonicMs();
        Readiness ready = now >= deadline ? Readiness::Quiet : waitReadable(w, fd, int64_t(deadline - now));
        if (ready == Readiness::Quiet) return endOf(walkBuffered(w, true, onPacket));
        if (ready == Readiness::Stopped) return WalkEnd::Interrupted;
        int64_t n = walkRead(&w, fd);
        if (g_stopRequested) return WalkEnd::Interrupted;
        if (n < 0) return WalkEnd::ReadError;
        WalkStep step = walkBuffered(w, n == 0, onPacket);
        if (step != WalkStep::NeedMore) return endOf(step);
        if (n == 0) return WalkEnd::EndOfInput;
    }
}

}  // namespace rivulet

#endif
