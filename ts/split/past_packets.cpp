#include "ts/split/past_packets.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ts/core/bit_set.h"
#include "ts/stream/pcr_track.h"

namespace rivulet {
namespace {

// A block takes at most a mebibyte, counted with what the allocator keeps
// beside it and the rest of its last page; a small budget has smaller
// blocks, so that it holds several.
constexpr uint64_t kBlockBytes = uint64_t(1) << 20;
constexpr uint64_t kAllocatorShare = 4096;
constexpr uint64_t kBlockPackets = (kBlockBytes - kAllocatorShare) / sizeof(PastPacket);
constexpr uint64_t kFewestBlocks = 8;
// Packets a program keeps at most: the distance between two kept access
// points fits their link.
constexpr uint64_t kMostKept = UINT32_MAX;

uint64_t blockBytes(const PastPackets& past) { return past.u64BlockPackets * sizeof(PastPacket) + kAllocatorShare; }

uint64_t age(const PastPackets& past, const PastPacket& packet) { return past.clock.u64Elapsed - packet.u64Clock; }

PastPacket& at(PastPackets& past, uint64_t index) {
    return past.ppBlock[index / past.u64BlockPackets % past.u64BlockSlots][index % past.u64BlockPackets];
}

void followClock(PastPackets& past, const ProgramShape& shape, const uint8_t* packet) {
    uint64_t at = 0;
    if (programClockSample(shape, packet, &at)) clockAdd(past.clock, at);
}

// Access points are marked in the order of their packets, each linked from
// the one before.
void markAccessPoint(PastPackets& past, uint64_t index) {
    if (index < past.u64First || index >= past.u64End) return;
    if (past.u8Points && index <= past.u64LastPoint) return;
    at(past, index).u8AccessPoint = 1;
    if (past.u8Points) {
        at(past, past.u64LastPoint).u32NextPoint = uint32_t(index - past.u64LastPoint);
    } else {
        past.u64FirstPoint = index;
        past.u8Points = 1;
    }
    past.u64LastPoint = index;
}

// Judges the packet just kept: a video PES that is a random access point
// marks its first packet; without video, every PES start but the PMT's does.
void judge(PastPackets& past, const ProgramShape& shape, const uint8_t* packet) {
    const uint16_t pid = uint16_t((packet[1] & 0x1F) << 8 | packet[2]);
    const bool unitStart = (packet[1] & 0x40) != 0;
    const uint64_t index = past.u64End - 1;
    if (shape.u16VideoPID == TS_PID_NULL) {
        if (unitStart && pid != shape.u16PMTPID && testBit(shape.lu64PIDs, pid)) markAccessPoint(past, index);
        return;
    }
    if (pid != shape.u16VideoPID) return;
    if (past.u8DetectorType != shape.u8VideoType) {
        TS_AccessPoint_Initialise(&past.detector, shape.u8VideoType);
        past.u8DetectorType = shape.u8VideoType;
        past.u8Judging = 0;
    }
    int32_t verdict = TS_AccessPoint_Feed(&past.detector, packet);
    if (unitStart) {
        past.u64PESStart = index;
        past.u8Judging = 1;
    }
    if (!past.u8Judging || verdict == TS_ACCESS_PENDING) return;
    if (verdict == TS_ACCESS_POINT) markAccessPoint(past, past.u64PESStart);
    past.u8Judging = 0;
}

// From the access point `point` on, the newest that is at least `margin`
// old, or `point` when the next is younger.
uint64_t newestAged(const PastPackets& past, uint64_t point, uint64_t margin) {
    for (uint32_t next = pastAt(past, point).u32NextPoint; next != 0; next = pastAt(past, point).u32NextPoint) {
        if (age(past, pastAt(past, point + next)) < margin) break;
        point += next;
    }
    return point;
}

// Drops the packets before `index`, the access points among them, and the
// blocks that held only them.
void dropBefore(PastPackets& past, PastBudget& budget, uint64_t index) {
    past.u64First = std::max(past.u64First, index);
    while (past.u8Points && past.u64FirstPoint < past.u64First) {
        const uint32_t next = pastAt(past, past.u64FirstPoint).u32NextPoint;
        past.u8Points = next != 0;
        past.u64FirstPoint += next;
    }
    const uint64_t bytes = blockBytes(past);
    for (; past.u64FirstBlock < past.u64EndBlock && (past.u64FirstBlock + 1) * past.u64BlockPackets <= past.u64First;
         ++past.u64FirstBlock) {
        delete[] past.ppBlock[past.u64FirstBlock % past.u64BlockSlots];
        past.u64Bytes -= bytes;
        budget.u64Used -= bytes;
    }
}

// Drops what the margin no longer needs: the packets before the newest
// access point that is at least `margin` old. The clock only goes on, so
// an access point once that old stays so: the search goes on from the
// oldest access point kept, each passed once.
void dropAged(PastPackets& past, PastBudget& budget, uint64_t margin) {
    if (!past.u8Points) return;
    past.u64FirstPoint = newestAged(past, past.u64FirstPoint, margin);
    if (age(past, pastAt(past, past.u64FirstPoint)) >= margin) dropBefore(past, budget, past.u64FirstPoint);
}

// The table of blocks, as long as the budget holds blocks.
bool setUp(PastPackets& past, PastBudget& budget) {
    const uint64_t limit = budget.u64Limit;
    past.u64BlockPackets = std::clamp<uint64_t>(limit / (kFewestBlocks * sizeof(PastPacket)), 1, kBlockPackets);
    const uint64_t slots = std::clamp<uint64_t>(limit / blockBytes(past), 1, kMostKept / past.u64BlockPackets);
    const uint64_t bytes = slots * sizeof(PastPacket*);
    if (bytes > limit - budget.u64Used) return false;
    past.ppBlock = new (std::nothrow) PastPacket*[slots];
    if (!past.ppBlock) return false;
    past.u64BlockSlots = slots;
    past.u64Bytes = bytes;
    budget.u64Used += bytes;
    return true;
}

// A block for the packets from u64End on: a new one while the budget and
// the table allow, else the oldest, its packets dropped.
bool addBlock(PastPackets& past, PastBudget& budget) {
    const uint64_t bytes = blockBytes(past);
    PastPacket* block = nullptr;
    if (past.u64EndBlock - past.u64FirstBlock < past.u64BlockSlots && bytes <= budget.u64Limit - budget.u64Used) {
        block = new (std::nothrow) PastPacket[past.u64BlockPackets];
    }
    if (block) {
        past.u64Bytes += bytes;
        budget.u64Used += bytes;
    } else {
        // What the age left is all needed: a packet dropped now shortens the margin.
        past.u8Trimmed = 1;
        if (past.u64FirstBlock == past.u64EndBlock) return false;
        // Its slot is taken again only below, after its access points are passed.
        block = past.ppBlock[past.u64FirstBlock++ % past.u64BlockSlots];
        dropBefore(past, budget, past.u64FirstBlock * past.u64BlockPackets);
    }
    past.ppBlock[past.u64EndBlock++ % past.u64BlockSlots] = block;
    return true;
}

}  // namespace

void pastClear(PastPackets& past, PastBudget& budget) {
    for (uint64_t b = past.u64FirstBlock; b < past.u64EndBlock; ++b) delete[] past.ppBlock[b % past.u64BlockSlots];
    delete[] past.ppBlock;
    budget.u64Used -= past.u64Bytes;
    past = PastPackets{};
}

void pastPush(PastPackets& past, PastBudget& budget, const ProgramShape& shape, const uint8_t* unit,
              uint32_t size, const UnitOrigin& origin, uint32_t prefix, uint64_t margin) {
    const uint8_t* packet = unit + prefix;
    followClock(past, shape, packet);
    if (!past.ppBlock && !setUp(past, budget)) {
        past.u8Trimmed = 1;
        return;
    }
    dropAged(past, budget, margin);
    if (past.u64End == past.u64EndBlock * past.u64BlockPackets && !addBlock(past, budget)) return;
    PastPacket& kept = at(past, past.u64End++);
    kept.u64Clock = past.clock.u64Elapsed;
    kept.u8AccessPoint = 0;
    kept.u32NextPoint = 0;
    kept.tOrigin = origin;
    std::memcpy(kept.lu8Unit, unit, size);
    judge(past, shape, packet);
}

bool pastFind(const PastPackets& past, uint64_t margin, uint64_t* index, uint64_t* span) {
    if (!past.u8Points) return false;
    const uint64_t point = newestAged(past, past.u64FirstPoint, margin);
    *index = point;
    *span = age(past, pastAt(past, point));
    return true;
}

}  // namespace rivulet
