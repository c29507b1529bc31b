#include "ts/split/clean_start.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "ts/core/bit_set.h"
#include "ts/section/section_reader.h"
#include "ts/section/eit_present.h"
#include "ts/section/sdt.h"
#include "ts/split/past_packets.h"
#include "ts/split/start_point.h"
#include "ts/stream/pcr_track.h"

namespace rivulet {
namespace {

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

}  // namespace

struct CleanStart {
    CleanTargets targets;
    uint64_t u64After;       // 27 MHz: the margins after and before a cut
    uint64_t u64Before;
    PastBudget budget;
    EntryBits remembering;   // entries whose files keep their program's past, for a margin before
    EntryBits unsettled;
    EntryBits olderOpen;     // entries whose cut's older (or prior) file takes packets
    UnitOrigin tNow;         // of the packet being fed
    Growable<CleanEntry*> lpEntry;
};

namespace {

uint16_t pidOfUnit(const uint8_t* packet) { return uint16_t((packet[1] & 0x1F) << 8 | packet[2]); }
bool startsUnit(const uint8_t* packet) { return (packet[1] & 0x40) != 0; }

const uint8_t* unitOf(const CleanStart& clean, const uint8_t* packet) { return packet - clean.targets.u32Prefix; }
uint32_t unitSize(const CleanStart& clean) { return clean.targets.u32Prefix + TS_PACKET_SIZE; }

// The program's next packet, kept for the margin before a cut.
void remember(CleanStart& clean, uint32_t e, const uint8_t* unit, const UnitOrigin& origin) {
    if (!hasEntry(clean.remembering, e)) return;
    CleanEntry& entry = (*clean.lpEntry[e]);
    pastPush(entry.past, clean.budget, entry.shape, unit, unitSize(clean), origin, clean.targets.u32Prefix,
             clean.u64Before);
}

void forget(CleanStart& clean, uint32_t e) {
    pastClear((*clean.lpEntry[e]).past, clean.budget);
    (*clean.lpEntry[e]).u32PastPMTs = 0;
    removeEntry(clean.remembering, e);
}

void writeOlder(CleanStart& clean, uint32_t e, const uint8_t* unit, const UnitOrigin& origin) {
    clean.targets.writeBefore(clean.targets.pUser, e, kOlderFile, unit, origin);
}

// The packet being fed, to the older file.
void writeOlderNow(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    writeOlder(clean, e, unitOf(clean, packet), clean.tNow);
}

// Every PID has crossed: a settled file has begun them all.
void crossAll(Crossing& crossing) {
    std::memset(crossing.lu64Crossed, 0xFF, sizeof crossing.lu64Crossed);
    crossing.u32Left = 0;
}

void settle(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    entry.stage = kSettled;
    entry.u8Cutting = 0;
    crossAll(entry.joined);
    removeEntry(clean.unsettled, e);
}

// --- The older file of a cut ---------------------------------------------------

void olderClosed(CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = (*clean.lpEntry[e]);
    if (entry.older == kNoOlder && !entry.u8PriorOpen) removeEntry(clean.olderOpen, e);
}

void closeOlder(CleanStart& clean, uint32_t e) {
    if ((*clean.lpEntry[e]).older == kNoOlder) return;
    (*clean.lpEntry[e]).older = kNoOlder;
    olderClosed(clean, e);
    clean.targets.endBefore(clean.targets.pUser, e, kOlderFile);
}

void closePrior(CleanStart& clean, uint32_t e) {
    if (!(*clean.lpEntry[e]).u8PriorOpen) return;
    (*clean.lpEntry[e]).u8PriorOpen = 0;
    olderClosed(clean, e);
    clean.targets.endBefore(clean.targets.pUser, e, kPriorFile);
}

// The older file ends each PID at its next start (at a start point, the
// video and a PCR PID of no stream at once); those it never began have
// ended already.
void endOlderHere(CleanStart& clean, uint32_t e, bool atStartPoint = true) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    entry.older = kEnding;
    crossingBegin(entry.ended, entry.shape);
    if (!atStartPoint && entry.shape.u16VideoPID != TS_PID_NULL) clearBit(entry.ended.lu64Crossed, entry.shape.u16VideoPID);
    for (uint32_t w = 0; w < TS_PID_COUNT / 64; ++w) entry.ended.lu64Crossed[w] |= ~entry.olderJoined.lu64Crossed[w];
    crossingRecount(entry.ended, entry.shape);
}

// Whether the older file takes a packet of `pid`: while it overlaps the
// next, each PID it has begun; once it is ending, each PID until its next
// start.
bool olderTakes(CleanStart& clean, uint32_t e, uint16_t pid, bool unitStart) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    if (entry.older == kEnding) return !crossingPasses(entry.ended, entry.shape, pid, unitStart);
    return entry.older != kNoOlder && crossingPasses(entry.olderJoined, entry.shape, pid, unitStart);
}

