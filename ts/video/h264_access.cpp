// H.264: a decoder starts at an IDR picture, or at a picture of another kind
// whose access unit carries an SPS, a PPS and a recovery point SEI with
// recovery_frame_cnt 0 (the picture itself is whole: open-GOP and
// intra-refresh streams mark their entry points so).
#include "ts/video/access_rule.h"

namespace rivulet {
namespace {

constexpr uint8_t kSliceType = 1;
constexpr uint8_t kPartitionCType = 4;
constexpr uint8_t kIDRType = 5;
constexpr uint8_t kSEIType = 6;
constexpr uint8_t kSPSType = 7;
constexpr uint8_t kPPSType = 8;

constexpr uint8_t kSeenSPS = 0x01;
constexpr uint8_t kSeenPPS = 0x02;
constexpr uint8_t kSeenRecovery = 0x04;  // a recovery point with recovery_frame_cnt 0
constexpr uint8_t kSeenAll = kSeenSPS | kSeenPPS | kSeenRecovery;

constexpr uint32_t kRecoveryPointPayload = 6;
constexpr uint8_t kSumContinues = 0xFF;  // payloadType and payloadSize are sums of bytes up to one below 0xFF
constexpr uint8_t kEmulationPrevention = 0x03;

enum MessageStage : uint8_t { kMessageType, kMessageSize, kMessageFirstByte, kMessagePayload };

// Adds `byte` to the sum being read; true when it was the sum's last byte.
bool sumByte(TS_AccessPointDetector& d, uint8_t byte) {
    d.u32MessageValue += byte;
    return byte != kSumContinues;
}

// One byte of the SEI's RBSP: sei_message()s, each a type, a size and a
// payload. recovery_frame_cnt, the payload's first field, is ue(v): 0 is the
// single bit 1, so the payload's first bit tells.
void messageByte(TS_AccessPointDetector& d, uint8_t byte) {
    switch (d.u8MessageStage) {
    case kMessageType:
        if (!sumByte(d, byte)) return;
        d.u32MessageType = d.u32MessageValue;
        d.u32MessageValue = 0;
        d.u8MessageStage = kMessageSize;
        return;
    case kMessageSize:
        if (!sumByte(d, byte)) return;
        d.u32MessageLeft = d.u32MessageValue;
        d.u32MessageValue = 0;
        d.u8MessageStage = d.u32MessageLeft == 0                          ? kMessageType
                           : d.u32MessageType == kRecoveryPointPayload ? kMessageFirstByte
                                                                         : kMessagePayload;
        return;
    case kMessageFirstByte:
        if (byte & 0x80) d.u8Seen |= kSeenRecovery;
        [[fallthrough]];
    default:
        if (--d.u32MessageLeft == 0) d.u8MessageStage = kMessageType;
    }
}

// The SEI's bytes as sent: an emulation_prevention_three_byte behind two
// zero bytes is not part of the message.
void seiByte(TS_AccessPointDetector& d, uint8_t byte) {
    if (d.u8RBSPZeros >= 2 && byte == kEmulationPrevention) {
        d.u8RBSPZeros = 0;
        return;
    }
    d.u8RBSPZeros = byte != 0 ? 0 : d.u8RBSPZeros < 2 ? uint8_t(d.u8RBSPZeros + 1) : 2;
    messageByte(d, byte);
}

UnitStep nalHeader(TS_AccessPointDetector& d, uint8_t header) {
    switch (uint8_t type = header & 0x1F) {
    case kIDRType: return UnitStep::Point;
    case kSPSType: d.u8Seen |= kSeenSPS; return UnitStep::Skip;
    case kPPSType: d.u8Seen |= kSeenPPS; return UnitStep::Skip;
    case kSEIType:
        d.u8RBSPZeros = 0;
        d.u8MessageStage = kMessageType;
        d.u32MessageValue = 0;
        return UnitStep::More;
    default:
        if (type < kSliceType || type > kPartitionCType) return UnitStep::Skip;
        return d.u8Seen == kSeenAll ? UnitStep::Point : UnitStep::NoPoint;
    }
}

}  // namespace

UnitStep h264UnitByte(TS_AccessPointDetector& detector, uint32_t index, uint8_t byte) {
    if (index == 0) return nalHeader(detector, byte);
    seiByte(detector, byte);
    return UnitStep::More;
}

}  // namespace rivulet
