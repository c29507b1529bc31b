// The read-ahead of a stable split that has no shapes gathered before it
// (live input): a first pass (stream_shapes.h) runs over the bytes as they
// come, and the split proper follows it at a bounded distance, 10 s of the
// stream's clock or 64 MiB, whichever is reached first. Each file the split
// opens then lists the streams its program announces within that distance
// from its start; a stream announced later joins its shape where it is
// announced. The distance is measured on the input alone (its bytes and its
// first clock's PCRs), so that any chunking of the input gives the same files.
#ifndef RIVULET_READ_AHEAD_H
#define RIVULET_READ_AHEAD_H

#include <cstdint>

#include "rivulet/split.h"
#include "ts/stream/packet_walk.h"

namespace rivulet {

constexpr uint64_t kReadAheadBytes = 64ull << 20;
constexpr uint64_t kReadAheadTicks = 10ull * 27000000;  // 10 s of a 27 MHz clock
constexpr uint32_t kReadAheadMarks = 256;               // clock marks 100 ms apart at least

// Hands bytes the read-ahead lets go of to the split behind; false stops it.
using ReleaseBytes = bool (*)(void* user, const uint8_t* bytes, uint64_t size);

struct ClockMark {
    uint64_t u64Offset;  // of the packet carrying the PCR
    uint64_t u64PCR;     // in 27 MHz ticks
};

struct ReadAhead {
    TS_Splitter* pLead;        // the first pass, over every byte taken
    TS_StreamShapes* pShapes;  // what it gathers, for the split behind
    uint8_t* lu8Ring;          // the bytes taken and not let go of: input offsets [u64Released, u64Taken)
    uint8_t* lu8Chunk;         // a read from a descriptor
    uint64_t u64Taken;
    uint64_t u64Released;
    ReleaseBytes pfRelease;
    void* pReleaseUser;
    uint8_t u8Stopped;         // the split behind said stop
    uint16_t u16ClockPID;      // of the first PCR; TS_PID_NULL before it
    uint64_t u64LatestPCR;
    ClockMark lt[kReadAheadMarks];  // a ring, oldest at u32First
    uint32_t u32First;
    uint32_t u32Marks;
    uint64_t lu64EveryPID[TS_PID_COUNT / 64];
};

// A read-ahead for the split of `options` (stable, without shapes) opened at
// `basePath`, handing its bytes to `release`; its pShapes go to the split's
// component stage. Null when memory is short.
ReadAhead* readAheadCreate(const char* basePath, const TS_SplitOptions& options, ReleaseBytes release, void* user);
void readAheadDestroy(ReadAhead* ahead);
// Takes bytes of the input; false once the split behind said stop.
bool readAheadTake(ReadAhead& ahead, const uint8_t* bytes, uint64_t size);
// Reads `fd` to its end through the read-ahead; the split behind's `walk`
// says when to stop, and keeps a read error. Bytes still ahead stay there.
WalkEnd readAheadRead(ReadAhead& ahead, PacketWalk& walk, int fd);
// Lets go of every byte still ahead: the input has ended.
void readAheadDrain(ReadAhead& ahead);
// The first pass judges what it has on the evidence there is (live input paused).
void readAheadSettle(ReadAhead& ahead);

}  // namespace rivulet

#endif
