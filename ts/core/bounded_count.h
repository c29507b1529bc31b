// Counts read from records are bounded by the arrays that hold the items: a
// parsed record never counts more than its array, but a record may come from
// elsewhere, so every loop over a record's items goes through this bound.
#pragma once

#include <cstdint>

#include "rivulet/tables.h"

namespace rivulet {

constexpr uint32_t boundedCount(uint32_t count, uint32_t capacity) { return count < capacity ? count : capacity; }

inline uint16_t patEntryCount(const TS_PAT& pat) {
    return uint16_t(boundedCount(pat.program_count, TS_PAT_MAX_PROGRAMS));
}

}  // namespace rivulet
