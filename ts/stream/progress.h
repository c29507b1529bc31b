#ifndef RIVULET_PROGRESS_H
#define RIVULET_PROGRESS_H

#include <cstdint>

#include "rivulet/common.h"

namespace rivulet {

// Hands the bytes read so far to the callback set with TS_SetProgressCallback.
void reportProgress(uint64_t done, uint64_t total);

}  // namespace rivulet

#endif
