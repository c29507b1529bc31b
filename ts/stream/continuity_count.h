// Per-PID counting as receivers do it. Every packet counts under its PID's
// packets, and under scrambled when its transport_scrambling_control is not
// 0. A packet with transport_error_indicator counts under tei as well, and
// nothing else: its header cannot be trusted. Otherwise, a packet with
// payload whose continuity_counter is not the last one plus 1 (mod 16) is a
// continuity error that lost (counter - last - 1) mod 16 packets, except:
//   - the first packet with payload, which sets the counter;
//   - a single repeat of the last counter (a duplicate; a second is an error);
//   - a packet whose adaptation field sets discontinuity_indicator: it, or,
//     when it has no payload, the next packet with payload, starts afresh;
//   - the null PID, which has no counter.
// Packets without payload do not advance the counter. Duplicates are known by
// their counter alone: no packet bytes are kept.
#ifndef RIVULET_CONTINUITY_COUNT_H
#define RIVULET_CONTINUITY_COUNT_H

#include <cstdint>

#include "rivulet/check.h"
#include "ts/stream/packet_flags.h"

namespace rivulet {

using PIDCounts = TS_PIDCounts;

struct ContinuityState {
    uint8_t u8Last;
    uint8_t u8HasLast;   // a packet with payload has set the counter
    uint8_t u8Repeated;  // the last counter has been repeated once already
};

// What one packet did to its PID's counts.
struct CountedPacket {
    uint8_t u8Lost;   // packets lost before it
    bool ccError;
};

// Counts `flags`, the packet of the PID whose state and counts are given.
CountedPacket countPacket(ContinuityState& state, PIDCounts& counts, const PacketFlags& flags);

}  // namespace rivulet

#endif