// The prior file takes each PID it still has until that PID's next start.
void feedPrior(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    if (!entry.u8PriorOpen) return;
    if (!crossingPasses(entry.priorEnded, entry.shape, pidOfUnit(packet), startsUnit(packet))) {
        clean.targets.writeBefore(clean.targets.pUser, e, kPriorFile, unitOf(clean, packet), clean.tNow);
    }
    if (entry.priorEnded.u32Left == 0) closePrior(clean, e);
}

void closeOlderIfEnded(CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = (*clean.lpEntry[e]);
    if (entry.older == kEnding && entry.ended.u32Left == 0) closeOlder(clean, e);
}

// The packets the older file held while judging its end are its own.
void releaseOlderHeld(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    for (uint32_t i = 0; entry.older == kSeekingEnd && i < entry.end.held.u32Count; ++i) {
        const uint8_t* unit = entry.end.held.llu8Unit[i];
        const uint8_t* held = unit + clean.targets.u32Prefix;
        if (olderTakes(clean, e, pidOfUnit(held), startsUnit(held))) writeOlder(clean, e, unit, entry.end.held.ltOrigin[i]);
    }
    entry.end.held.u32Count = 0;
}

// The older file is done now.
void finishOlder(CleanStart& clean, uint32_t e) {
    releaseOlderHeld(clean, e);
    closeOlder(clean, e);
    closePrior(clean, e);
}

// A next cut comes while the older file overlaps the newer or seeks its
// end: it ends each PID at its next start from here.
void endOlderEarly(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    if (entry.older != kOverlap && entry.older != kSeekingEnd) return;
    releaseOlderHeld(clean, e);
    endOlderHere(clean, e, false);
    closeOlderIfEnded(clean, e);
}

// The older file begins at the cut's start point: ending there, or after the
// margin.
void beginOlder(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    addEntry(clean.olderOpen, e);
    if (clean.u64After == 0) {
        endOlderHere(clean, e);
        return;
    }
    entry.older = kOverlap;
    searchBegin(entry.end, entry.shape);
}

// The end point found: the held packets before each PID's own end go to the
// older file, and the packet at the point if its PID has not ended.
void olderEndsAt(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    endOlderHere(clean, e);
    for (uint32_t i = 0; i < entry.end.held.u32Count; ++i) {
        const uint8_t* unit = entry.end.held.llu8Unit[i];
        const uint8_t* held = unit + clean.targets.u32Prefix;
        if (olderTakes(clean, e, pidOfUnit(held), startsUnit(held))) writeOlder(clean, e, unit, entry.end.held.ltOrigin[i]);
    }
    entry.end.held.u32Count = 0;
    if (olderTakes(clean, e, pidOfUnit(packet), startsUnit(packet))) writeOlderNow(clean, e, packet);
}

// A packet of the program after the cut's start point, for its older file.
void feedOlder(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    const uint16_t pid = pidOfUnit(packet);
    switch (entry.older) {
    case kNoOlder: return;
    case kOverlap:
        if (olderTakes(clean, e, pid, startsUnit(packet))) writeOlderNow(clean, e, packet);
        if (searchLasted(entry.end, entry.shape, packet, clean.u64After)) {
            searchBegin(entry.end, entry.shape);
            entry.older = kSeekingEnd;
        }
        return;
    case kSeekingEnd: {
        auto release = [&](const uint8_t* unit, const UnitOrigin& origin) {
            const uint8_t* held = unit + clean.targets.u32Prefix;
            if (olderTakes(clean, e, pidOfUnit(held), startsUnit(held))) writeOlder(clean, e, unit, origin);
        };
        if (searchLasted(entry.end, entry.shape, packet, kLongestWait)) {
            // No access point in time: the file ends here.
            for (uint32_t i = 0; i < entry.end.held.u32Count; ++i) release(entry.end.held.llu8Unit[i], entry.end.held.ltOrigin[i]);
            closeOlder(clean, e);
            return;
        }
        Judged judged = searchJudge(entry.end, entry.shape, packet, unitOf(clean, packet), unitSize(clean), clean.tNow, release);
        if (judged == Judged::Passed && olderTakes(clean, e, pid, startsUnit(packet))) writeOlderNow(clean, e, packet);
        if (judged == Judged::Starts) olderEndsAt(clean, e, packet);
        break;
    }
    case kEnding:
        if (olderTakes(clean, e, pid, startsUnit(packet))) writeOlderNow(clean, e, packet);
        break;
    }
    closeOlderIfEnded(clean, e);
}

