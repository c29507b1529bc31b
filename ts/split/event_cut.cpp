// The cuts at event changes: at a cut's start point the entry's file
// becomes the older one (and an older one still ending PIDs the prior one),
// which takes its PIDs until each has begun in the next file, or, with a
// margin after, every packet of its PIDs for that long, then ends at the
// next start point. With a margin before, the next file begins with the
// program's recent past, from the PMT in force there.
#include <cstring>

#include "ts/core/bit_set.h"
#include "ts/core/log_sink.h"
#include "ts/split/clean_entry.h"

namespace rivulet {
namespace clean {
namespace {

// The packet being fed, to the older file.
void writeOlderNow(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    writeOlder(clean, e, unitOf(clean, packet), clean.tNow);
}

void olderClosed(CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = entryAt(clean, e);
    if (entry.older == kNoOlder && !entry.u8PriorOpen) removeEntry(clean.olderOpen, e);
}

// The older file ends each PID at its next start (at a start point, the
// video and a PCR PID of no stream at once); those it never began have
// ended already.
void endOlderHere(CleanStart& clean, uint32_t e, bool atStartPoint = true) {
    CleanEntry& entry = entryAt(clean, e);
    entry.older = kEnding;
    crossingBegin(entry.ended, entry.shape);
    if (!atStartPoint && entry.shape.u16VideoPID != TS_PID_NULL) clearBit(entry.ended.lu64Crossed, entry.shape.u16VideoPID);
    for (uint32_t w = 0; w < TS_PID_COUNT / 64; ++w) entry.ended.lu64Crossed[w] |= ~entry.olderJoined.lu64Crossed[w];
    crossingRecount(entry.ended, entry.shape);
}

// The packets the older file held while judging its end are its own.
void releaseOlderHeld(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = entryAt(clean, e);
    for (uint32_t i = 0; entry.older == kSeekingEnd && i < entry.end.held.u32Count; ++i) {
        const uint8_t* unit = entry.end.held.llu8Unit[i];
        const uint8_t* held = unit + clean.targets.u32Prefix;
        if (olderTakes(clean, e, pidOfUnit(held), startsUnit(held))) writeOlder(clean, e, unit, entry.end.held.ltOrigin[i]);
    }
    entry.end.held.u32Count = 0;
}

// The older file begins at the cut's start point: ending there, or after the
// margin.
void beginOlder(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = entryAt(clean, e);
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
    CleanEntry& entry = entryAt(clean, e);
    endOlderHere(clean, e);
    for (uint32_t i = 0; i < entry.end.held.u32Count; ++i) {
        const uint8_t* unit = entry.end.held.llu8Unit[i];
        const uint8_t* held = unit + clean.targets.u32Prefix;
        if (olderTakes(clean, e, pidOfUnit(held), startsUnit(held))) writeOlder(clean, e, unit, entry.end.held.ltOrigin[i]);
    }
    entry.end.held.u32Count = 0;
    if (olderTakes(clean, e, pidOfUnit(packet), startsUnit(packet))) writeOlderNow(clean, e, packet);
}

}  // namespace

// The program's next packet, kept for the margin before a cut.
void remember(CleanStart& clean, uint32_t e, const uint8_t* unit, const UnitOrigin& origin) {
    if (!hasEntry(clean.remembering, e)) return;
    CleanEntry& entry = entryAt(clean, e);
    pastPush(entry.past, clean.budget, entry.shape, unit, unitSize(clean), origin, clean.targets.u32Prefix,
             clean.u64Before);
}

void forget(CleanStart& clean, uint32_t e) {
    pastClear(entryAt(clean, e).past, clean.budget);
    entryAt(clean, e).u32PastPMTs = 0;
    removeEntry(clean.remembering, e);
}

void writeOlder(CleanStart& clean, uint32_t e, const uint8_t* unit, const UnitOrigin& origin) {
    clean.targets.writeBefore(clean.targets.pUser, e, kOlderFile, unit, origin);
}

void closeOlder(CleanStart& clean, uint32_t e) {
    if (entryAt(clean, e).older == kNoOlder) return;
    entryAt(clean, e).older = kNoOlder;
    olderClosed(clean, e);
    clean.targets.endBefore(clean.targets.pUser, e, kOlderFile);
}

void closePrior(CleanStart& clean, uint32_t e) {
    if (!entryAt(clean, e).u8PriorOpen) return;
    entryAt(clean, e).u8PriorOpen = 0;
    olderClosed(clean, e);
    clean.targets.endBefore(clean.targets.pUser, e, kPriorFile);
}

// Whether the older file takes a packet of `pid`: while it overlaps the
// next, each PID it has begun; once it is ending, each PID until its next
// start.
bool olderTakes(CleanStart& clean, uint32_t e, uint16_t pid, bool unitStart) {
    CleanEntry& entry = entryAt(clean, e);
    if (entry.older == kEnding) return !crossingPasses(entry.ended, entry.shape, pid, unitStart);
    return entry.older != kNoOlder && crossingPasses(entry.olderJoined, entry.shape, pid, unitStart);
}

// The prior file takes each PID it still has until that PID's next start.
void feedPrior(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = entryAt(clean, e);
    if (!entry.u8PriorOpen) return;
    if (!crossingPasses(entry.priorEnded, entry.shape, pidOfUnit(packet), startsUnit(packet))) {
        clean.targets.writeBefore(clean.targets.pUser, e, kPriorFile, unitOf(clean, packet), clean.tNow);
    }
    if (entry.priorEnded.u32Left == 0) closePrior(clean, e);
}

void closeOlderIfEnded(CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = entryAt(clean, e);
    if (entry.older == kEnding && entry.ended.u32Left == 0) closeOlder(clean, e);
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
    CleanEntry& entry = entryAt(clean, e);
    if (entry.older != kOverlap && entry.older != kSeekingEnd) return;
    releaseOlderHeld(clean, e);
    endOlderHere(clean, e, false);
    closeOlderIfEnded(clean, e);
}

// A packet of the program after the cut's start point, for its older file.
void feedOlder(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = entryAt(clean, e);
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

// A cut's file becomes the older one: the next file opens. A file that
// waited for its first start is created.
void cutHere(CleanStart& clean, uint32_t e) {
    if (!entryAt(clean, e).u8Cutting) {
        clean.targets.begin(clean.targets.pUser, e);
        return;
    }
    // An older file still ending PIDs the cut file never began becomes the
    // prior one (a prior one still open ends here).
    CleanEntry& entry = entryAt(clean, e);
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
    CleanEntry& entry = entryAt(clean, e);
    for (uint64_t i = from; i < entry.past.u64End; ++i) {
        const PastPacket& past = pastAt(entry.past, i);
        const uint8_t* packet = past.lu8Unit + clean.targets.u32Prefix;
        if (opening && i < opening->u64From && pidOfUnit(packet) == entry.shape.u16PMTPID) continue;
        if (joins(clean, e, pidOfUnit(packet), startsUnit(packet))) clean.targets.write(clean.targets.pUser, e, past.lu8Unit, past.tOrigin);
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

}  // namespace clean
}  // namespace rivulet
