// Packet formats. Besides plain 188-byte packets, recordings come as M2TS
// (Blu-ray, AVCHD: a 4-byte TP_extra_header in front of each packet, 192
// bytes in all) and as 204-byte packets (16 parity bytes behind each, as
// ISDB and some DVB captures store them). The format is found once from the
// start of the input; the walk then steps from packet to packet at its size,
// and every driver sees the 188-byte packet as before. Outputs copy a packet
// with its TP_extra_header, never with parity bytes.
#ifndef RIVULET_PACKET_FORMAT_H
#define RIVULET_PACKET_FORMAT_H

#include <cstdint>

#include "rivulet/common.h"

namespace rivulet {

constexpr uint32_t kM2TSPacketSize = 192;
constexpr uint32_t kM2TSHeaderSize = 4;
constexpr uint32_t kParityPacketSize = 204;
// The first sync byte of a format must lie within this many bytes.
constexpr uint32_t kFormatSearchSize = 65536;
// Sync bytes that must follow the first at the format's packet distance.
constexpr uint32_t kFormatConfirmations = 7;
// Bytes the search may look at: the search range and the packets confirming it.
constexpr uint32_t kFormatWindowSize = kFormatSearchSize + (kFormatConfirmations + 1) * TS_MAX_PACKET_SIZE;

struct PacketFormat {
    uint32_t u32Size;     // from one packet to the next: 188, 192 or 204
    uint32_t u32Prefix;   // bytes in front of the sync byte: the TP_extra_header, or none
    uint32_t u32First;    // offset of the first packet's first byte in the bytes searched
    uint8_t u8Confirmed;  // sync bytes stood at the format's distance
    uint32_t u32Anchor;   // the sync byte they stood behind
};

constexpr PacketFormat kPlainFormat = {TS_PACKET_SIZE, 0, 0, 0, 0};

// The format of a stream that begins with `data`: at the first sync byte
// behind which, at one of 188, 192 and 204 bytes (tried in this order), the
// next seven packet positions also hold one (or all of the next positions
// that hold a whole packet, at least one); of the sync bytes of that size's
// phases within one packet, the one whose packet headers read as a stream
// (see phaseEvidence). 188 when none does.
PacketFormat detectPacketFormat(const uint8_t* data, uint64_t size);

// What an output copies of the packet at `packet`: its TP_extra_header, if
// the format has one, and its 188 bytes.
inline const uint8_t* outputUnit(const PacketFormat& format, const uint8_t* packet) {
    return packet - format.u32Prefix;
}
inline uint32_t outputUnitSize(const PacketFormat& format) { return format.u32Prefix + TS_PACKET_SIZE; }
constexpr uint32_t kMaxOutputUnitSize = kM2TSHeaderSize + TS_PACKET_SIZE;
// Outputs of M2TS input keep its format, and its file name extension.
inline const char* outputExtension(const PacketFormat& format) { return format.u32Prefix ? "m2ts" : "ts"; }

}  // namespace rivulet

#endif
