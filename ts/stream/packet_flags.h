// The few header and adaptation-field bits the checks read from every
// packet, straight from its bytes: cheaper than a full adaptation field parse,
// and bounded by the adaptation_field_length the packet declares.
#ifndef RIVULET_PACKET_FLAGS_H
#define RIVULET_PACKET_FLAGS_H

#include <cstdint>

#include "rivulet/common.h"

namespace rivulet {

// The PID of the 188-byte packet at `packet`.
inline uint16_t pidOfUnit(const uint8_t* packet) { return uint16_t((packet[1] & 0x1F) << 8 | packet[2]); }

struct PacketFlags {
    uint16_t u16PID;
    uint8_t u8Counter;
    bool tei;
    bool scrambled;        // transport_scrambling_control not 0
    bool payload;          // adaptation_field_control bit 0
    bool discontinuity;    // discontinuity_indicator of the adaptation field
    bool hasPCR;
    uint64_t u64PCR;       // 27 MHz: base * 300 + extension
};

inline PacketFlags readPacketFlags(const uint8_t* packet) {
    constexpr uint8_t kDiscontinuityBit = 0x80;
    constexpr uint8_t kPCRBit = 0x10;
    constexpr uint8_t kPCRFieldLength = 7;  // flags byte and the 6 PCR bytes
    PacketFlags f{};
    f.u16PID = pidOfUnit(packet);
    f.u8Counter = packet[3] & 0x0F;
    f.tei = (packet[1] & 0x80) != 0;
    f.scrambled = (packet[3] & 0xC0) != 0;
    f.payload = (packet[3] & 0x10) != 0;
    const bool adaptation = (packet[3] & 0x20) != 0;
    const uint8_t length = packet[4];
    if (!adaptation || length == 0) return f;
    const uint8_t flags = packet[5];
    f.discontinuity = (flags & kDiscontinuityBit) != 0;
    // A PCR is read only where the field's declared length holds it (and the
    // length itself stays within the packet: at most 183).
    f.hasPCR = (flags & kPCRBit) != 0 && length >= kPCRFieldLength && length <= TS_PACKET_SIZE - 5;
    if (f.hasPCR) {
        const uint8_t* p = packet + 6;
        uint64_t base = uint64_t(p[0]) << 25 | uint64_t(p[1]) << 17 | uint64_t(p[2]) << 9 | uint64_t(p[3]) << 1 |
                        uint64_t(p[4] >> 7);
        uint64_t extension = uint64_t(p[4] & 1) << 8 | p[5];
        f.u64PCR = base * 300 + extension;
    }
    return f;
}

}  // namespace rivulet

#endif
