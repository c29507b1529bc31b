#include "ts/split/read_ahead.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "ts/split/stream_shapes.h"
#include "ts/stream/packet_flags.h"

namespace rivulet {

namespace {

constexpr uint64_t kRingSize = kReadAheadBytes + 4 * kReadSize;  // the distance, a piece let go of at once, one taken
constexpr uint64_t kPCRModulus = (1ull << 33) * 300;
constexpr uint64_t kMarkSpacing = 27000000 / 10;  // 100 ms

// Ticks from PCR `from` to PCR `to`, across the clock's wrap; a clock that
// jumps back reads as far ahead, so that what came before it is let go of.
uint64_t ticksBetween(uint64_t from, uint64_t to) { return (to + kPCRModulus - from) % kPCRModulus; }

// Hands the split behind the bytes before input offset `to`.
void releaseTo(ReadAhead& ahead, uint64_t to) {
    while (!ahead.u8Stopped && ahead.u64Released < to) {
        const uint64_t at = ahead.u64Released % kRingSize;
        const uint64_t size = to - ahead.u64Released < kRingSize - at ? to - ahead.u64Released : kRingSize - at;
        ahead.u8Stopped = !ahead.pfRelease(ahead.pReleaseUser, ahead.lu8Ring + at, size);
        ahead.u64Released += size;
    }
}

// A PCR of the first clock: a mark, 100 ms after the last at least.
void noteClock(ReadAhead& ahead, const PacketFlags& flags, uint64_t offset) {
    if (ahead.u16ClockPID == TS_PID_NULL) ahead.u16ClockPID = flags.u16PID;
    if (flags.u16PID != ahead.u16ClockPID) return;
    ahead.u64LatestPCR = flags.u64PCR;
    if (ahead.u32Marks > 0) {
        const ClockMark& last = ahead.lt[(ahead.u32First + ahead.u32Marks - 1) % kReadAheadMarks];
        if (ticksBetween(last.u64PCR, ahead.u64LatestPCR) < kMarkSpacing) return;
    }
    if (ahead.u32Marks == kReadAheadMarks) {  // the oldest goes: the next one bounds the distance a little later
        ahead.u32First = (ahead.u32First + 1) % kReadAheadMarks;
        --ahead.u32Marks;
    }
    ahead.lt[(ahead.u32First + ahead.u32Marks) % kReadAheadMarks] = ClockMark{offset, ahead.u64LatestPCR};
    ++ahead.u32Marks;
}

// The first pass is at the packet at `offset`: what lies 10 s of the clock,
// or 64 MiB (let go of a piece at a time), behind it goes to the split
// behind. Decided by the packets alone, so that any chunking gives the same.
void notePacket(void* user, const uint8_t* packet, uint64_t offset) {
    ReadAhead& ahead = *static_cast<ReadAhead*>(user);
    const PacketFlags flags = readPacketFlags(packet);
    if (flags.hasPCR && !flags.tei && flags.u16PID != TS_PID_NULL) noteClock(ahead, flags, offset);
    uint64_t to = ahead.u64Released;
    while (ahead.u32Marks > 0 && ticksBetween(ahead.lt[ahead.u32First].u64PCR, ahead.u64LatestPCR) > kReadAheadTicks) {
        to = ahead.lt[ahead.u32First].u64Offset;
        ahead.u32First = (ahead.u32First + 1) % kReadAheadMarks;
        --ahead.u32Marks;
    }
    if (offset - to > kReadAheadBytes + kReadSize) to = offset - kReadAheadBytes;
    releaseTo(ahead, to);
}

// One piece, kReadSize bytes at most: into the ring, and through the first pass.
void takePiece(ReadAhead& ahead, const uint8_t* bytes, uint64_t size) {
    // Room behind the bytes not let go of (the first pass keeps little of a piece back).
    if (ahead.u64Taken + size - ahead.u64Released > kRingSize) releaseTo(ahead, ahead.u64Taken + size - kRingSize);
    for (uint64_t done = 0; done < size;) {
        const uint64_t at = (ahead.u64Taken + done) % kRingSize;
        const uint64_t part = size - done < kRingSize - at ? size - done : kRingSize - at;
        std::memcpy(ahead.lu8Ring + at, bytes + done, part);
        done += part;
    }
    ahead.u64Taken += size;
    // A first pass that fails (for want of memory) gathers no more; the shapes then grow.
    if (ahead.pLead && TS_Splitter_Feed(ahead.pLead, bytes, size) != 0) {
        TS_Splitter_Abandon(ahead.pLead);
        ahead.pLead = nullptr;
    }
    if (!ahead.pLead) releaseTo(ahead, ahead.u64Taken);
}

}  // namespace

ReadAhead* readAheadCreate(const char* basePath, const TS_SplitOptions& options, ReleaseBytes release, void* user) {
    ReadAhead* ahead = new (std::nothrow) ReadAhead();
    TS_StreamShapes* shapes = ahead ? new (std::nothrow) TS_StreamShapes() : nullptr;
    uint8_t* ring = shapes ? static_cast<uint8_t*>(std::malloc(kRingSize)) : nullptr;
    uint8_t* chunk = ring ? static_cast<uint8_t*>(std::malloc(kReadSize)) : nullptr;
    if (!chunk) {
        std::free(ring);
        delete shapes;
        delete ahead;
        return nullptr;
    }
    ahead->pShapes = shapes;
    ahead->lu8Ring = ring;
    ahead->lu8Chunk = chunk;
    ahead->pfRelease = release;
    ahead->pReleaseUser = user;
    ahead->u16ClockPID = TS_PID_NULL;
    std::memset(ahead->lu64EveryPID, 0xFF, sizeof ahead->lu64EveryPID);
    TS_SplitOptions first = firstPassOptions(options, shapes);
    first.pfObserver = notePacket;
    first.pObserverUser = ahead;
    first.pObservedPIDs = ahead->lu64EveryPID;
    shapes->u8Gathering = 1;  // the first pass's stages gather by it, the split's do not
    ahead->pLead = TS_Splitter_Open(basePath, &first);
    shapes->u8Gathering = 0;
    if (!ahead->pLead) {
        readAheadDestroy(ahead);
        return nullptr;
    }
    return ahead;
}

void readAheadDestroy(ReadAhead* ahead) {
    if (!ahead) return;
    if (ahead->pLead) TS_Splitter_Abandon(ahead->pLead);
    TS_StreamShapes_Free(ahead->pShapes);
    std::free(ahead->lu8Ring);
    std::free(ahead->lu8Chunk);
    delete ahead;
}

bool readAheadTake(ReadAhead& ahead, const uint8_t* bytes, uint64_t size) {
    for (uint64_t done = 0; done < size && !ahead.u8Stopped;) {
        const uint64_t piece = size - done < kReadSize ? size - done : kReadSize;
        takePiece(ahead, bytes + done, piece);
        done += piece;
    }
    return !ahead.u8Stopped;
}

WalkEnd readAheadRead(ReadAhead& ahead, PacketWalk& walk, int fd) {
    const bool live = isLiveDescriptor(fd);
    if (live) enlargePipe(fd);
    for (;;) {
        // Live input is read only once it has bytes: a read that blocks would outlast a stop request.
        if (live && waitReadable(walk, fd, -1) == Readiness::Stopped) return WalkEnd::Interrupted;
        const int64_t n = readInto(walk, fd, ahead.lu8Chunk, kReadSize);
        if (walkStopRequested(walk)) return WalkEnd::Interrupted;
        if (n < 0) return WalkEnd::ReadError;
        if (n == 0) return WalkEnd::EndOfInput;
        if (!readAheadTake(ahead, ahead.lu8Chunk, uint64_t(n))) return WalkEnd::Stopped;
    }
}

void readAheadDrain(ReadAhead& ahead) { releaseTo(ahead, ahead.u64Taken); }

void readAheadSettle(ReadAhead& ahead) {
    if (ahead.pLead) TS_Splitter_Settle(ahead.pLead);
}

}  // namespace rivulet
