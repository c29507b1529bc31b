#include "ts/stream/stretch_counts.h"

namespace rivulet {

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