// --- The file's start ------------------------------------------------------------

// Whether a joining file takes a packet of `pid`: once the PID has begun a
// PES or section in it.
bool joins(CleanStart& clean, uint32_t e, uint16_t pid, bool unitStart) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    return crossingPasses(entry.joined, entry.shape, pid, unitStart);
}

// Whether a cut's file, which goes on until the start point, takes a packet:
// once its PID has begun in it.
bool goesOn(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    return (*clean.lpEntry[e]).u8Cutting && joins(clean, e, pidOfUnit(packet), startsUnit(packet));
}

// The held packets are not the start: a cut's file, which goes on, takes
// them; a waiting file has no use for them.
void releaseHeld(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    for (uint32_t i = 0; i < entry.start.held.u32Count; ++i) {
        const uint8_t* unit = entry.start.held.llu8Unit[i];
        const uint8_t* held = unit + clean.targets.u32Prefix;
        if (goesOn(clean, e, held)) clean.targets.write(clean.targets.pUser, e, unit, entry.start.held.ltOrigin[i]);
        remember(clean, e, unit, entry.start.held.ltOrigin[i]);
    }
    entry.start.held.u32Count = 0;
    entry.start.u8Judging = 0;
}

// Settled once every PID of the program has joined.
void settleIfJoined(CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = (*clean.lpEntry[e]);
    if (entry.stage == kJoining && entry.joined.u32Left == 0) settle(clean, e);
}

void writeOpening(CleanEntry& entry, uint32_t e, const CleanTargets& targets, const uint8_t* packet,
                  const HeldUnits<kPMTPackets>& pmt) {
    if (entry.u8HasPAT) targets.write(targets.pUser, e, entry.lu8PAT, kBuiltUnit);
    for (uint32_t i = 0; i < pmt.u32Count; ++i) targets.write(targets.pUser, e, pmt.llu8Unit[i], pmt.ltOrigin[i]);
    const uint8_t* prefix = packet - targets.u32Prefix;
    for (const HeldSection* section : {&entry.sdt, &entry.eit[0], &entry.eit[1]}) {
        if (section->u16Size == 0) continue;
        targets.writeSection(targets.pUser, e, section->u16PID, prefix, section->lu8Body, section->u16Size);
    }
}

// A cut's file becomes the older one: the next file opens. A file that
// waited for its first start is created.
void cutHere(CleanStart& clean, uint32_t e) {
    if (!(*clean.lpEntry[e]).u8Cutting) {
        clean.targets.begin(clean.targets.pUser, e);
        return;
    }
    // An older file still ending PIDs the cut file never began becomes the
    // prior one (a prior one still open ends here).
    CleanEntry& entry = (*clean.lpEntry[e]);
    closePrior(clean, e);
    endOlderEarly(clean, e);
    if (entry.older != kNoOlder) {
        entry.priorEnded = entry.ended;
        entry.u8PriorOpen = 1;
        entry.older = kNoOlder;
    }
    clean.targets.cut(clean.targets.pUser, e);
    entry.olderJoined = entry.joined;
    beginOlder(clean, e);
}

// Where a cut's file with a margin before it begins in the program's past:
// the access point that margin before the cut point; the past's end when
// there is none (or no margin).
uint64_t replayStart(const CleanStart& clean, const CleanEntry& entry) {
    uint64_t from = entry.past.u64End, span = 0;
    if (!entry.u8Cutting || clean.u64Before == 0) return from;
    if (!pastFind(entry.past, clean.u64Before, &from, &span)) return entry.past.u64End;
    if (span < clean.u64Before && entry.past.u8Trimmed) {
        logMessage(clean.targets.tLog, TS_LOG_WARNING, "Warning: margin of program %u cut to %llu s.\n",
                   entry.u16ProgramNumber, static_cast<unsigned long long>(span / kPCRHz));
    }
    return from;
}

