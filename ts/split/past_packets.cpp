#include "ts/split/past_packets.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ts/core/bit_set.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/pcr_track.h"

namespace rivulet {
namespace {

constexpr uint64_t kFirstCapacity = 4096;        // packets: the ring grows from this by doubling

uint64_t age(const PastPackets& past, const PastPacket& packet) { return past.clock.u64Elapsed - packet.u64Clock; }

void followClock(PastPackets& past, const ProgramShape& shape, const uint8_t* packet) {
    PacketFlags flags = readPacketFlags(packet);
    if (flags.u16PID != shape.u16PCRPID || !flags.hasPCR || flags.tei) return;
    clockAdd(past.clock, flags.u64PCR);
}

void markAccessPoint(PastPackets& past, uint64_t index) {
    if (index >= past.u64First && index < past.u64End) past.pRing[index % past.u64Capacity].u8AccessPoint = 1;
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

// Drops what the margin no longer needs: the packets before the newest
// access point that is at least `margin` old.
void dropAged(PastPackets& past, uint64_t margin) {
    uint64_t keepFrom = past.u64First;
    for (uint64_t i = past.u64First; i < past.u64End; ++i) {
        const PastPacket& p = pastAt(past, i);
        if (age(past, p) < margin) break;
        if (p.u8AccessPoint) keepFrom = i;
    }
    past.u64First = keepFrom;
}

bool grow(PastPackets& past, PastBudget& budget) {
    constexpr uint64_t kSize = sizeof(PastPacket);
    uint64_t capacity = std::max(kFirstCapacity, past.u64Capacity * 2);
    capacity = std::min(capacity, past.u64Capacity + (budget.u64Limit - budget.u64Used) / kSize);
    if (capacity <= past.u64Capacity) return false;
    PastPacket* ring = new (std::nothrow) PastPacket[capacity];
    if (!ring) return false;
    for (uint64_t i = past.u64First; i < past.u64End; ++i) ring[i % capacity] = pastAt(past, i);
    delete[] past.pRing;
    budget.u64Used += (capacity - past.u64Capacity) * kSize;
    past.pRing = ring;
    past.u64Capacity = capacity;
    return true;
}

}  // namespace

void pastClear(PastPackets& past, PastBudget& budget) {
    delete[] past.pRing;
    budget.u64Used -= past.u64Capacity * sizeof(PastPacket);
    past = PastPackets{};
}

void pastPush(PastPackets& past, PastBudget& budget, const ProgramShape& shape, const uint8_t* unit,
              uint32_t size, uint32_t prefix, uint64_t margin) {
    const uint8_t* packet = unit + prefix;
    followClock(past, shape, packet);
    if (past.u64End - past.u64First == past.u64Capacity) {
        dropAged(past, margin);
        // What the age left is all needed: a packet dropped now shortens the margin.
        if (past.u64End - past.u64First == past.u64Capacity && !grow(past, budget)) {
            past.u8Trimmed = 1;
            if (past.u64Capacity == 0) return;
            ++past.u64First;
        }
    }
    PastPacket& kept = past.pRing[past.u64End++ % past.u64Capacity];
    kept.u64Clock = past.clock.u64Elapsed;
    kept.u8AccessPoint = 0;
    std::memcpy(kept.lu8Unit, unit, size);
    judge(past, shape, packet);
}

bool pastFind(const PastPackets& past, uint64_t margin, uint64_t* index, uint64_t* span) {
    bool found = false;
    for (uint64_t i = past.u64End; i-- > past.u64First;) {
        const PastPacket& p = pastAt(past, i);
        if (!p.u8AccessPoint) continue;
        *index = i;
        *span = age(past, p);
        found = true;
        if (*span >= margin) break;
    }
    return found;
}

}  // namespace rivulet
