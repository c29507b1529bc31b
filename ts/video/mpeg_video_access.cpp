// MPEG-1 and MPEG-2 video: a decoder starts at a sequence header, which a
// coded picture of the PES may only follow.
#include "ts/video/access_rule.h"

namespace rivulet {
namespace {

constexpr uint8_t kLastSliceStartCode = 0xAF;  // 0x00 starts a picture, 0x01 to 0xAF its slices
constexpr uint8_t kSequenceHeaderCode = 0xB3;

}  // namespace

UnitStep mpegVideoUnitByte(TS_AccessPointDetector&, uint32_t, uint8_t code) {
    if (code == kSequenceHeaderCode) return UnitStep::Point;
    if (code <= kLastSliceStartCode) return UnitStep::NoPoint;
    return UnitStep::Skip;  // a GOP header, an extension, user data
}

}  // namespace rivulet
