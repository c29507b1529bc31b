#include "ts/stream/packet_phase.h"

namespace rivulet {
namespace {

constexpr int32_t kInPhase = 2;         // a sync byte where the phase puts one
constexpr int32_t kContinues = 2;       // its PID's counter goes on
constexpr int32_t kDiscontinuous = -2;  // its PID's counter does not
constexpr int32_t kImpossible = -1;     // adaptation_field_control 0: less than a plausible header

struct SeenCounter {
    uint16_t u16PID;
    uint8_t u8Last;
};

// The counter a packet of `pid` must carry to continue, from what the
// look-ahead has seen or else the walk's history; 0 when unknown.
uint8_t lastCounter(const SeenCounter* seen, uint32_t count, uint16_t pid, const ContinuityHistory* history) {
    for (uint32_t i = count; i > 0; --i) {
        if (seen[i - 1].u16PID == pid) return seen[i - 1].u8Last;
    }
    return history ? history->lu8Last[pid] : 0;
}

int32_t headerEvidence(const uint8_t* packet, SeenCounter* seen, uint32_t& count, const ContinuityHistory* history) {
    uint8_t control = (packet[3] >> 4) & 0x03;
    if (control == 0) return kImpossible;
    uint16_t pid = uint16_t((packet[1] & 0x1F) << 8 | packet[2]);
    if (pid == TS_PID_NULL) return 0;
    uint8_t counter = packet[3] & 0x0F;
    uint8_t last = lastCounter(seen, count, pid, history);
    seen[count++] = SeenCounter{pid, uint8_t(0x10 | counter)};
    if (last == 0) return 0;
    bool payload = control & 0x01;
    uint8_t expected = payload ? ((last + 1) & 0x0F) : (last & 0x0F);
    return counter == expected ? kContinues : kDiscontinuous;
}

// Whether the sync byte at `sync` can begin the phase: the next position
// holds one too, or the data ends within the packet after this one.
bool canBegin(const uint8_t* data, uint64_t end, uint64_t sync, uint32_t size, uint32_t tail) {
    if (data[sync] != TS_SYNC_BYTE || sync + tail > end) return false;
    return sync + size >= end || data[sync + size] == TS_SYNC_BYTE;
}

}  // namespace

bool continuesItsPID(const uint8_t* packet, const ContinuityHistory* history) {
    uint32_t count = 0;
    SeenCounter seen[1];
    return headerEvidence(packet, seen, count, history) == kContinues;
}

int32_t chainEvidence(const uint8_t* data, uint64_t end, uint64_t first, uint64_t rest, uint32_t size,
                      const ContinuityHistory* history) {
    SeenCounter seen[kPhaseLookahead + 1];
    uint32_t count = 0;
    int32_t evidence = 0;
    for (uint32_t k = 0; k <= kPhaseLookahead; ++k) {
        uint64_t at = k == 0 ? first : rest + uint64_t(k - 1) * size;
        if (at + TS_PACKET_SIZE > end || data[at] != TS_SYNC_BYTE) break;
        evidence += kInPhase + headerEvidence(data + at, seen, count, history);
    }
    return evidence;
}

int32_t phaseEvidence(const uint8_t* data, uint64_t end, uint64_t sync, uint32_t size,
                      const ContinuityHistory* history) {
    return chainEvidence(data, end, sync, sync + size, size, history);
}

uint64_t bestPhase(const uint8_t* data, uint64_t end, uint64_t first, uint32_t span, uint32_t size,
                   uint32_t tail, const ContinuityHistory* history, bool keepFirst) {
    uint64_t best = end;
    int32_t bestEvidence = 0;
    for (uint64_t sync = first; sync < first + span && sync < end; ++sync) {
        bool kept = keepFirst && sync == first && data[sync] == TS_SYNC_BYTE && sync + tail <= end;
        if (!kept && !canBegin(data, end, sync, size, tail)) continue;
        int32_t evidence = phaseEvidence(data, end, sync, size, history);
        if (best == end || evidence > bestEvidence) {
            best = sync;
            bestEvidence = evidence;
        }
    }
    return best;
}

}  // namespace rivulet
