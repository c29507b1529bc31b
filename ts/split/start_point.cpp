#include "ts/split/start_point.h"

#include "ts/core/bit_set.h"
#include "ts/section/section_reader.h"
#include "ts/programs/program_routes.h"
#include "ts/section/stream_kind.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/pcr_track.h"

namespace rivulet {
namespace {

constexpr uint64_t kLongestClockStep = kPCRHz;

void cross(Crossing& crossing, const ProgramShape& shape, uint16_t pid) {
    if (testBit(crossing.lu64Crossed, pid)) return;
    setBit(crossing.lu64Crossed, pid);
    if (testBit(shape.lu64PIDs, pid)) --crossing.u32Left;
}

// The decoding time of the PES that `packet` begins, 27 MHz: its DTS, else
// its PTS (pictures come in decoding order, so DTS steps forward).
bool pesClock(const uint8_t* packet, uint64_t* at) {
    constexpr uint32_t kPESFixedHeader = 9;  // start code, stream_id, length, two flag bytes, header length
    constexpr uint32_t kTimestampSize = 5;
    if (!(packet[1] & 0x40) || !(packet[3] & 0x10) || (packet[3] & 0xC0)) return false;
    uint32_t pos = 4;
    if (packet[3] & 0x20) pos += 1 + packet[4];
    if (pos + kPESFixedHeader + 2 * kTimestampSize > TS_PACKET_SIZE) return false;
    const uint8_t* pes = packet + pos;
    if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1) return false;
    const uint8_t timestamps = pes[7] >> 6;  // PTS_DTS_flags: 2 PTS, 3 PTS and DTS
    if (timestamps < 2) return false;
    const uint8_t* t = pes + kPESFixedHeader + (timestamps == 3 ? kTimestampSize : 0);
    uint64_t base = uint64_t(t[0] >> 1 & 0x07) << 30 | uint64_t(t[1]) << 22 | uint64_t(t[2] >> 1) << 15 |
                    uint64_t(t[3]) << 7 | uint64_t(t[4] >> 1);
    *at = base * 300;
    return true;
}

}  // namespace

void clockAdd(ProgramClock& clock, uint64_t pcr) {
    uint64_t step = (pcr + kPCRWrap - clock.u64LastPCR) % kPCRWrap;
    if (clock.u8Started && step <= kLongestClockStep) clock.u64Elapsed += step;
    clock.u8Started = 1;
    clock.u64LastPCR = pcr;
}

void readProgramShape(ProgramShape& shape, uint16_t pmtPID, const TS_PreSection& section) {
    shape.u16VideoPID = TS_PID_NULL;
    shape.u8VideoType = 0;
    forEachClassifiedStream(&section, [&](uint16_t pid, uint8_t streamType, const StreamClass& stream) {
        if (shape.u16VideoPID != TS_PID_NULL || stream.kind != StreamKind::Video) return;
        shape.u16VideoPID = pid;
        shape.u8VideoType = streamType;
    });
    shape.u16PMTPID = pmtPID;
    shape.u16PCRPID = sectionLoops(sectionBytes(&section)).u16() & 0x1FFF;
    shape.u8PCRCarriesStream = 0;
    forEachClassifiedStream(&section, [&](uint16_t pid, uint8_t, const StreamClass&) {
        shape.u8PCRCarriesStream |= pid == shape.u16PCRPID;
    });
    shape.u8ClockFromPTS = shape.u16PCRPID == TS_PID_NULL;
    shape.u16ClockPID = shape.u8ClockFromPTS ? shape.u16VideoPID : shape.u16PCRPID;
    forEachClassifiedStream(&section, [&](uint16_t pid, uint8_t, const StreamClass&) {
        if (shape.u16ClockPID == TS_PID_NULL) shape.u16ClockPID = pid;
    });
    std::memset(shape.lu64PIDs, 0, sizeof shape.lu64PIDs);
    setBit(shape.lu64PIDs, pmtPID);
    forEachProgramPID(&section, [&](uint16_t pid) { setBit(shape.lu64PIDs, pid); });
    shape.u8Known = 1;
}

void searchBegin(StartSearch& search, const ProgramShape& shape) {
    TS_AccessPoint_Initialise(&search.detector, shape.u8VideoType);
    search.u8Judging = 0;
    search.held.u32Count = 0;
    search.clock = ProgramClock{};
}

bool programClockSample(const ProgramShape& shape, const uint8_t* packet, uint64_t* at) {
    if (uint16_t((packet[1] & 0x1F) << 8 | packet[2]) != shape.u16ClockPID) return false;  // most packets
    const PacketFlags flags = readPacketFlags(packet);
    if (flags.tei) return false;
    if (!shape.u8ClockFromPTS) {
        *at = flags.u64PCR;
        return flags.hasPCR;
    }
    return pesClock(packet, at);
}

bool searchLasted(StartSearch& search, const ProgramShape& shape, const uint8_t* packet, uint64_t limit) {
    uint64_t at = 0;
    if (!programClockSample(shape, packet, &at)) return false;
    clockAdd(search.clock, at);
    return search.clock.u64Elapsed >= limit;
}

void crossingBegin(Crossing& crossing, const ProgramShape& shape) {
    std::memset(crossing.lu64Crossed, 0, sizeof crossing.lu64Crossed);
    crossingRecount(crossing, shape);
    if (shape.u16VideoPID != TS_PID_NULL) cross(crossing, shape, shape.u16VideoPID);
    if (!shape.u8PCRCarriesStream && shape.u16PCRPID != TS_PID_NULL) cross(crossing, shape, shape.u16PCRPID);
}

bool crossingPasses(Crossing& crossing, const ProgramShape& shape, uint16_t pid, bool unitStart) {
    if (testBit(crossing.lu64Crossed, pid)) return true;
    if (!unitStart) return false;
    cross(crossing, shape, pid);
    return true;
}

void crossingRecount(Crossing& crossing, const ProgramShape& shape) {
    uint32_t left = 0;
    for (uint32_t w = 0; w < TS_PID_COUNT / 64; ++w) {
        left += uint32_t(__builtin_popcountll(shape.lu64PIDs[w] & ~crossing.lu64Crossed[w]));
    }
    crossing.u32Left = left;
}

}  // namespace rivulet
