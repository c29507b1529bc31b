#include "ts/stream/continuity_count.h"

namespace rivulet {
namespace {

constexpr uint8_t kCounterMask = 0x0F;

void startAfresh(ContinuityState& state, const PacketFlags& flags) {
    state.u8HasLast = flags.payload ? 1 : 0;
    state.u8Last = flags.u8Counter;
    state.u8Repeated = 0;
}

}  // namespace

CountedPacket countPacket(ContinuityState& state, PIDCounts& counts, const PacketFlags& flags) {
    ++counts.u64Packets;
    counts.u64Scrambled += flags.scrambled;
    CountedPacket counted{0, false};
    if (flags.tei) {
        ++counts.u64TEI;
        return counted;
    }
    if (flags.u16PID == TS_PID_NULL) return counted;
    if (flags.discontinuity || (flags.payload && !state.u8HasLast)) {
        startAfresh(state, flags);
        return counted;
    }
    if (!flags.payload) return counted;
    const uint8_t counter = flags.u8Counter;
    if (counter == state.u8Last && !state.u8Repeated) {
        ++counts.u64Duplicates;
        state.u8Repeated = 1;
        return counted;
    }
    if (counter != ((state.u8Last + 1) & kCounterMask)) {
        counted.ccError = true;
        counted.u8Lost = uint8_t((counter - state.u8Last - 1) & kCounterMask);
        ++counts.u64CCErrors;
        counts.u64LostPackets += counted.u8Lost;
    }
    // A counter that stays put goes on being an error after its one repeat.
    state.u8Repeated = counter == state.u8Last;
    state.u8Last = counter;
    return counted;
}

}  // namespace rivulet
