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

// What one packet did to its PID's continuity.
struct CountedPacket {
    uint8_t u8Lost;   // packets lost before it
    bool ccError;
    bool duplicate;   // the one repeat of the last counter
};

constexpr uint8_t kContinuityCounterMask = 0x0F;

inline void continuityStartAfresh(ContinuityState& state, const PacketFlags& flags) {
    state.u8HasLast = flags.payload ? 1 : 0;
    state.u8Last = flags.u8Counter;
    state.u8Repeated = 0;
}

// The continuity of `flags`'s packet on its PID, whose state is given
// (inline: every packet of a check or a report comes through it).
inline CountedPacket continuityStep(ContinuityState& state, const PacketFlags& flags) {
    CountedPacket counted{0, false, false};
    if (flags.tei || flags.u16PID == TS_PID_NULL) return counted;
    if (flags.discontinuity || (flags.payload && !state.u8HasLast)) {
        continuityStartAfresh(state, flags);
        return counted;
    }
    if (!flags.payload) return counted;
    const uint8_t counter = flags.u8Counter;
    if (counter == state.u8Last && !state.u8Repeated) {
        state.u8Repeated = 1;
        counted.duplicate = true;
        return counted;
    }
    if (counter != ((state.u8Last + 1) & kContinuityCounterMask)) {
        counted.ccError = true;
        counted.u8Lost = uint8_t((counter - state.u8Last - 1) & kContinuityCounterMask);
    }
    // A counter that stays put goes on being an error after its one repeat.
    state.u8Repeated = counter == state.u8Last;
    state.u8Last = counter;
    return counted;
}

// Counts `flags`, the packet of the PID whose state and counts are given.
inline CountedPacket countPacket(ContinuityState& state, PIDCounts& counts, const PacketFlags& flags) {
    ++counts.u64Packets;
    counts.u64Scrambled += flags.scrambled;
    counts.u64TEI += flags.tei;
    const CountedPacket counted = continuityStep(state, flags);
    counts.u64Duplicates += counted.duplicate;
    counts.u64CCErrors += counted.ccError;
    counts.u64LostPackets += counted.u8Lost;
    return counted;
}

}  // namespace rivulet

#endif
