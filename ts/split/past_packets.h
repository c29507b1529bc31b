// The recent past of a program, for the margin before a cut: its packets as
// output units, each with the program's clock when it came, and the random
// access points among them. A program keeps as much as the margin needs
// (back to the last access point at least the margin old); all programs
// together keep at most a budget, beyond which the oldest packets go. The
// packets lie in blocks taken one at a time while the budget allows and
// given back once their packets are all dropped: the budget bounds all the
// memory they take, with their growth, and keeping or dropping a packet
// costs the same however long the past.
#ifndef RIVULET_PAST_PACKETS_H
#define RIVULET_PAST_PACKETS_H

#include <cstdint>

#include "ts/split/start_point.h"

namespace rivulet {

struct PastPacket {
    uint64_t u64Clock;      // 27 MHz of the program's clock (its PCR, jumps left out)
    uint8_t u8AccessPoint;  // a decoder can start at this packet
    uint32_t u32NextPoint;  // an access point: packets from it to the next one, 0 while none
    UnitOrigin tOrigin;
    uint8_t lu8Unit[kMaxOutputUnitSize];
};

struct PastBudget {
    uint64_t u64Used;   // bytes the programs' blocks and block tables take
    uint64_t u64Limit;
};

struct PastPackets {
    PastPacket** ppBlock;     // a ring of blocks: block b (packets b * u64BlockPackets on) at b % u64BlockSlots
    uint64_t u64BlockSlots;
    uint64_t u64BlockPackets;
    uint64_t u64FirstBlock;   // the blocks held, numbered from the first
    uint64_t u64EndBlock;
    uint64_t u64Bytes;        // what the blocks and their table take of the budget
    uint64_t u64First;        // index of the oldest packet kept, counted from the first pushed
    uint64_t u64End;          // index of the next packet to come
    uint8_t u8Trimmed;        // packets the margin needed went for the budget
    uint8_t u8Points;         // access points are kept: the oldest, linked on to the newest
    uint64_t u64FirstPoint;
    uint64_t u64LastPoint;
    ProgramClock clock;
    TS_AccessPointDetector detector;
    uint8_t u8DetectorType;
    uint64_t u64PESStart;    // index of the first packet of the video PES being judged...
    uint8_t u8Judging;       // ...while its verdict is pending
};

// Frees what `past` holds and starts it afresh.
void pastClear(PastPackets& past, PastBudget& budget);

// Takes the program's next packet (its output unit of `size` bytes from
// `origin`, the packet behind `prefix` bytes); `margin` is how far back a
// cut reaches.
void pastPush(PastPackets& past, PastBudget& budget, const ProgramShape& shape, const uint8_t* unit,
              uint32_t size, const UnitOrigin& origin, uint32_t prefix, uint64_t margin);

// The index of the access point at or before `margin` before the last
// packet, or of the oldest access point kept when none is that old; false
// when none is kept. `*span`: how far before the last packet it lies.
bool pastFind(const PastPackets& past, uint64_t margin, uint64_t* index, uint64_t* span);

inline const PastPacket& pastAt(const PastPackets& past, uint64_t index) {
    return past.ppBlock[index / past.u64BlockPackets % past.u64BlockSlots][index % past.u64BlockPackets];
}

}  // namespace rivulet

#endif
