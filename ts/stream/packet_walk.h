// The packet walk every driver shares: read the input in blocks into the
// context's stream buffer, find the packet format from the first bytes, and
// hand out the 188-byte packets one packet size apart. Where no sync byte
// stands a packet size further on, the walk skips to the next one. Fewer than
// one packet's unconsumed bytes are carried in front of the next block, so a
// packet that straddles two reads is handed out once, whole.
#ifndef RIVULET_PACKET_WALK_H
#define RIVULET_PACKET_WALK_H

#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "rivulet/ts.h"
#include "ts/stream/packet_format.h"
#include "ts/stream/progress.h"

namespace rivulet {

enum class WalkEnd { EndOfInput, Stopped, ReadError, Interrupted };

// What the walk in progress (or the last one) has seen.
struct WalkStats {
    uint64_t u64Skipped;  // bytes passed over to regain sync
    uint64_t u64Packets;  // packets of the stream: in step with two before them, or with the start
    uint64_t u64End;      // input offset behind the last packet handed out
};
extern WalkStats g_tWalkStats;
// Set by TS_RequestStop; the walk ends at the next packet boundary.
extern volatile sig_atomic_t g_stopRequested;

// Moves the unconsumed bytes to the buffer's start, where new bytes are then
// put behind them; returns their count. Every way of adding data goes through
// it, so that a packet cut by the end of one block is whole in the next.
template <class Context>
uint64_t keepUnconsumed(Context& ctx) {
    uint64_t tail = ctx.u64Size - ctx.u64Pos;
    std::memmove(ctx.lu8Buffer, ctx.lu8Buffer + ctx.u64Pos, tail);
    ctx.u64Size = tail;
    ctx.u64Pos = 0;
    return tail;
}

// Output files that queued packets lying in the stream buffer write them out:
// called before the buffer is refilled.
void flushQueuedOutputs();

// Bytes one read asks for: few enough that a block is still in the CPU's
// cache while its packets are parsed and written out (a read of the whole
// 32 MiB block would have it evicted first), many enough to keep system
// calls rare.
constexpr uint32_t kReadSize = 1 << 20;
static_assert(kReadSize <= TS_READ_BLOCK_SIZE);

// Reads the next block behind the unconsumed bytes. Returns the byte count
// read, 0 at the end, -1 on a read error.
template <class Context>
int64_t readBlock(Context& ctx, int fd) {
    flushQueuedOutputs();
    uint64_t tail = keepUnconsumed(ctx);
    ssize_t n;
    do {
        n = ::read(fd, ctx.lu8Buffer + tail, kReadSize);
    } while (n < 0 && errno == EINTR && !g_stopRequested);
    if (n > 0) ctx.u64Size += uint64_t(n);
    return n;
}

inline uint64_t inputSize(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
}

// Reads until the stream buffer holds what finding the packet format needs,
// or the input ends. Returns the bytes added, or -1 on a read error.
template <class Context>
int64_t fillFormatWindow(Context& ctx, int fd) {
    int64_t added = 0;
    while (ctx.u64Size < kFormatWindowSize) {
        ssize_t n = ::read(fd, ctx.lu8Buffer + ctx.u64Size, kFormatWindowSize - ctx.u64Size);
        if (n < 0 && errno == EINTR && !g_stopRequested) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        ctx.u64Size += uint64_t(n);
        added += n;
    }
    return added;
}

template <class Context>
void startAtFirstPacket(Context& ctx) {
    g_tPacketFormat = detectPacketFormat(ctx.lu8Buffer, ctx.u64Size);
    ctx.u64Pos = g_tPacketFormat.u32First < ctx.u64Size ? g_tPacketFormat.u32First : ctx.u64Size;
    g_tWalkStats.u64Skipped = ctx.u64Pos;
}

// No sync byte where a packet should begin: move to the next sync byte
// (keeping the bytes in front of it that its packet begins with).
template <class Context>
void resync(Context& ctx) {
    const uint32_t prefix = g_tPacketFormat.u32Prefix;
    const uint8_t* from = ctx.lu8Buffer + ctx.u64Pos + prefix + 1;
    const void* hit = std::memchr(from, TS_SYNC_BYTE, ctx.lu8Buffer + ctx.u64Size - from);
    uint64_t sync = hit ? uint64_t(static_cast<const uint8_t*>(hit) - ctx.lu8Buffer) : 0;
    if (hit && prefix > 0) sync = pastHeaderBytes(ctx.lu8Buffer, ctx.u64Size, sync);
    uint64_t next = hit ? sync - prefix : ctx.u64Size - prefix;
    g_tWalkStats.u64Skipped += next - ctx.u64Pos;
    ctx.u64Pos = next;
}

// Hands out the whole packets of the buffer; false when onPacket stopped the
// walk. `expected` and `streak` follow the stream's step (see walkPackets).
template <class Context, class OnPacket>
bool walkBlock(Context& ctx, uint64_t base, uint64_t& expected, uint32_t& streak, OnPacket&& onPacket) {
    const uint32_t size = g_tPacketFormat.u32Size;
    const uint32_t prefix = g_tPacketFormat.u32Prefix;
    TS_Packet header;
    while (ctx.u64Pos + size <= ctx.u64Size) {
        const uint8_t* packet = ctx.lu8Buffer + ctx.u64Pos + prefix;
        if (*packet != TS_SYNC_BYTE) {
            resync(ctx);
            continue;
        }
        if (g_stopRequested) return true;
        streak = base + ctx.u64Pos == expected ? streak + 1 : 0;
        g_tWalkStats.u64Packets += streak >= 2;
        TS_Packet_GetHeader(&header, packet);
        if (!onPacket(packet, static_cast<const TS_Packet&>(header))) return false;
        ctx.u64Pos += size;
        expected = base + ctx.u64Pos;
        g_tWalkStats.u64End = expected;
    }
    return true;
}

// At the end of the input, a last packet whose parity bytes are missing is
// still a whole packet. False when onPacket stopped the walk.
template <class Context, class OnPacket>
bool walkLastPacket(Context& ctx, uint64_t done, OnPacket&& onPacket) {
    const uint32_t prefix = g_tPacketFormat.u32Prefix;
    const uint8_t* packet = ctx.lu8Buffer + ctx.u64Pos + prefix;
    if (g_tPacketFormat.u32Size == TS_PACKET_SIZE + prefix || ctx.u64Pos + prefix + TS_PACKET_SIZE > ctx.u64Size ||
        *packet != TS_SYNC_BYTE) {
        return true;
    }
    TS_Packet header;
    TS_Packet_GetHeader(&header, packet);
    g_tWalkStats.u64Packets += g_tWalkStats.u64End == done - ctx.u64Size + ctx.u64Pos;
    g_tWalkStats.u64End = done - ctx.u64Size + ctx.u64Pos + prefix + TS_PACKET_SIZE;
    return onPacket(packet, static_cast<const TS_Packet&>(header));
}

// Calls onPacket(const uint8_t* packet, const TS_Packet& header) for every
// 188-byte packet, its 4-byte header parsed (not its adaptation field); a
// false return stops the walk.
template <class Context, class OnPacket>
WalkEnd walkPackets(Context& ctx, int fd, OnPacket&& onPacket) {
    const uint64_t total = inputSize(fd);
    uint64_t done = 0;
    bool started = false;
    g_tPacketFormat = PacketFormat{TS_PACKET_SIZE, 0, 0, 0};
    g_tWalkStats = WalkStats{0, 0, 0};
    // Where the next packet stands if the stream keeps step. A sync byte found
    // by resynchronising may be noise: only a packet with two before it in
    // step (or one in step with a start the format search confirmed, or with
    // the input's first byte) counts as the stream's.
    uint64_t expected = 0;
    uint32_t streak = 0;
    for (;;) {
        int64_t n = readBlock(ctx, fd);
        if (n > 0 && !started) {
            int64_t more = fillFormatWindow(ctx, fd);
            n = more < 0 ? more : n + more;
        }
        if (g_stopRequested) return WalkEnd::Interrupted;
        if (n < 0) return WalkEnd::ReadError;
        if (n == 0) return walkLastPacket(ctx, done, onPacket) ? WalkEnd::EndOfInput : WalkEnd::Stopped;
        done += uint64_t(n);
        reportProgress(done, total);
        if (!started) {
            startAtFirstPacket(ctx);
            bool anchored = g_tPacketFormat.u8Confirmed || ctx.u64Pos == 0;
            expected = anchored ? ctx.u64Pos : UINT64_MAX;
            streak = anchored ? 1 : 0;
        }
        started = true;
        const uint64_t base = done - ctx.u64Size;  // input offset of the buffer's first byte
        if (!walkBlock(ctx, base, expected, streak, onPacket)) return WalkEnd::Stopped;
        if (g_stopRequested) return WalkEnd::Interrupted;
    }
}

}  // namespace rivulet

#endif
