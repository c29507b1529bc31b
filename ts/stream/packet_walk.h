// The packet walk every driver shares: read the input in 32 MiB blocks into the
// context's stream buffer, skip to a sync byte, and hand out 188-byte packets.
// Fewer than 188 unconsumed bytes are carried in front of the next block, so a
// packet that straddles two reads is handed out once, whole.
#ifndef RIVULET_PACKET_WALK_H
#define RIVULET_PACKET_WALK_H

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "rivulet/ts.h"
#include "ts/stream/progress.h"

namespace rivulet {

enum class WalkEnd { EndOfInput, Stopped, ReadError };

template <class Context>
void skipToSync(Context& ctx, uint64_t need) {
    while (ctx.u64Pos + need <= ctx.u64Size && ctx.lu8Buffer[ctx.u64Pos] != TS_SYNC_BYTE) {
        const void* hit = std::memchr(ctx.lu8Buffer + ctx.u64Pos, TS_SYNC_BYTE, ctx.u64Size - ctx.u64Pos);
        ctx.u64Pos = hit ? uint64_t(static_cast<const uint8_t*>(hit) - ctx.lu8Buffer) : ctx.u64Size;
    }
}

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

// Reads the next block behind the unconsumed bytes. Returns the byte count
// read, 0 at the end, -1 on a read error.
template <class Context>
int64_t readBlock(Context& ctx, int fd) {
    uint64_t tail = keepUnconsumed(ctx);
    ssize_t n;
    do {
        n = ::read(fd, ctx.lu8Buffer + tail, TS_READ_BLOCK_SIZE);
    } while (n < 0 && errno == EINTR);
    if (n > 0) ctx.u64Size += uint64_t(n);
    return n;
}

inline uint64_t inputSize(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
}

// Calls onPacket(const uint8_t* packet, const TS_Packet& header) for every
// packet; a false return stops the walk.
template <class Context, class OnPacket>
WalkEnd walkPackets(Context& ctx, int fd, OnPacket&& onPacket) {
    const uint64_t total = inputSize(fd);
    uint64_t done = 0;
    TS_Packet header;
    for (;;) {
        int64_t n = readBlock(ctx, fd);
        if (n < 0) return WalkEnd::ReadError;
        if (n == 0) return WalkEnd::EndOfInput;
        done += uint64_t(n);
        reportProgress(done, total);
        skipToSync(ctx, 1);
        while (ctx.u64Pos + TS_PACKET_SIZE <= ctx.u64Size) {
            const uint8_t* packet = ctx.lu8Buffer + ctx.u64Pos;
            TS_Packet_Get(&header, packet);
            if (!onPacket(packet, static_cast<const TS_Packet&>(header))) return WalkEnd::Stopped;
            ctx.u64Pos += TS_PACKET_SIZE;
            skipToSync(ctx, TS_PACKET_SIZE);
        }
    }
}

}  // namespace rivulet

#endif
