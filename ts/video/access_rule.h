// How one codec's units tell a random access point: each rule reads the
// bytes behind every start code prefix (00 00 01) of a PES, from the code
// or NAL header on, until it has what it needs of that unit or of the PES.
#ifndef RIVULET_ACCESS_RULE_H
#define RIVULET_ACCESS_RULE_H

#include <cstdint>

#include "rivulet/video.h"

namespace rivulet {

enum class UnitStep : uint8_t {
    More,     // the next byte of this unit matters too
    Skip,     // nothing more of this unit: on to the next start code
    Point,    // the PES is a random access point
    NoPoint,  // the PES is not one
};

// `index`: the byte's place behind the start code prefix (0: the code itself).
using UnitByte = UnitStep (*)(TS_AccessPointDetector& detector, uint32_t index, uint8_t byte);

UnitStep mpegVideoUnitByte(TS_AccessPointDetector& detector, uint32_t index, uint8_t byte);
UnitStep h264UnitByte(TS_AccessPointDetector& detector, uint32_t index, uint8_t byte);
UnitStep hevcUnitByte(TS_AccessPointDetector& detector, uint32_t index, uint8_t byte);

}  // namespace rivulet

#endif
