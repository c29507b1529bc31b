// The recent past of a program, for the margin before a cut: its packets as
// output units, each with the program's clock when it came, and the random
// access points among them. A program keeps as much as the margin needs
// (back to the last access point at least the margin old); all programs
// together keep at most a budget, beyond which the oldest packets go.
#ifndef RIVULET_PAST_PACKETS_H
#define RIVULET_PAST_PACKETS_H

#include <cstdint>

#include "ts/split/start_point.h"

namespace rivulet {

struct PastPacket {
    uint64_t u64Clock;      // 27 MHz of the program's clock (its PCR, jumps left out)
    uint8_t u8AccessPoint;  // a decoder can start at this packet
    uint8_t lu8Unit[kMaxOutputUnitSize];
};

struct PastBudget {
    uint64_t u64Used;   // bytes the programs' rings hold
    uint64_t u64Limit;
};

struct PastPackets {
    PastPacket* pRing;
    uint64_t u64Capacity;
    uint64_t u64First;       // index of the oldest packet kept, counted from the first pushed
    uint64_t u64End;         // index of the next packet to come
    uint8_t u8Trimmed;       // packets the margin needed went for the budget
    ProgramClock clock;
    TS_AccessPointDetector detector;
    uint8_t u8DetectorType;
    uint64_t u64PESStart;    // index of the first packet of the video PES being judged...
    uint8_t u8Judging;       // ...while its verdict is pending
};

// Frees what `past` holds and starts it afresh.
void pastClear(PastPackets& past, PastBudget& budget);

// Takes the program's next packet (its output unit of `size` bytes, the
// packet behind `prefix` bytes); `margin` is how far back a cut reaches.
void pastPush(PastPackets& past, PastBudget& budget, const ProgramShape& shape, const uint8_t* unit,
              uint32_t size, uint32_t prefix, uint64_t margin);

// The index of the access point at or before `margin` before the last
// packet, or of the oldest access point kept when none is that old; false
// when none is kept. `*span`: how far before the last packet it lies.
bool pastFind(const PastPackets& past, uint64_t margin, uint64_t* index, uint64_t* span);

inline const PastPacket& pastAt(const PastPackets& past, uint64_t index) {
    return past.pRing[index % past.u64Capacity];
}

}  // namespace rivulet

#endif