// The PMT in force at index `from` of the past: the newest remembered that
// came before it, else the oldest remembered; null when none is (the
// current PMT is then in force throughout).
const PastPMT* pmtInForceAt(const CleanEntry& entry, uint64_t from) {
    const PastPMT* oldest = nullptr;
    for (uint32_t k = 1; k <= kPMTHistory && k <= entry.u32PastPMTs; ++k) {
        const PastPMT& pmt = entry.ltPastPMT[(entry.u32PastPMTs - k) % kPMTHistory];
        if (pmt.u64From <= from) return &pmt;
        oldest = &pmt;
    }
    return oldest;
}

// The program's packets from index `from` of its past, each PID from its
// first PES or section start, but the PMT packets of sections older than
// `opening`'s, so that the file's PMTs never go back.
void replayPast(CleanStart& clean, uint32_t e, uint64_t from, const PastPMT* opening) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    for (uint64_t i = from; i < entry.past.u64End; ++i) {
        const PastPacket& past = pastAt(entry.past, i);
        const uint8_t* packet = past.lu8Unit + clean.targets.u32Prefix;
        if (opening && i < opening->u64From && pidOfUnit(packet) == entry.shape.u16PMTPID) continue;
        if (joins(clean, e, pidOfUnit(packet), startsUnit(packet))) clean.targets.write(clean.targets.pUser, e, past.lu8Unit, past.tOrigin);
    }
}

// The start point: the opening, then the held packets that the file takes;
// for a cut, the older file has them as it ends.
void start(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    const CleanTargets& targets = clean.targets;
    cutHere(clean, e);
    // With a margin before, the file opens with the PMT of its replay's start.
    const uint64_t from = replayStart(clean, entry);
    const PastPMT* opening = from < entry.past.u64End ? pmtInForceAt(entry, from) : nullptr;
    writeOpening(entry, e, targets, packet, opening ? opening->units : entry.pmt);
    entry.stage = kJoining;
    crossingBegin(entry.joined, entry.shape);
    replayPast(clean, e, from, opening);
    for (uint32_t i = 0; i < entry.start.held.u32Count; ++i) {
        const uint8_t* unit = entry.start.held.llu8Unit[i];
        const uint8_t* held = unit + targets.u32Prefix;
        const UnitOrigin& origin = entry.start.held.ltOrigin[i];
        if (joins(clean, e, pidOfUnit(held), startsUnit(held))) targets.write(targets.pUser, e, unit, origin);
        if (olderTakes(clean, e, pidOfUnit(held), startsUnit(held))) writeOlder(clean, e, unit, origin);
        remember(clean, e, unit, origin);
    }
    entry.start.held.u32Count = 0;
    entry.start.u8Judging = 0;
}

// No access point in time: the file starts at its PMT, with every packet of
// the program from here on.
void giveUp(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    logMessage(clean.targets.tLog, TS_LOG_WARNING,
               "Warning: no random access point in program %u within 10 s; its file starts at its PMT.\n",
               entry.u16ProgramNumber);
    releaseHeld(clean, e);
    bool cutting = entry.u8Cutting;
    cutHere(clean, e);
    writeOpening(entry, e, clean.targets, packet, entry.pmt);
    settle(clean, e);
    if (cutting && clean.u64After == 0) closeOlder(clean, e);  // every PID switches here
}

enum class Fate { Dropped, Taken, Held };

// A packet for a waiting file: taken when the file starts at it (or, for a
// cut, the file goes on), held while a video PES is judged.
Fate waitForStart(CleanStart& clean, uint32_t e, const uint8_t* packet, uint16_t pid) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    if (pid == entry.shape.u16ClockPID && searchLasted(entry.start, entry.shape, packet, kLongestWait)) {
        giveUp(clean, e, packet);
        return Fate::Taken;
    }
    if (!entry.shape.u8Known) return goesOn(clean, e, packet) ? Fate::Taken : Fate::Dropped;
    auto release = [&](const uint8_t* unit, const UnitOrigin& origin) {
        if (goesOn(clean, e, unit + clean.targets.u32Prefix)) clean.targets.write(clean.targets.pUser, e, unit, origin);
        remember(clean, e, unit, origin);
    };
    Judged judged = searchJudge(entry.start, entry.shape, packet, unitOf(clean, packet), unitSize(clean), clean.tNow, release);
    if (judged == Judged::Held) return Fate::Held;
    if (judged == Judged::Passed) return goesOn(clean, e, packet) ? Fate::Taken : Fate::Dropped;
    start(clean, e, packet);
    return joins(clean, e, pid, startsUnit(packet)) ? Fate::Taken : Fate::Dropped;
}

