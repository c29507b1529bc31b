// Rivulet toolkit: random access points, where a decoder can start in a video
// stream. A detector is fed one PID's packets in input order and judges each
// PES as its packets come. A PES is
// a random access point when the packet that begins it sets
// random_access_indicator, or when its payload shows, before its first coded
// picture data:
//   MPEG-1 and MPEG-2 video (stream_type 0x01, 0x02): a sequence header;
//   H.264 (0x1B): an IDR picture, or an SPS, a PPS and a recovery point SEI
//                 with recovery_frame_cnt 0 before a picture of another kind;
//   HEVC (0x24): an IRAP picture (nal_unit_type 16 to 21) behind a VPS, an
//                SPS and a PPS.
// Start codes and PES headers may span packets. Scrambled payload (by the
// packet or by the PES header), and every other stream type, is judged by
// random_access_indicator alone. A packet with transport_error_indicator
// ends the reading of its PES with TS_ACCESS_NONE.
//
//     TS_AccessPointDetector detector;
//     TS_AccessPoint_Initialise(&detector, 0x1B);
//     for (each packet of the PID)
//         if (TS_AccessPoint_Feed(&detector, packet) == TS_ACCESS_POINT) ...
//         // a decoder can start at the last packet with payload_unit_start_indicator
#ifndef RIVULET_VIDEO_H
#define RIVULET_VIDEO_H

#include "rivulet/common.h"

constexpr int32_t TS_ACCESS_NONE = 0;     // no PES begun yet, or the one begun last is no access point
constexpr int32_t TS_ACCESS_PENDING = 1;  // the PES begun last is still being read
constexpr int32_t TS_ACCESS_POINT = 2;    // the PES begun last is a random access point

constexpr uint32_t TS_ACCESS_PES_HEADER_SIZE = 9;  // PES header bytes read before its optional fields

// Every field is the detector's own; callers read only through Feed.
struct TS_AccessPointDetector {
    uint8_t u8Rule;            // how the payload is read, from the stream_type (0: it is not)
    uint8_t u8Verdict;         // TS_ACCESS_..., of the PES begun last
    uint8_t u8Stage;           // PES header, its optional fields, or elementary stream bytes
    uint8_t u8HeaderBytes;     // of lu8Header, read
    uint8_t lu8Header[TS_ACCESS_PES_HEADER_SIZE];
    uint8_t u8SkipBytes;       // optional PES header bytes still to pass over
    uint8_t u8Zeros;           // zero bytes just read, up to 2: a start code prefix in the making
    uint8_t u8InUnit;          // 1 while the bytes behind a start code matter to the rule
    uint32_t u32UnitBytes;     // bytes read behind the current start code
    uint8_t u8Seen;            // what the rule has met in this PES (parameter sets, messages)
    uint8_t u8RBSPZeros;       // zero bytes just read inside a message (emulation prevention)
    uint8_t u8MessageStage;    // inside an SEI: its type, its size, its payload
    uint32_t u32MessageType;
    uint32_t u32MessageValue;  // the type or size being summed
    uint32_t u32MessageLeft;   // payload bytes of the message still to come
};

// Starts a detector for a PID whose PMT entry has `stream_type`. -1 for null.
int32_t TS_AccessPoint_Initialise(TS_AccessPointDetector* detector, uint8_t stream_type);
// Takes the PID's next 188-byte packet and returns the verdict on the PES
// begun last (perhaps by this packet): TS_ACCESS_PENDING until its payload
// tells, then TS_ACCESS_POINT or TS_ACCESS_NONE, which further packets of
// that PES do not change. -1 for null, -2 when the packet does not begin
// with 0x47 (the verdict stays).
int32_t TS_AccessPoint_Feed(TS_AccessPointDetector* detector, const uint8_t* packet);

#endif  // RIVULET_VIDEO_H
