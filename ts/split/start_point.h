// Start points: where a decoder can begin a program, found as its packets
// come. A search judges each video PES (the program's packets are held while
// one is judged) and keeps the program's clock since it began; at the point
// found, the PIDs of the program cross it each at its own start: the video
// and a PCR PID that carries no stream at once, every other PID at its first
// PES or section start from there. A file begins (or ends) at such a
// crossing.
#ifndef RIVULET_START_POINT_H
#define RIVULET_START_POINT_H

#include <cstdint>
#include <cstring>

#include "rivulet/packets_sections.h"
#include "rivulet/video.h"
#include "ts/stream/packet_format.h"

namespace rivulet {

// Packets of a program held while its video PES is judged: enough for the
// parameter sets and messages in front of a first picture, and the audio
// packets between them.
constexpr uint32_t kCandidatePackets = 64;

// Where a packet of the input came from, so that a file's report tells the
// input it holds wherever the packet was kept meanwhile: its input offset,
// and the packets of its PID the input lost before it (continuity broke at
// it exactly when that is not 0: an error loses 1 to 15).
struct UnitOrigin {
    uint64_t u64Offset;
    uint8_t u8Input;  // 0: a unit built here (a rebuilt PAT, a section), of no input offset
    uint8_t u8Lost;
};
constexpr UnitOrigin kBuiltUnit{0, 0, 0};

template <uint32_t N>
struct HeldUnits {
    uint32_t u32Count;
    uint8_t llu8Unit[N][kMaxOutputUnitSize];
    UnitOrigin ltOrigin[N];

    // False when full.
    bool add(const uint8_t* unit, uint32_t size, const UnitOrigin& origin) {
        if (u32Count == N) return false;
        ltOrigin[u32Count] = origin;
        std::memcpy(llu8Unit[u32Count++], unit, size);
        return true;
    }
};

// A program's clock from its PCRs, 27 MHz since the first: steps back and
// steps over a second are jumps, which do not count.
struct ProgramClock {
    uint8_t u8Started;
    uint64_t u64LastPCR;
    uint64_t u64Elapsed;
};
void clockAdd(ProgramClock& clock, uint64_t pcr);

// What a program's last PMT says of it.
struct ProgramShape {
    uint8_t u8Known;
    uint16_t u16PMTPID;
    uint16_t u16VideoPID;  // TS_PID_NULL: the program has no video
    uint8_t u8VideoType;
    uint16_t u16PCRPID;
    uint8_t u8PCRCarriesStream;
    // The program's clock: its PCR PID, or, for a program without one, the
    // decoding times (DTS, else PTS) of its first stream (its video first).
    uint16_t u16ClockPID;
    uint8_t u8ClockFromPTS;
    uint64_t lu64PIDs[TS_PID_COUNT / 64];
};

// The program's video (its first video stream in PMT order), PCR PID, clock and PIDs.
void readProgramShape(ProgramShape& shape, uint16_t pmtPID, const TS_PreSection& section);

// The time (27 MHz) that `packet` gives the program's clock; false when it
// gives none.
bool programClockSample(const ProgramShape& shape, const uint8_t* packet, uint64_t* at);

struct StartSearch {
    TS_AccessPointDetector detector;
    uint8_t u8Judging;  // a video PES is being judged: the program's packets are held
    HeldUnits<kCandidatePackets> held;
    ProgramClock clock;  // since the search's first PCR
};

// Judged from the next video PES on.
void searchBegin(StartSearch& search, const ProgramShape& shape);
// Adds the step of the program clock that `packet` carries, if any; true
// once the search has lasted `limit` (27 MHz). Steps back and steps over a
// second are jumps: they do not count.
bool searchLasted(StartSearch& search, const ProgramShape& shape, const uint8_t* packet, uint64_t limit);

enum class Judged { Passed, Held, Starts };

// A packet of the program, its output unit `unit` of `size` bytes from
// `origin`: the
// start point (a video PES that is a random access point, or, without
// video, any PES start but the PMT's), held while the PES it belongs to is
// judged, or passed. Held units that turn out not to be the start are handed
// to `release` (in order, with their origins) and dropped; at a start they
// stay held.
template <class Release>
Judged searchJudge(StartSearch& search, const ProgramShape& shape, const uint8_t* packet, const uint8_t* unit,
                   uint32_t size, const UnitOrigin& origin, Release&& release) {
    const uint16_t pid = uint16_t((packet[1] & 0x1F) << 8 | packet[2]);
    const bool unitStart = (packet[1] & 0x40) != 0;
    auto releaseAll = [&] {
        for (uint32_t i = 0; i < search.held.u32Count; ++i) release(search.held.llu8Unit[i], search.held.ltOrigin[i]);
        search.held.u32Count = 0;
        search.u8Judging = 0;
    };
    if (!shape.u8Known) return Judged::Passed;
    if (shape.u16VideoPID == TS_PID_NULL) {
        bool starts = unitStart && pid != shape.u16PMTPID && ((shape.lu64PIDs[pid / 64] >> (pid % 64)) & 1);
        return starts ? Judged::Starts : Judged::Passed;
    }
    if (pid != shape.u16VideoPID) {
        if (!search.u8Judging) return Judged::Passed;
        if (search.held.add(unit, size, origin)) return Judged::Held;
        releaseAll();
        return Judged::Passed;
    }
    // A PES whose packets overflow the held units is passed over, whatever
    // its verdict: the file would begin inside it.
    int32_t verdict = TS_AccessPoint_Feed(&search.detector, packet);
    if (unitStart) {
        releaseAll();
        search.u8Judging = 1;
    }
    if (!search.u8Judging) return Judged::Passed;
    if (verdict == TS_ACCESS_POINT) return Judged::Starts;
    if (verdict != TS_ACCESS_NONE && search.held.add(unit, size, origin)) return Judged::Held;
    releaseAll();
    return Judged::Passed;
}

// The PIDs that have crossed a start point.
struct Crossing {
    uint64_t lu64Crossed[TS_PID_COUNT / 64];
    uint32_t u32Left;  // the program's PIDs still to cross
};

// At the start point: the video and a PCR PID of no stream cross at once.
void crossingBegin(Crossing& crossing, const ProgramShape& shape);
// Whether a packet of `pid` is past the point: its PID has crossed, or
// crosses now, at a PES or section start.
bool crossingPasses(Crossing& crossing, const ProgramShape& shape, uint16_t pid, bool unitStart);
// The PMT changed: the program's PIDs still to cross, counted again.
void crossingRecount(Crossing& crossing, const ProgramShape& shape);

}  // namespace rivulet

#endif
