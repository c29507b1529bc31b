#include "ts/stream/gap_watch.h"

#include <bit>

namespace rivulet {
namespace {

TS_InputGap gapHere(const GapWatch& watch, uint8_t kind, uint64_t offset) {
    return TS_InputGap{kind, watch.tClock.u8HasLast, offset, watch.tClock.u64Last};
}

// The program's clock: a step that the PCR track finds to be an
// unannounced discontinuity is a gap, as of the PCR before it.
bool clockJumped(GapWatch& watch, const PacketFlags& flags, uint64_t offset, TS_InputGap& gap) {
    if (!flags.hasPCR || flags.tei) return false;
    if (watch.u16ClockPID == TS_PID_NULL) watch.u16ClockPID = flags.u16PID;
    if (flags.u16PID != watch.u16ClockPID) return false;
    const TS_InputGap before = gapHere(watch, TS_GAP_CLOCK_JUMP, offset);
    const uint64_t unannounced = watch.tClock.u64Discontinuities;
    pcrTrackAdd(watch.tClock, flags.u64PCR, flags.discontinuity);
    if (watch.tClock.u64Discontinuities == unannounced) return false;
    gap = before;
    return true;
}

// The index of `pid` among the watched stream PIDs, added when new;
// kGapWatchedPIDs when they are full.
uint32_t watchedIndex(GapWatch& watch, uint16_t pid) {
    for (uint32_t i = 0; i < watch.u32PIDs; ++i) {
        if (watch.lu16PID[i] == pid) return i;
    }
    if (watch.u32PIDs == kGapWatchedPIDs) return kGapWatchedPIDs;
    watch.lu16PID[watch.u32PIDs] = pid;
    return watch.u32PIDs++;
}

uint64_t activePIDs(const GapWatch& watch) {
    uint64_t active = 0;
    for (uint64_t left = watch.u64Streams; left; left &= left - 1) {
        const uint32_t i = uint32_t(std::countr_zero(left));
        if (watch.u64Packets - watch.lu64Seen[i] <= kGapActivePackets) active |= uint64_t(1) << i;
    }
    return active;
}

// The first packet of each active PID after an error decides: broken too,
// or the break calls off.
bool continuityLost(GapWatch& watch, uint32_t index, bool ccError, uint64_t offset, TS_InputGap& gap) {
    const uint64_t bit = uint64_t(1) << index;
    if (watch.u8Breaking && watch.u64Packets - watch.u64BreakPacket > kGapActivePackets) watch.u8Breaking = 0;
    if (watch.u8Breaking) {
        if (!(watch.u64Active & bit) || (watch.u64Broken & bit)) return false;
        watch.u8Breaking = ccError;
        watch.u64Broken |= bit;
        if (!ccError || watch.u64Broken != watch.u64Active) return false;
        watch.u8Breaking = 0;
        gap = watch.tBreak;
        return true;
    }
    if (!ccError) return false;
    const uint64_t active = activePIDs(watch) | bit;
    if (std::popcount(active) < 2) return false;
    watch.u8Breaking = 1;
    watch.u64BreakPacket = watch.u64Packets;
    watch.u64Active = active;
    watch.u64Broken = bit;
    watch.tBreak = gapHere(watch, TS_GAP_CONTINUITY_LOST, offset);
    return false;
}

}  // namespace

void gapWatchReset(GapWatch& watch) {
    watch = GapWatch{};
    watch.u16ClockPID = TS_PID_NULL;
}

uint32_t gapWatchEventful(GapWatch& watch, uint32_t index, const PacketFlags& flags, bool streamPID, bool ccError,
                          uint64_t offset, TS_InputGap (&gaps)[kGapsOfAPacket]) {
    ++watch.u64Packets;
    uint32_t found = flags.hasPCR && clockJumped(watch, flags, offset, gaps[0]) ? 1 : 0;
    if (!streamPID || flags.tei || !flags.payload || index >= kGapWatchedPIDs) return found;
    if (continuityLost(watch, index, ccError, offset, gaps[found])) ++found;
    watch.u64Streams |= uint64_t(1) << index;
    watch.lu64Seen[index] = watch.u64Packets;
    return found;
}

uint32_t gapWatchPacket(GapWatch& watch, const PacketFlags& flags, bool streamPID, bool ccError, uint64_t offset,
                        TS_InputGap (&gaps)[kGapsOfAPacket]) {
    const bool watched = streamPID && !flags.tei && flags.payload && flags.u16PID != TS_PID_NULL;
    const uint32_t index = watched ? watchedIndex(watch, flags.u16PID) : kGapWatchedPIDs;
    return gapWatchPacketAt(watch, index, flags, watched, ccError, offset, gaps);
}

bool gapWatchTransportStream(GapWatch& watch, uint16_t transportStream, uint64_t offset, TS_InputGap* gap) {
    const bool changed = watch.u8HasTransportStream && watch.u16TransportStream != transportStream;
    watch.u8HasTransportStream = 1;
    watch.u16TransportStream = transportStream;
    if (changed) *gap = gapHere(watch, TS_GAP_NEW_TRANSPORT_STREAM, offset);
    return changed;
}

}  // namespace rivulet