void readProgram(CleanStart& clean, uint32_t e, uint16_t pmtPID, const TS_PreSection& section) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    const uint16_t video = entry.shape.u16VideoPID;
    const uint8_t videoType = entry.shape.u8VideoType;
    readProgramShape(entry.shape, pmtPID, section);
    if (entry.shape.u16VideoPID != video || entry.shape.u8VideoType != videoType) {
        releaseHeld(clean, e);
        TS_AccessPoint_Initialise(&entry.start.detector, entry.shape.u8VideoType);
    }
}

// A PMT that differs from the last one remembered comes into force after
// the packet that completed it, the next to enter the past.
void rememberPMT(CleanEntry& entry) {
    PastPMT* newest = entry.u32PastPMTs ? &entry.ltPastPMT[(entry.u32PastPMTs - 1) % kPMTHistory] : nullptr;
    if (newest && newest->u32Key == entry.u32PMTKey) return;
    PastPMT& pmt = entry.ltPastPMT[entry.u32PastPMTs++ % kPMTHistory];
    pmt.u64From = entry.past.u64End + 1;
    pmt.u32Key = entry.u32PMTKey;
    pmt.units = entry.pmt;
}

void keepSection(HeldSection& held, uint16_t pid, const uint8_t* section, uint32_t size) {
    held.u16PID = pid;
    held.u16Size = uint16_t(size);
    std::memcpy(held.lu8Body, section, size);
}

}  // namespace

CleanStart* cleanStartCreate(const CleanTargets& targets, uint64_t after, uint64_t before) {
    CleanStart* clean = new (std::nothrow) CleanStart();
    if (!clean) return nullptr;
    clean->targets = targets;
    clean->u64After = after;
    clean->u64Before = before;
    clean->budget = PastBudget{0, kPastBudget};
    return clean;
}

void cleanStartDestroy(CleanStart* clean) {
    if (!clean) return;
    for (uint32_t e = 0; e < clean->lpEntry.u32Size; ++e) {
        forget(*clean, e);
        delete clean->lpEntry[e];
    }
    release(clean->lpEntry);
    release(clean->remembering);
    release(clean->unsettled);
    release(clean->olderOpen);
    delete clean;
}

bool cleanReserve(CleanStart& clean, uint32_t count) {
    const uint32_t words = wordsFor(count);
    if (!growTo(clean.remembering, words) || !growTo(clean.unsettled, words) || !growTo(clean.olderOpen, words)) {
        return false;
    }
    for (uint32_t e = clean.lpEntry.u32Size; e < count; ++e) {
        CleanEntry* entry = new (std::nothrow) CleanEntry();
        if (!entry || !growTo(clean.lpEntry, e + 1)) {
            delete entry;
            return false;
        }
        clean.lpEntry[e] = entry;
    }
    return true;
}

uint64_t cleanUnsettled(const CleanStart& clean, uint32_t word) {
    return wordOf(clean.unsettled, word) | wordOf(clean.olderOpen, word) | wordOf(clean.remembering, word);
}

void cleanFileOpened(CleanStart& clean, uint32_t e, uint16_t programNumber, bool cleanly) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    if (entry.u16ProgramNumber != programNumber) {
        forget(clean, e);
        entry = CleanEntry{};
        entry.shape.u16VideoPID = TS_PID_NULL;
        entry.shape.u16PCRPID = TS_PID_NULL;
        entry.shape.u16ClockPID = TS_PID_NULL;
    }
    entry.u8Cutting = 0;
    entry.u16ProgramNumber = programNumber;
    entry.u8HasPAT = 0;
    searchBegin(entry.start, entry.shape);
    entry.stage = kWaiting;
    addEntry(clean.unsettled, e);
    if (clean.u64Before > 0) addEntry(clean.remembering, e);
    if (!cleanly) settle(clean, e);
}

void cleanFileClosed(CleanStart& clean, uint32_t e) {
    releaseHeld(clean, e);
    finishOlder(clean, e);
    forget(clean, e);
    settle(clean, e);
}

void cleanCutBegin(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    releaseHeld(clean, e);
    endOlderEarly(clean, e);  // a margin still running is cut short by the next event
    entry.stage = kWaiting;
    entry.u8Cutting = 1;
    searchBegin(entry.start, entry.shape);
    addEntry(clean.unsettled, e);
}

bool cleanCutAwaited(const CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = (*clean.lpEntry[e]);
    return entry.stage == kWaiting && entry.u8Cutting;
}

void cleanCutCancel(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    releaseHeld(clean, e);
    entry.u8Cutting = 0;
    entry.stage = kJoining;
    settleIfJoined(clean, e);
}

