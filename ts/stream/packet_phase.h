// Which byte a packet begins at. A single 0x47 is weak evidence: M2TS
// TP_extra_headers hold 0x47 bytes at fixed places for long stretches (their
// arrival times), and so does the TS header of any PID whose low byte is
// 0x47. Such a byte recurs a packet further on just as the sync byte does,
// and a walk in its phase would never leave it. So a phase is judged by the
// packets it would hand out: how many sync bytes follow at the packet
// distance, whether their headers are possible (adaptation_field_control 0
// is not), and whether each PID's continuity_counter goes on from the last
// one the walk saw (or one earlier in the same look-ahead).
#ifndef RIVULET_PACKET_PHASE_H
#define RIVULET_PACKET_PHASE_H

#include <cstdint>

#include "rivulet/common.h"

namespace rivulet {

// Packets looked at behind a candidate sync byte.
constexpr uint32_t kPhaseLookahead = 7;
// Bytes a judgement needs behind a candidate sync byte.
constexpr uint32_t kPhaseWindow = kPhaseLookahead * TS_MAX_PACKET_SIZE + TS_PACKET_SIZE;

// The last continuity_counter the walk handed out per PID: 0 while unseen,
// else 0x10 | counter.
struct ContinuityHistory {
    uint8_t lu8Last[TS_PID_COUNT];
};

inline void noteContinuity(ContinuityHistory* history, const uint8_t* packet) {
    uint16_t pid = uint16_t((packet[1] & 0x1F) << 8 | packet[2]);
    history->lu8Last[pid] = uint8_t(0x10 | (packet[3] & 0x0F));
}

// Whether the packet at `packet` continues its PID as the walk last saw it:
// a possible header whose continuity_counter follows (payload) or repeats
// (none). Such a packet is the stream's, whatever bytes follow it.
bool continuesItsPID(const uint8_t* packet, const ContinuityHistory* history);

// Evidence for the phase whose sync byte is at data[sync], packets `size`
// apart, looking at the bytes before `end`: higher is better. Every packet
// in phase counts, a packet whose header continues its PID counts more, an
// impossible or discontinuous header counts against. `history` may be null.
int32_t phaseEvidence(const uint8_t* data, uint64_t end, uint64_t sync, uint32_t size,
                      const ContinuityHistory* history);

// The same for a packet at `first` followed, behind junk, by packets from
// `rest` on at the phase's distance.
int32_t chainEvidence(const uint8_t* data, uint64_t end, uint64_t first, uint64_t rest, uint32_t size,
                      const ContinuityHistory* history);

// Of the sync bytes at `first` and behind it within `span` bytes whose next
// packet position also holds one (or that end the data with a whole packet),
// the one with the best evidence, the earliest of equals; `end` when there is
// none. With `keepFirst`, a sync byte at `first` is a candidate even without
// a next one (the packet in hand, which junk may follow).
uint64_t bestPhase(const uint8_t* data, uint64_t end, uint64_t first, uint32_t span, uint32_t size,
                   uint32_t tail, const ContinuityHistory* history, bool keepFirst);

}  // namespace rivulet

#endif
