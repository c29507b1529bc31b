// The input gaps of one program's packets (rivulet/check.h): where the
// input restarted or lost time, as a tuner restart or a lost signal leaves
// it. Three signs, each a gap of its own:
//   - the program's clock (the first PID a PCR came on) steps back, or on by
//     more than a second, without discontinuity_indicator;
//   - continuity breaks on every stream PID at once: after a continuity
//     error, the next packet of each stream PID seen in the last
//     kGapActivePackets packets breaks it too (two PIDs at least); a PID
//     that goes on unbroken, or that long a wait, calls it off;
//   - the PAT names another transport_stream_id.
// Stream PIDs are those of video, audio, subtitles, data and a PCR of its
// own: the PSI may be rebuilt where the program is written out.
#ifndef RIVULET_GAP_WATCH_H
#define RIVULET_GAP_WATCH_H

#include <cstdint>

#include "rivulet/check.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/pcr_track.h"

namespace rivulet {

constexpr uint32_t kGapWatchedPIDs = 64;       // stream PIDs of one program

// Whether a PID of kind `kind` (TS_KIND_...) is a stream PID.
inline bool isStreamKind(uint8_t kind) { return kind <= TS_KIND_DATA || kind == TS_KIND_PCR; }

constexpr uint64_t kGapActivePackets = 1 << 14;

struct GapWatch {
    uint64_t u64Packets;                       // of the program so far
    uint64_t u64Streams;                       // bits of the indices a stream PID's packet came at
    uint8_t u8Breaking;                        // a break of continuity is under way (see u64BreakPacket)
    uint16_t u16ClockPID;                      // TS_PID_NULL until a PCR comes
    PCRTrack tClock;
    uint32_t u32PIDs;                          // found by gapWatchPacket: their PIDs
    uint16_t lu16PID[kGapWatchedPIDs];
    uint64_t lu64Seen[kGapWatchedPIDs];        // the program's packet count at each PID's last packet
    // The break under way, from its first error.
    uint64_t u64BreakPacket;
    uint64_t u64Active;                        // bits of lu16PID: the PIDs that must break
    uint64_t u64Broken;
    TS_InputGap tBreak;
    uint8_t u8HasTransportStream;
    uint16_t u16TransportStream;
};

void gapWatchReset(GapWatch& watch);
// A packet of the program at input `offset`, of a stream PID or not, that
// broke continuity or not: the gaps it shows (its clock's, then its
// continuity's) in `gaps`, and their count.
constexpr uint32_t kGapsOfAPacket = 2;
uint32_t gapWatchPacket(GapWatch& watch, const PacketFlags& flags, bool streamPID, bool ccError, uint64_t offset,
                        TS_InputGap (&gaps)[kGapsOfAPacket]);
// The same for a caller that numbers the program's PIDs itself: the
// packet's PID is number `index` (below kGapWatchedPIDs; past it, its
// continuity is not watched).
uint32_t gapWatchEventful(GapWatch& watch, uint32_t index, const PacketFlags& flags, bool streamPID, bool ccError,
                          uint64_t offset, TS_InputGap (&gaps)[kGapsOfAPacket]);
// A packet with no PCR and no error, with no break under way (the caller
// knows): it only marks its PID, number `index`, as seen, when it is a
// stream PID's packet with payload (`streamPayload`).
inline void gapWatchUneventful(GapWatch& watch, uint32_t index, bool streamPayload) {
    ++watch.u64Packets;
    if (streamPayload && index < kGapWatchedPIDs) {
        watch.u64Streams |= uint64_t(1) << index;
        watch.lu64Seen[index] = watch.u64Packets;
    }
}
inline uint32_t gapWatchPacketAt(GapWatch& watch, uint32_t index, const PacketFlags& flags, bool streamPID,
                                 bool ccError, uint64_t offset, TS_InputGap (&gaps)[kGapsOfAPacket]) {
    // Nearly every packet has no PCR and no error, with no break under way:
    // it only marks its PID as seen, here rather than through a call.
    if (flags.hasPCR || ccError || watch.u8Breaking) {
        return gapWatchEventful(watch, index, flags, streamPID, ccError, offset, gaps);
    }
    gapWatchUneventful(watch, index, streamPID && !flags.tei && flags.payload);
    return 0;
}
// A PAT of `transportStream` completed at `offset`; true with `*gap` when
// the last one named another.
bool gapWatchTransportStream(GapWatch& watch, uint16_t transportStream, uint64_t offset, TS_InputGap* gap);

}  // namespace rivulet

#endif