bool cleanFileWaits(const CleanStart& clean, uint32_t e) {
    return (*clean.lpEntry[e]).stage == kWaiting && !(*clean.lpEntry[e]).u8Cutting;
}

bool cleanHoldsPAT(CleanStart& clean, uint32_t e, const uint8_t* unit, uint32_t size) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    std::memcpy(entry.lu8PAT, unit, size);
    entry.u8HasPAT = 1;
    remember(clean, e, unit, kBuiltUnit);
    return cleanFileWaits(clean, e);
}

void cleanProgramPMT(CleanStart& clean, uint32_t e, uint16_t pmtPID, const TS_PreSection& section,
                     bool begunEarlier) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    readProgram(clean, e, pmtPID, section);
    if (entry.stage != kSettled) crossingRecount(entry.joined, entry.shape);
    if (entry.older == kEnding) crossingRecount(entry.ended, entry.shape);
    if (entry.u8PriorOpen) crossingRecount(entry.priorEnded, entry.shape);
    settleIfJoined(clean, e);
    closeOlderIfEnded(clean, e);
    if (entry.u8PriorOpen && entry.priorEnded.u32Left == 0) closePrior(clean, e);
    entry.u8CompletedNow = 1;
    entry.u8BegunEarlier = begunEarlier;
    entry.u32PMTKey = trailingCRC(sectionBytes(&section));
}

void cleanPMTPacket(CleanStart& clean, const uint8_t* unit, uint32_t size, bool unitStart, uint64_t entries,
                    uint32_t word, const UnitOrigin& origin) {
    while (entries) {
        CleanEntry& entry = *clean.lpEntry[word * kEntriesPerWord + uint32_t(__builtin_ctzll(entries))];
        entries &= entries - 1;
        // A section that began in this packet has no packet before it.
        if (unitStart && !(entry.u8CompletedNow && entry.u8BegunEarlier)) entry.pmtNext.u32Count = 0;
        if (!entry.pmtNext.add(unit, size, origin)) entry.pmtNext.u32Count = 0;
        if (!entry.u8CompletedNow) continue;
        entry.pmt = entry.pmtNext;
        entry.pmtNext.u32Count = 0;
        if (clean.u64Before > 0) rememberPMT(entry);
        // The packet may also begin the program's next section.
        if (unitStart && entry.u8BegunEarlier) entry.pmtNext.add(unit, size, origin);
        entry.u8CompletedNow = 0;
    }
}

bool cleanKeepsSection(CleanStart& clean, uint32_t e, uint16_t pid, const uint8_t* section, uint32_t size) {
    CleanEntry& entry = (*clean.lpEntry[e]);
    constexpr uint32_t kSectionNumber = 6;
    if (section[0] == kTableSDTActual) {
        keepSection(entry.sdt, pid, section, size);
    } else if (section[0] == kTableEITPresentFollowing && section[kSectionNumber] < kPresentFollowingSections) {
        keepSection(entry.eit[section[kSectionNumber]], pid, section, size);
    }
    return cleanFileWaits(clean, e);
}

uint64_t cleanFilter(CleanStart& clean, const uint8_t* packet, const TS_Packet& header, uint64_t entries,
                     uint32_t word, uint32_t prefix, const UnitOrigin& origin) {
    clean.targets.u32Prefix = prefix;
    clean.tNow = origin;
    uint64_t judged = entries & cleanUnsettled(clean, word);
    while (judged) {
        const uint32_t bit = uint32_t(__builtin_ctzll(judged));
        const uint32_t e = word * kEntriesPerWord + bit;
        judged &= judged - 1;
        Fate fate = Fate::Taken;
        if ((*clean.lpEntry[e]).stage == kWaiting) {
            fate = waitForStart(clean, e, packet, header.PID);
        } else if ((*clean.lpEntry[e]).stage == kJoining) {
            fate = joins(clean, e, header.PID, header.payload_unit_start_indicator) ? Fate::Taken : Fate::Dropped;
            settleIfJoined(clean, e);
        }
        if ((*clean.lpEntry[e]).older != kNoOlder) feedOlder(clean, e, packet);
        if ((*clean.lpEntry[e]).u8PriorOpen) feedPrior(clean, e, packet);
        if (fate != Fate::Held) remember(clean, e, unitOf(clean, packet), clean.tNow);
        if (fate != Fate::Taken) entries &= ~(uint64_t(1) << bit);
    }
    return entries;
}

}  // namespace rivulet
