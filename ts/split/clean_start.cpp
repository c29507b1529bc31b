#include "ts/split/clean_start.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "ts/core/bit_set.h"
#include "ts/core/log_sink.h"
#include "ts/section/eit_present.h"
#include "ts/section/sdt.h"
#include "ts/split/clean_entry.h"

namespace rivulet {
namespace clean {
namespace {

// Every PID has crossed: a settled file has begun them all.
void crossAll(Crossing& crossing) {
    std::memset(crossing.lu64Crossed, 0xFF, sizeof crossing.lu64Crossed);
    crossing.u32Left = 0;
}

void settle(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = entryAt(clean, e);
    entry.stage = kSettled;
    entry.u8Cutting = 0;
    crossAll(entry.joined);
    removeEntry(clean.unsettled, e);
}

// --- The file's start ------------------------------------------------------------

// Whether a cut's file, which goes on until the start point, takes a packet:
// once its PID has begun in it.
bool goesOn(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    return entryAt(clean, e).u8Cutting && joins(clean, e, pidOfUnit(packet), startsUnit(packet));
}

// The held packets are not the start: a cut's file, which goes on, takes
// them; a waiting file has no use for them.
void releaseHeld(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = entryAt(clean, e);
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
    const CleanEntry& entry = entryAt(clean, e);
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

// The start point: the opening, then the held packets that the file takes;
// for a cut, the older file has them as it ends.
void start(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = entryAt(clean, e);
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
    CleanEntry& entry = entryAt(clean, e);
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
    CleanEntry& entry = entryAt(clean, e);
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
    CleanEntry& entry = entryAt(clean, e);
    const uint16_t video = entry.shape.u16VideoPID;
    const uint8_t videoType = entry.shape.u8VideoType;
    readProgramShape(entry.shape, pmtPID, section);
    if (entry.shape.u16VideoPID != video || entry.shape.u8VideoType != videoType) {
        releaseHeld(clean, e);
        TS_AccessPoint_Initialise(&entry.start.detector, entry.shape.u8VideoType);
    }
}

void keepSection(HeldSection& held, uint16_t pid, const uint8_t* section, uint32_t size) {
    held.u16PID = pid;
    held.u16Size = uint16_t(size);
    std::memcpy(held.lu8Body, section, size);
}


}  // namespace

// Whether a joining file takes a packet of `pid`: once the PID has begun a
// PES or section in it.
bool joins(CleanStart& clean, uint32_t e, uint16_t pid, bool unitStart) {
    CleanEntry& entry = entryAt(clean, e);
    return crossingPasses(entry.joined, entry.shape, pid, unitStart);
}

}  // namespace clean

using namespace clean;


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
    // The three sets grow together (cleanReserve), this one last: its bound
    // is theirs.
    if (word >= clean.olderOpen.u32Size) return 0;
    return clean.unsettled.p[word] | clean.olderOpen.p[word] | clean.remembering.p[word];
}

void cleanFileOpened(CleanStart& clean, uint32_t e, uint16_t programNumber, bool cleanly) {
    CleanEntry& entry = entryAt(clean, e);
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
    CleanEntry& entry = entryAt(clean, e);
    releaseHeld(clean, e);
    endOlderEarly(clean, e);  // a margin still running is cut short by the next event
    entry.stage = kWaiting;
    entry.u8Cutting = 1;
    searchBegin(entry.start, entry.shape);
    addEntry(clean.unsettled, e);
}

bool cleanCutAwaited(const CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = entryAt(clean, e);
    return entry.stage == kWaiting && entry.u8Cutting;
}

void cleanCutCancel(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = entryAt(clean, e);
    releaseHeld(clean, e);
    entry.u8Cutting = 0;
    entry.stage = kJoining;
    settleIfJoined(clean, e);
}

bool cleanFileWaits(const CleanStart& clean, uint32_t e) {
    return entryAt(clean, e).stage == kWaiting && !entryAt(clean, e).u8Cutting;
}

bool cleanHoldsPAT(CleanStart& clean, uint32_t e, const uint8_t* unit, uint32_t size) {
    CleanEntry& entry = entryAt(clean, e);
    std::memcpy(entry.lu8PAT, unit, size);
    entry.u8HasPAT = 1;
    remember(clean, e, unit, kBuiltUnit);
    return cleanFileWaits(clean, e);
}

void cleanProgramPMT(CleanStart& clean, uint32_t e, uint16_t pmtPID, const TS_PreSection& section,
                     bool begunEarlier) {
    CleanEntry& entry = entryAt(clean, e);
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
        CleanEntry& entry = entryAt(clean, word * kEntriesPerWord + uint32_t(__builtin_ctzll(entries)));
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
    CleanEntry& entry = entryAt(clean, e);
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
        if (entryAt(clean, e).stage == kWaiting) {
            fate = waitForStart(clean, e, packet, header.PID);
        } else if (entryAt(clean, e).stage == kJoining) {
            fate = joins(clean, e, header.PID, header.payload_unit_start_indicator) ? Fate::Taken : Fate::Dropped;
            settleIfJoined(clean, e);
        }
        if (entryAt(clean, e).older != kNoOlder) feedOlder(clean, e, packet);
        if (entryAt(clean, e).u8PriorOpen) feedPrior(clean, e, packet);
        if (fate != Fate::Held) remember(clean, e, unitOf(clean, packet), clean.tNow);
        if (fate != Fate::Taken) entries &= ~(uint64_t(1) << bit);
    }
    return entries;
}

}  // namespace rivulet
