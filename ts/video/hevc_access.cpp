// HEVC: a decoder starts at an IRAP picture (BLA, IDR or CRA: nal_unit_type
// 16 to 21) whose access unit carries its VPS, SPS and PPS before it.
#include "ts/video/access_rule.h"

namespace rivulet {
namespace {

constexpr uint8_t kLastVCLType = 31;
constexpr uint8_t kFirstIRAPType = 16;
constexpr uint8_t kLastIRAPType = 21;
constexpr uint8_t kVPSType = 32;
constexpr uint8_t kPPSType = 34;
constexpr uint8_t kAllParameterSets = 0x07;  // a bit per type from kVPSType to kPPSType

}  // namespace

UnitStep hevcUnitByte(TS_AccessPointDetector& detector, uint32_t, uint8_t header) {
    uint8_t type = (header >> 1) & 0x3F;  // behind forbidden_zero_bit
    if (type >= kVPSType && type <= kPPSType) {
        detector.u8Seen |= uint8_t(1 << (type - kVPSType));
        return UnitStep::Skip;
    }
    if (type > kLastVCLType) return UnitStep::Skip;
    bool irap = type >= kFirstIRAPType && type <= kLastIRAPType;
    return irap && detector.u8Seen == kAllParameterSets ? UnitStep::Point : UnitStep::NoPoint;
}

}  // namespace rivulet
