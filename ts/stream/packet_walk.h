// The packet walk every driver shares. The walk owns a stream buffer; bytes
// come in from a file it reads or from a caller that pushes them, in chunks
// of any size. It finds the packet format from the first bytes and hands out
// the 188-byte packets one packet size apart. Where no sync byte stands a
// packet size further on, or the packet in hand may be a phase of header
// bytes rather than of sync bytes, it judges the candidate phases on the
// packets behind them (packet_phase.h) and goes on at the best one.
//
// Every decision waits until the bytes it looks at have arrived (or the input
// has ended), so that any chunking of the same bytes hands out the same
// packets. The unconsumed bytes are carried in front of the next ones: a
// packet that straddles two chunks is handed out once, whole.
#ifndef RIVULET_PACKET_WALK_H
#define RIVULET_PACKET_WALK_H

#include <atomic>
#include <cstdint>
#include <cstring>

#include "rivulet/packets_sections.h"
#include "ts/stream/packet_format.h"
#include "ts/stream/packet_phase.h"
#include "ts/stream/stop_request.h"

namespace rivulet {

enum class WalkEnd { EndOfInput, Stopped, ReadError, Interrupted };
enum class WalkStep { NeedMore, Stopped, Interrupted };

// What the walk has seen.
struct WalkStats {
    uint64_t u64Skipped;  // bytes passed over to regain sync
    uint64_t u64Packets;  // packets of the stream: in step with two before them, or with the start
    uint64_t u64End;      // input offset behind the last packet handed out
    uint64_t u64Received; // bytes given to the walk, walked or not
    int nReadError;       // errno of the read that failed, 0 while none has
};

// The input offset of a packet the walk hands out (of its unit, with any
// M2TS header).
struct PacketWalk;
inline uint64_t packetOffset(const PacketWalk& w, const uint8_t* packet);

// Called before the walk moves the bytes of its buffer: whoever keeps
// pointers into it (outputs that queue packets where they lie) lets go.
struct WalkHook {
    void (*fn)(void* pUser);
    void* pUser;
};

// Bytes one read asks for: few enough that a block is still in the CPU's
// cache while its packets are parsed and written out, many enough to keep
// system calls rare.
constexpr uint32_t kReadSize = 1 << 20;
// Unconsumed bytes carried in front of new ones: the format search's window
// before the start, a phase judgement's look-ahead after it.
constexpr uint32_t kMaxCarry = kFormatWindowSize > kPhaseWindow + 3 * TS_MAX_PACKET_SIZE
                                   ? kFormatWindowSize
                                   : kPhaseWindow + 3 * TS_MAX_PACKET_SIZE;
constexpr uint32_t kWalkBufferSize = kReadSize + kMaxCarry;

struct PacketWalk {
    uint8_t* lu8Buffer;   // kWalkBufferSize bytes
    uint8_t* lu8Spare;    // with walkAlternate: the buffer the next block goes to
    uint64_t u64Size;     // valid bytes in the buffer
    uint64_t u64Pos;      // next byte to examine
    uint64_t u64Base;     // input offset of the buffer's first byte
    PacketFormat tFormat;
    WalkStats tStats;
    // Where the next packet stands if the stream keeps step. A sync byte found
    // by resynchronising may be noise: only a packet with two before it in
    // step (or one in step with a start the format search confirmed, or with
    // the input's first byte) counts as the stream's.
    uint64_t u64Expected;
    uint32_t u32Streak;
    uint8_t u8Started;
    uint8_t u8Resyncing;  // the packet at u64Pos is a candidate not yet judged
    uint64_t u64TriedAt;  // buffered bytes when the format search last came to nothing
    WalkHook tBeforeMove;
    ContinuityHistory tHistory;
    // The owner's own progress callback (null: the process-wide one) and
    // stop flag (null: only TS_RequestStop stops the walk).
    TS_ProgressCallback pfProgress;
    void* pProgressUser;
    const std::atomic<int32_t>* pStop;
};

// Whether the walk is asked to stop: by TS_RequestStop, or by its owner.
inline bool walkStopRequested(const PacketWalk& w) {
    return g_stopRequested || (w.pStop && w.pStop->load(std::memory_order_relaxed) != 0);
}

inline uint64_t packetOffset(const PacketWalk& w, const uint8_t* packet) {
    return w.u64Base + uint64_t(packet - w.lu8Buffer) - w.tFormat.u32Prefix;
}

// False when the buffer cannot be had. The hook may be {nullptr, nullptr}.
bool walkOpen(PacketWalk* walk, WalkHook beforeMove);
void walkClose(PacketWalk* walk);

// The walk alternates two buffers: the unconsumed bytes go into the other
// one for the next block, and the bytes of this one stay as they are until
// the hook of the move after. So writer threads may write from a block while
// the walk reads and parses the next (handOffQueueHook). False when memory
// for the second buffer is short.
bool walkAlternate(PacketWalk* walk);
// Drops the consumed bytes (after the hook); returns the room behind the rest.
uint64_t walkCompact(PacketWalk* walk);
// Whether the format can be found from the bytes buffered so far, as it would
// be from the whole search window: so that a live input starts as soon as a
// few packets are in.
bool walkCanStart(PacketWalk* walk);
void walkStart(PacketWalk* walk);

enum class PhaseCheck { Here, Moved, NeedMore };
// The packet at u64Pos lacks its sync byte, may be off phase, or is a
// candidate still to be judged: stay, move to the best phase, or wait for
// the bytes a judgement needs.
PhaseCheck walkCheckPhase(PacketWalk* walk, bool atEnd);

// Header bytes that a phase of M2TS header bytes or of a PID's low byte
// would show: the packet at hand may be off phase.
inline bool mayBeOffPhase(const uint8_t* packet, uint32_t prefix) {
    return packet[1] == TS_SYNC_BYTE || packet[2] == TS_SYNC_BYTE || packet[3] == TS_SYNC_BYTE ||
           (prefix > 0 && packet[4] == TS_SYNC_BYTE);
}

// At the end of the input, a last packet whose parity bytes are missing is
// still a whole packet. False when onPacket stopped the walk.
template <class OnPacket>
bool walkLastPacket(PacketWalk& w, OnPacket&& onPacket) {
    const uint32_t prefix = w.tFormat.u32Prefix;
    const uint8_t* packet = w.lu8Buffer + w.u64Pos + prefix;
    if (w.tFormat.u32Size == TS_PACKET_SIZE + prefix || w.u64Pos + prefix + TS_PACKET_SIZE > w.u64Size ||
        *packet != TS_SYNC_BYTE) {
        return true;
    }
    TS_Packet header;
    TS_Packet_GetHeader(&header, packet);
    const uint64_t offset = w.u64Base + w.u64Pos;
    w.tStats.u64Packets += w.tStats.u64End == offset;
    w.tStats.u64End = offset + prefix + TS_PACKET_SIZE;
    return onPacket(packet, static_cast<const TS_Packet&>(header));
}

// Hands out every packet the buffered bytes decide. Calls onPacket(const
// uint8_t* packet, const TS_Packet& header) for every 188-byte packet, its
// 4-byte header parsed (not its adaptation field); a false return stops the
// walk. With `now`, the decisions that wait for more bytes are taken at once,
// on the evidence there is (live input that has paused); with `atEnd`, the
// input has ended and all that is left is handed out.
template <class OnPacket>
WalkStep walkJudged(PacketWalk& w, bool now, bool atEnd, OnPacket&& onPacket) {
    if (!w.u8Started) {
        if (!now && !walkCanStart(&w)) return WalkStep::NeedMore;
        walkStart(&w);
    }
    const uint32_t size = w.tFormat.u32Size;
    const uint32_t prefix = w.tFormat.u32Prefix;
    TS_Packet header;
    while (w.u64Pos + size <= w.u64Size) {
        const uint8_t* packet = w.lu8Buffer + w.u64Pos + prefix;
        if (*packet != TS_SYNC_BYTE || w.u8Resyncing || mayBeOffPhase(packet, prefix)) {
            PhaseCheck check = walkCheckPhase(&w, now);
            if (check == PhaseCheck::NeedMore) return WalkStep::NeedMore;
            if (check == PhaseCheck::Moved) continue;
        }
        if (walkStopRequested(w)) return WalkStep::Interrupted;
        const uint64_t offset = w.u64Base + w.u64Pos;
        w.u32Streak = offset == w.u64Expected ? w.u32Streak + 1 : 0;
        w.tStats.u64Packets += w.u32Streak >= 2;
        noteContinuity(&w.tHistory, packet);
        TS_Packet_GetHeader(&header, packet);
        if (!onPacket(packet, static_cast<const TS_Packet&>(header))) return WalkStep::Stopped;
        w.u64Pos += size;
        w.u64Expected = offset + size;
        w.tStats.u64End = w.u64Expected;
    }
    if (atEnd && !walkLastPacket(w, onPacket)) return WalkStep::Stopped;
    return WalkStep::NeedMore;
}

// walkJudged as the bytes decide: at the end of the input (`atEnd`), all
// that is left.
template <class OnPacket>
WalkStep walkBuffered(PacketWalk& w, bool atEnd, OnPacket&& onPacket) {
    return walkJudged(w, atEnd, atEnd, onPacket);
}

// Takes `size` bytes pushed by a caller and hands out what they decide.
template <class OnPacket>
WalkStep walkFeed(PacketWalk& w, const uint8_t* bytes, uint64_t size, OnPacket&& onPacket) {
    while (size > 0) {
        uint64_t room = kWalkBufferSize - w.u64Size;
        if (room < size && room < kReadSize) room = walkCompact(&w);
        uint64_t take = size < room ? size : room;
        std::memcpy(w.lu8Buffer + w.u64Size, bytes, take);
        w.u64Size += take;
        w.tStats.u64Received += take;
        bytes += take;
        size -= take;
        WalkStep step = walkBuffered(w, false, onPacket);
        if (step != WalkStep::NeedMore) return step;
    }
    return WalkStep::NeedMore;
}

// Reads up to `want` bytes of `fd` into `into`, again when a signal cut the
// read short (unless a stop was asked for): the count, 0 at the end, -1 on an
// error, which the walk's statistics keep.
int64_t readInto(PacketWalk& walk, int fd, uint8_t* into, size_t want);
// Reads the next block from `fd` behind the unconsumed bytes. Returns the
// byte count read, 0 at the end, -1 on a read error.
int64_t walkRead(PacketWalk* walk, int fd);
// The size of the input open as `fd`, or 0 when it has none (a pipe).
uint64_t inputSize(int fd);
void walkReportProgress(const PacketWalk* walk, uint64_t total);

// How long live input may leave bytes undecided: once it has been quiet
// this long, what has come is judged on the evidence there is.
constexpr int kLiveQuietMs = 1000;

// How often a wait on live input looks at the stop request: a signal that
// comes just before a wait begins, which the wait itself never sees, is seen
// this late at most.
constexpr int kStopCheckMs = 100;
enum class Readiness { Readable, Quiet, Stopped };
// Waits until `fd` has bytes (or its end, or an error) to read, `ms` have
// passed (Quiet; a negative `ms` waits on), or the walk is asked to stop.
Readiness waitReadable(const PacketWalk& w, int fd, int64_t ms);
// Whether `fd` is live input: a pipe, a FIFO, a device, a socket.
bool isLiveDescriptor(int fd);
// Makes a pipe as large as one read: a writer at full speed then fills whole
// reads, with a sixteenth of the switches between it and the walk.
void enlargePipe(int fd);

// Reads the input open as `fd` to its end and hands out the packets its bytes
// decide; the input itself goes on (walkBuffered with atEnd ends it).
// EndOfInput when `fd` ended. Live input that pauses with bytes undecided
// has them judged, and the hook called, before the walk waits on.
template <class OnPacket>
WalkEnd walkReadLoop(PacketWalk& w, int fd, OnPacket&& onPacket) {
    const uint64_t total = inputSize(fd);
    const bool live = isLiveDescriptor(fd);
    if (live) enlargePipe(fd);
    for (;;) {
        // Live input is read only once it has bytes: a read that blocks
        // would outlast a stop request.
        Readiness ready = live ? waitReadable(w, fd, w.u64Pos < w.u64Size ? kLiveQuietMs : -1) : Readiness::Readable;
        if (ready == Readiness::Quiet) {
            WalkStep step = walkJudged(w, true, false, onPacket);
            if (step == WalkStep::Stopped) return WalkEnd::Stopped;
            if (step == WalkStep::Interrupted) return WalkEnd::Interrupted;
            if (w.tBeforeMove.fn) w.tBeforeMove.fn(w.tBeforeMove.pUser);
            ready = waitReadable(w, fd, -1);
        }
        if (ready == Readiness::Stopped) return WalkEnd::Interrupted;
        int64_t n = walkRead(&w, fd);
        if (walkStopRequested(w)) return WalkEnd::Interrupted;
        if (n < 0) return WalkEnd::ReadError;
        if (n == 0) return WalkEnd::EndOfInput;
        walkReportProgress(&w, total);
        WalkStep step = walkBuffered(w, false, onPacket);
        if (step == WalkStep::Stopped) return WalkEnd::Stopped;
        if (step == WalkStep::Interrupted) return WalkEnd::Interrupted;
    }
}

// An input that ended short of the size its file had when the walk began on
// it shrank while being read: a read error of its own (WalkStats::nReadError).
constexpr int kInputShrank = -1;
// How reading a regular file open as `fd`, of `size` bytes at the start,
// ended: ReadError (kInputShrank) when its end came before that size.
WalkEnd checkFileEnd(PacketWalk& w, int fd, uint64_t size, WalkEnd end);

// walkReadLoop, for a regular file with the check of its end: one that
// ends short of the size it had at the start shrank under the walk, and
// would otherwise pass for a whole input.
template <class OnPacket>
WalkEnd walkRead(PacketWalk& w, int fd, OnPacket&& onPacket) {
    const uint64_t size = inputSize(fd);
    return checkFileEnd(w, fd, size, walkReadLoop(w, fd, onPacket));
}

// How ending the input went.
inline WalkEnd endOf(WalkStep step) {
    return step == WalkStep::Interrupted ? WalkEnd::Interrupted
           : step == WalkStep::Stopped   ? WalkEnd::Stopped
                                         : WalkEnd::EndOfInput;
}

// Reads the input open as `fd` to its end and hands out its packets.
template <class OnPacket>
WalkEnd walkFile(PacketWalk& w, int fd, OnPacket&& onPacket) {
    WalkEnd end = walkRead(w, fd, onPacket);
    return end == WalkEnd::EndOfInput ? endOf(walkBuffered(w, true, onPacket)) : end;
}

}  // namespace rivulet

#endif
