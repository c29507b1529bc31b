// ts/video: where a decoder can start in a video stream.
//
// The random access point detector: reads the PES that each packet with
// payload_unit_start_indicator begins, through its header, then byte by
// byte through its elementary stream for start code prefixes, and hands the
// bytes behind each to the rule of the stream's codec until a rule decides.
// State carries over from packet to packet, so that a header or a start
// code split by a packet boundary reads as a whole one; every read stays
// within the packet's payload as its adaptation_field_length leaves it.
#include <iterator>

#include "rivulet/video.h"
#include "ts/video/access_rule.h"

using namespace rivulet;

namespace {

struct RuleEntry {
    uint8_t u8StreamType;
    UnitByte pfUnitByte;
};

// Rule 0 is none: random_access_indicator alone.
constexpr RuleEntry kRules[] = {
    {0x00, nullptr},
    {0x01, mpegVideoUnitByte},
    {0x02, mpegVideoUnitByte},
    {0x1B, h264UnitByte},
    {0x24, hevcUnitByte},
};

enum Stage : uint8_t { kPESHeader, kPESOptionalFields, kElementaryStream };

constexpr uint32_t kHeaderSize = 4;
constexpr uint8_t kPayloadUnitStart = 0x40;
constexpr uint8_t kTransportError = 0x80;
constexpr uint8_t kScrambled = 0xC0;
constexpr uint8_t kAdaptationField = 0x20;
constexpr uint8_t kPayload = 0x10;
constexpr uint8_t kRandomAccess = 0x40;
constexpr uint32_t kPESFixedHeader = 6;      // start code prefix, stream_id, PES_packet_length
constexpr uint8_t kPESScrambled = 0x30;      // PES_scrambling_control, in the first flags byte
constexpr uint8_t kStartCodePrefixEnd = 0x01;

uint8_t ruleOf(uint8_t streamType) {
    for (uint8_t rule = 1; rule < std::size(kRules); ++rule) {
        if (kRules[rule].u8StreamType == streamType) return rule;
    }
    return 0;
}

// Stream ids whose PES header has no optional fields: program_stream_map,
// padding, private_stream_2, ECM, EMM, DSM-CC, H.222.1 type E, directory.
bool hasOptionalFields(uint8_t streamId) {
    switch (streamId) {
    case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF: return false;
    default: return true;
    }
}

void beginPES(TS_AccessPointDetector& d) {
    d.u8Verdict = TS_ACCESS_PENDING;
    d.u8Stage = kPESHeader;
    d.u8HeaderBytes = 0;
    d.u8Zeros = 0;
    d.u8InUnit = 0;
    d.u8Seen = 0;
}

// The PES header's first bytes: the verdict stays pending while they make sense.
void headerByte(TS_AccessPointDetector& d, uint8_t byte) {
    const uint8_t* h = d.lu8Header;
    d.lu8Header[d.u8HeaderBytes++] = byte;
    if (d.u8HeaderBytes == kPESFixedHeader) {
        if (h[0] != 0 || h[1] != 0 || h[2] != kStartCodePrefixEnd) d.u8Verdict = TS_ACCESS_NONE;
        if (!hasOptionalFields(h[3])) d.u8Stage = kElementaryStream;
    } else if (d.u8HeaderBytes == TS_ACCESS_PES_HEADER_SIZE) {
        if (h[6] & kPESScrambled) d.u8Verdict = TS_ACCESS_NONE;
        d.u8SkipBytes = h[8];  // PES_header_data_length
        d.u8Stage = h[8] ? kPESOptionalFields : kElementaryStream;
    }
}

void streamByte(TS_AccessPointDetector& d, uint8_t byte) {
    if (d.u8Zeros >= 2 && byte == kStartCodePrefixEnd) {
        d.u8Zeros = 0;
        d.u8InUnit = 1;
        d.u32UnitBytes = 0;
        return;
    }
    d.u8Zeros = byte != 0 ? 0 : d.u8Zeros < 2 ? uint8_t(d.u8Zeros + 1) : 2;
    if (!d.u8InUnit) return;
    switch (kRules[d.u8Rule].pfUnitByte(d, d.u32UnitBytes++, byte)) {
    case UnitStep::More: return;
    case UnitStep::Skip: d.u8InUnit = 0; return;
    case UnitStep::Point: d.u8Verdict = TS_ACCESS_POINT; return;
    case UnitStep::NoPoint: d.u8Verdict = TS_ACCESS_NONE; return;
    }
}

void readPayload(TS_AccessPointDetector& d, const uint8_t* at, const uint8_t* end) {
    for (; at < end && d.u8Verdict == TS_ACCESS_PENDING; ++at) {
        switch (d.u8Stage) {
        case kPESHeader: headerByte(d, *at); break;
        case kPESOptionalFields:
            if (--d.u8SkipBytes == 0) d.u8Stage = kElementaryStream;
            break;
        default: streamByte(d, *at);
        }
    }
}

// Where the payload of a 188-byte packet begins: behind the adaptation
// field, whatever length it claims, never past the packet.
uint32_t payloadStart(const uint8_t* packet) {
    if (!(packet[3] & kAdaptationField)) return kHeaderSize;
    uint32_t start = kHeaderSize + 1 + packet[kHeaderSize];
    return start < TS_PACKET_SIZE ? start : TS_PACKET_SIZE;
}

bool setsRandomAccess(const uint8_t* packet) {
    return (packet[3] & kAdaptationField) && packet[kHeaderSize] > 0 && (packet[kHeaderSize + 1] & kRandomAccess);
}

}  // namespace

int32_t TS_AccessPoint_Initialise(TS_AccessPointDetector* detector, uint8_t stream_type) {
    if (!detector) return -1;
    *detector = TS_AccessPointDetector{};
    detector->u8Rule = ruleOf(stream_type);
    detector->u8Verdict = TS_ACCESS_NONE;
    return 0;
}

int32_t TS_AccessPoint_Feed(TS_AccessPointDetector* detector, const uint8_t* packet) {
    if (!detector || !packet) return -1;
    if (packet[0] != TS_SYNC_BYTE) return TS_ERR_NO_SYNC;
    TS_AccessPointDetector& d = *detector;
    if (packet[1] & kTransportError) {
        if (d.u8Verdict == TS_ACCESS_PENDING) d.u8Verdict = TS_ACCESS_NONE;
        return d.u8Verdict;
    }
    if (packet[1] & kPayloadUnitStart) {
        beginPES(d);
        if (setsRandomAccess(packet)) d.u8Verdict = TS_ACCESS_POINT;
    }
    if (d.u8Verdict != TS_ACCESS_PENDING) return d.u8Verdict;
    if (d.u8Rule == 0 || (packet[3] & kScrambled)) {
        d.u8Verdict = TS_ACCESS_NONE;
    } else if (packet[3] & kPayload) {
        readPayload(d, packet + payloadStart(packet), packet + TS_PACKET_SIZE);
    }
    return d.u8Verdict;
}
