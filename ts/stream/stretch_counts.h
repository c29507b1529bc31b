// A stretch of a program's packets counted for its verdict (rivulet/check.h):
// each packet under its PID's kind, as continuity_count.h counts it, and the
// gaps a gap watch (gap_watch.h) finds.
#ifndef RIVULET_STRETCH_COUNTS_H
#define RIVULET_STRETCH_COUNTS_H

#include "rivulet/check.h"
#include "ts/stream/packet_flags.h"

namespace rivulet {

// A packet of kind `kind` (TS_KIND_NONE: not counted) with its flags, which
// broke continuity losing `lost` packets when `ccError`.
inline void stretchCount(TS_StretchCounts& stretch, uint8_t kind, const PacketFlags& flags, bool ccError,
                         uint8_t lost) {
    if (kind >= TS_KIND_COUNT) return;
    TS_PIDCounts& counts = stretch.ltKind[kind];
    ++counts.u64Packets;
    counts.u64Scrambled += flags.scrambled;
    counts.u64TEI += flags.tei;
    counts.u64CCErrors += ccError;
    counts.u64LostPackets += lost;
}
void stretchAddGap(TS_StretchCounts& stretch, const TS_InputGap& gap);

}  // namespace rivulet

#endif
