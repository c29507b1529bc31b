#include "ts/stream/stretch_counts.h"

namespace rivulet {

void stretchCount(TS_StretchCounts& stretch, uint8_t kind, const PacketFlags& flags, bool ccError, uint8_t lost) {
    if (kind >= TS_KIND_COUNT) return;
    TS_PIDCounts& counts = stretch.ltKind[kind];
    ++counts.u64Packets;
    counts.u64Scrambled += flags.scrambled;
    counts.u64TEI += flags.tei;
    counts.u64CCErrors += ccError;
    counts.u64LostPackets += lost;
}

void stretchAddGap(TS_StretchCounts& stretch, const TS_InputGap& gap) {
    if (stretch.u32Gaps < TS_LISTED_GAPS) stretch.ltGap[stretch.u32Gaps] = gap;
    ++stretch.u32Gaps;
}

}  // namespace rivulet

uint8_t TS_StretchDamage(const TS_StretchCounts* stretch) {
    if (!stretch) return 0;
    uint8_t damage = stretch->u32Gaps ? TS_DAMAGE_GAPS : 0;
    for (const TS_PIDCounts& counts : stretch->ltKind) {
        if (counts.u64CCErrors) damage |= TS_DAMAGE_DROPS;
        if (counts.u64Scrambled) damage |= TS_DAMAGE_SCRAMBLED;
        if (counts.u64TEI) damage |= TS_DAMAGE_TEI;
    }
    return damage;
}
