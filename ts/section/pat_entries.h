// The program entries a PAT record holds. A parsed PAT never counts more
// than its array, but a record may come from elsewhere: every loop over the
// entries goes through this bound.
#pragma once

#include <cstdint>

#include "rivulet/ts.h"

namespace rivulet {

inline uint16_t patEntryCount(const TS_PAT& pat) {
    return pat.program_count < TS_PAT_MAX_PROGRAMS ? pat.program_count : uint16_t(TS_PAT_MAX_PROGRAMS);
}

}  // namespace rivulet
