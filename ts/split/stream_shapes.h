// What a first pass over a regular file gathers for a stable split
// (--stable): for each file the split would write, known by its program,
// duplicate and first input byte, the streams that any PMT section it
// takes lists. The split proper then lists them all in every PMT of the
// file, from its first packet.
#ifndef RIVULET_STREAM_SHAPES_H
#define RIVULET_STREAM_SHAPES_H

#include "rivulet/split.h"
#include "ts/core/growable.h"
#include "ts/split/component_choice.h"

namespace rivulet {

struct GatheredShape {
    uint16_t u16Program;
    uint16_t u16Duplicate;
    uint64_t u64Opened;  // input offset the file opened at
    StreamLoop tListed;
};

}  // namespace rivulet

struct TS_StreamShapes {
    uint8_t u8Gathering;  // 1 while the first pass fills it
    rivulet::Growable<rivulet::GatheredShape> list;
};

namespace rivulet {

// The shape of the file of `program`, `duplicate` that opened at `opened`; null when none was gathered.
const GatheredShape* findShape(const TS_StreamShapes& shapes, uint16_t program, uint16_t duplicate, uint64_t opened);
// The options of the first pass of a split of `options`, gathering `shapes`:
// every program, nothing written or said.
TS_SplitOptions firstPassOptions(const TS_SplitOptions& options, TS_StreamShapes* shapes);
// Keeps a file's shape; false when memory is short.
bool keepShape(TS_StreamShapes& shapes, const GatheredShape& shape);

}  // namespace rivulet

#endif
