#include "ts/stream/pcr_track.h"

namespace rivulet {

void pcrTrackAdd(PCRTrack& track, uint64_t pcr, bool flagged) {
    ++track.u64PCRs;
    if (track.u8HasLast) {
        // Modulo the wrap, a step backwards is one of nearly 26.5 hours.
        const uint64_t step = (pcr + kPCRWrap - track.u64Last) % kPCRWrap;
        const bool discontinuity = flagged || step > kMaxPCRStep;
        if (!discontinuity) track.u64Duration += step;
        if (discontinuity && !flagged) ++track.u64Discontinuities;
    }
    track.u64Last = pcr % kPCRWrap;
    track.u8HasLast = 1;
}

}  // namespace rivulet
