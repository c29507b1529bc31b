// What clean starts and the cuts at event changes share: each split entry's
// record (the stage of its file's start, what its opening holds, the older
// and prior files of its cut, its past for a margin before), and the calls
// between the gate (clean_start.cpp: a file's start) and the cutter
// (event_cut.cpp: the older files of a cut, its margins).
#ifndef RIVULET_CLEAN_ENTRY_H
#define RIVULET_CLEAN_ENTRY_H

#include <cstdint>

#include "ts/core/growable.h"
#include "ts/section/section_reader.h"
#include "ts/split/clean_start.h"
#include "ts/split/past_packets.h"
#include "ts/split/start_point.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/pcr_track.h"

namespace rivulet {
namespace clean {

// Packets of a PMT: as many as its longest section touches.
constexpr uint32_t kPMTPackets = TS_SECTION_MAX_PACKETS;
constexpr uint64_t kLongestWait = 10 * kPCRHz;
constexpr uint32_t kPresentFollowingSections = 2;
constexpr uint64_t kPastBudget = uint64_t(256) << 20;  // bytes kept for the margins before cuts, all programs
constexpr uint32_t kPMTHistory = 4;  // distinct PMTs a program's past remembers, for the margin before a cut

enum Stage : uint8_t {
    kSettled,  // every packet of the program goes to the file
    kWaiting,  // nothing written (or, for a cut, the file goes on): the start point is still to come
    kJoining,  // the opening written; the program's PIDs join at their PES or section starts
};

// How a cut's older file ends: it takes every packet for the margin after
// the cut, then seeks its end point, then its PIDs end each at its own
// start from there.
enum OlderStage : uint8_t { kNoOlder, kOverlap, kSeekingEnd, kEnding };

// A PMT of the program's past: its packets as they first came, and the
// index in the past from which it is in force.
struct PastPMT {
    uint64_t u64From;
    uint32_t u32Key;  // its CRC_32: a repetition is the same PMT
    HeldUnits<kPMTPackets> units;
};

struct HeldSection {
    uint16_t u16PID;
    uint16_t u16Size;  // 0: none
    uint8_t lu8Body[TS_SECTION_BODY_SIZE];
};

struct CleanEntry {
    Stage stage;
    uint8_t u8Cutting;                // the stages are those of a cut: the file goes on until the start
    uint16_t u16ProgramNumber;
    ProgramShape shape;               // from the program's last PMT
    // The opening.
    uint8_t u8HasPAT;
    uint8_t lu8PAT[kMaxOutputUnitSize];
    HeldUnits<kPMTPackets> pmt;       // the packets that carried the current PMT
    HeldUnits<kPMTPackets> pmtNext;   // those of the PMT section being gathered
    uint32_t u32PMTKey;               // the CRC_32 of the section that completed
    PastPMT ltPastPMT[kPMTHistory];   // the distinct PMTs of the past, the newest at u32PastPMTs - 1 (mod)
    uint32_t u32PastPMTs;
    uint8_t u8CompletedNow;           // a section of the program completed in the packet being fed...
    uint8_t u8BegunEarlier;           // ...that had begun in an earlier packet
    HeldSection sdt;
    HeldSection eit[kPresentFollowingSections];
    StartSearch start;                // while waiting
    Crossing joined;                  // while joining
    // The older file of a cut.
    OlderStage older;
    StartSearch end;
    Crossing ended;
    Crossing olderJoined;             // the PIDs it had begun when cut: it never takes the others
    // The file before the older one, when a cut comes before every PID left
    // it: it ends each PID it still has at that PID's next start.
    uint8_t u8PriorOpen;
    Crossing priorEnded;
    PastPackets past;                 // for the margin before a cut
};

}  // namespace clean

struct CleanStart {
    CleanTargets targets;
    uint64_t u64After;       // 27 MHz: the margins after and before a cut
    uint64_t u64Before;
    PastBudget budget;
    EntryBits remembering;   // entries whose files keep their program's past, for a margin before
    EntryBits unsettled;
    EntryBits olderOpen;     // entries whose cut's older (or prior) file takes packets
    UnitOrigin tNow;         // of the packet being fed
    Growable<clean::CleanEntry*> lpEntry;
};

namespace clean {

inline bool startsUnit(const uint8_t* packet) { return (packet[1] & 0x40) != 0; }

inline CleanEntry& entryAt(CleanStart& clean, uint32_t e) { return *clean.lpEntry[e]; }
inline const CleanEntry& entryAt(const CleanStart& clean, uint32_t e) { return *clean.lpEntry[e]; }

inline const uint8_t* unitOf(const CleanStart& clean, const uint8_t* packet) { return packet - clean.targets.u32Prefix; }
inline uint32_t unitSize(const CleanStart& clean) { return clean.targets.u32Prefix + TS_PACKET_SIZE; }

// The gate's: whether a file that joins its program's PIDs takes a packet of `pid`.
bool joins(CleanStart& clean, uint32_t e, uint16_t pid, bool unitStart);

// The cutter's (event_cut.cpp).
void remember(CleanStart& clean, uint32_t e, const uint8_t* unit, const UnitOrigin& origin);
void forget(CleanStart& clean, uint32_t e);
void writeOlder(CleanStart& clean, uint32_t e, const uint8_t* unit, const UnitOrigin& origin);
void closeOlder(CleanStart& clean, uint32_t e);
void closePrior(CleanStart& clean, uint32_t e);
bool olderTakes(CleanStart& clean, uint32_t e, uint16_t pid, bool unitStart);
void feedPrior(CleanStart& clean, uint32_t e, const uint8_t* packet);
void closeOlderIfEnded(CleanStart& clean, uint32_t e);
void finishOlder(CleanStart& clean, uint32_t e);
void endOlderEarly(CleanStart& clean, uint32_t e);
void feedOlder(CleanStart& clean, uint32_t e, const uint8_t* packet);
void cutHere(CleanStart& clean, uint32_t e);
uint64_t replayStart(const CleanStart& clean, const CleanEntry& entry);
const PastPMT* pmtInForceAt(const CleanEntry& entry, uint64_t from);
void replayPast(CleanStart& clean, uint32_t e, uint64_t from, const PastPMT* opening);
void rememberPMT(CleanEntry& entry);

}  // namespace clean
}  // namespace rivulet

#endif
