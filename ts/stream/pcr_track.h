// The program clock of one PID, from its PCRs (27 MHz, base * 300 +
// extension). Consecutive PCRs make a step, taken modulo the 33-bit base's
// wrap. A step backwards or of more than a second is a discontinuity (a
// stream's PCRs may come further apart than the 100 ms the standard asks,
// as those of 1seg do, about every 200 ms: that is time): counted
// when no discontinuity_indicator announced it. Every step that is not a
// discontinuity, flagged or not, adds to the clock's duration, so that
// neither a wrap nor a jump makes a recording seem hours long.
#ifndef RIVULET_PCR_TRACK_H
#define RIVULET_PCR_TRACK_H

#include <cstdint>

namespace rivulet {

constexpr uint64_t kPCRHz = 27000000;
constexpr uint64_t kPCRWrap = (uint64_t(1) << 33) * 300;
constexpr uint64_t kMaxPCRStep = kPCRHz;  // 1 s

struct PCRTrack {
    uint64_t u64Last;
    uint64_t u64Duration;         // sum of the steps that are no discontinuity
    uint64_t u64PCRs;
    uint64_t u64Discontinuities;  // steps backwards or over a second, unannounced
    uint8_t u8HasLast;
};

// Takes the next PCR; `flagged`: its packet sets discontinuity_indicator.
void pcrTrackAdd(PCRTrack& track, uint64_t pcr, bool flagged);

}  // namespace rivulet

#endif
