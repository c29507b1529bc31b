#include "ts/split/clean_start.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "ts/core/bit_set.h"
#include "ts/programs/program_routes.h"
#include "ts/section/eit_present.h"
#include "ts/section/sdt.h"
#include "ts/section/stream_kind.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/pcr_track.h"

namespace rivulet {
namespace {

// Packets of a PMT: as many as its longest section touches.
constexpr uint32_t kPMTPackets = TS_SECTION_MAX_PACKETS;
// Packets of a program held while its video PES is judged: enough for the
// parameter sets and messages in front of a first picture, and the audio
// packets between them.
constexpr uint32_t kCandidatePackets = 64;
constexpr uint64_t kLongestWait = 10 * kPCRHz;
constexpr uint64_t kLongestClockStep = kPCRHz;  // longer steps, and steps back, are jumps: not waited
constexpr uint32_t kPresentFollowingSections = 2;

enum Stage : uint8_t {
    kSettled,  // every packet of the program goes to the file
    kWaiting,  // nothing written (or, for a cut, the file goes on): the start point is still to come
    kJoining,  // the opening written; the program's PIDs join at their PES or section starts
};

template <uint32_t N>
struct HeldUnits {
    uint32_t u32Count;
    uint8_t llu8Unit[N][kMaxOutputUnitSize];

    // False when full.
    bool add(const uint8_t* unit, uint32_t size) {
        if (u32Count == N) return false;
        std::memcpy(llu8Unit[u32Count++], unit, size);
        return true;
    }
};

struct HeldSection {
    uint16_t u16PID;
    uint16_t u16Size;  // 0: none
    uint8_t lu8Body[TS_SECTION_BODY_SIZE];
};

struct CleanEntry {
    Stage stage;
    uint8_t u8Cutting;                // the stages are those of a cut: an older file goes on
    uint16_t u16ProgramNumber;
    // From the program's last PMT.
    uint8_t u8HasPMT;
    uint16_t u16PMTPID;
    uint16_t u16VideoPID;  // TS_PID_NULL: the program has no video
    uint8_t u8VideoType;
    uint16_t u16PCRPID;
    uint8_t u8PCRCarriesStream;
    uint64_t lu64ProgramPIDs[TS_PID_COUNT / 64];
    // The opening.
    uint8_t u8HasPAT;
    uint8_t lu8PAT[kMaxOutputUnitSize];
    HeldUnits<kPMTPackets> pmt;       // the packets that carried the current PMT
    HeldUnits<kPMTPackets> pmtNext;   // those of the PMT section being gathered
    uint8_t u8CompletedNow;           // a section of the program completed in the packet being fed...
    uint8_t u8BegunEarlier;           // ...that had begun in an earlier packet
    HeldSection sdt;
    HeldSection eit[kPresentFollowingSections];
    // While waiting.
    TS_AccessPointDetector detector;
    uint8_t u8Judging;                // a video PES is being judged: the program's packets are held
    HeldUnits<kCandidatePackets> candidate;
    uint8_t u8HasClock;
    uint64_t u64LastPCR;
    uint64_t u64Waited;               // 27 MHz of the program's clock since its first PCR
    // While joining.
    uint64_t lu64Joined[TS_PID_COUNT / 64];
    uint32_t u32PIDsToJoin;           // the program's PIDs not yet joined
};

}  // namespace

struct CleanStart {
    CleanTargets targets;
    uint64_t u64Unsettled;
    CleanEntry ltEntry[TS_SPLIT_MAX_ENTRIES];
};

namespace {

uint16_t pidOfUnit(const uint8_t* packet) { return uint16_t((packet[1] & 0x1F) << 8 | packet[2]); }
bool startsUnit(const uint8_t* packet) { return (packet[1] & 0x40) != 0; }

void settle(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = clean.ltEntry[e];
    entry.stage = kSettled;
    clean.u64Unsettled &= ~(uint64_t(1) << e);
    if (!entry.u8Cutting) return;
    entry.u8Cutting = 0;
    clean.targets.endBefore(clean.targets.pUser, e);
}

// The held packets are not the start: a cut's file, which goes on, takes
// them; a waiting file has no use for them.
void releaseHeld(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = clean.ltEntry[e];
    for (uint32_t i = 0; entry.u8Cutting && i < entry.candidate.u32Count; ++i) {
        clean.targets.write(clean.targets.pUser, e, entry.candidate.llu8Unit[i]);
    }
    entry.candidate.u32Count = 0;
    entry.u8Judging = 0;
}

uint32_t countPIDsToJoin(const CleanEntry& entry) {
    uint32_t count = 0;
    for (uint32_t w = 0; w < TS_PID_COUNT / 64; ++w) {
        count += uint32_t(__builtin_popcountll(entry.lu64ProgramPIDs[w] & ~entry.lu64Joined[w]));
    }
    return count;
}

void join(CleanStart& clean, uint32_t e, uint16_t pid) {
    CleanEntry& entry = clean.ltEntry[e];
    setBit(entry.lu64Joined, pid);
    if (testBit(entry.lu64ProgramPIDs, pid)) --entry.u32PIDsToJoin;
}

// Settled once every PID of the program has joined: checked after a
// packet's own writes, so that a cut's older file has them before it is done.
void settleIfJoined(CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = clean.ltEntry[e];
    if (entry.stage == kJoining && entry.u32PIDsToJoin == 0) settle(clean, e);
}

// Whether a joining file takes a packet of `pid`: once the PID has begun a
// PES or section in it.
bool joins(CleanStart& clean, uint32_t e, uint16_t pid, bool unitStart) {
    if (testBit(clean.ltEntry[e].lu64Joined, pid)) return true;
    if (!unitStart) return false;
    join(clean, e, pid);
    return true;
}

void writeOpening(CleanEntry& entry, uint32_t e, const CleanTargets& targets, const uint8_t* packet) {
    if (entry.u8HasPAT) targets.write(targets.pUser, e, entry.lu8PAT);
    for (uint32_t i = 0; i < entry.pmt.u32Count; ++i) targets.write(targets.pUser, e, entry.pmt.llu8Unit[i]);
    const uint8_t* prefix = packet - targets.u32Prefix;
    for (const HeldSection* section : {&entry.sdt, &entry.eit[0], &entry.eit[1]}) {
        if (section->u16Size == 0) continue;
        targets.writeSection(targets.pUser, e, section->u16PID, prefix, section->lu8Body, section->u16Size);
    }
}

// The start point: the opening, then the held packets that the file takes;
// for a cut, the others go to the older file.
void start(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = clean.ltEntry[e];
    const CleanTargets& targets = clean.targets;
    if (entry.u8Cutting) targets.cut(targets.pUser, e);
    writeOpening(entry, e, targets, packet);
    entry.stage = kJoining;
    std::memset(entry.lu64Joined, 0, sizeof entry.lu64Joined);
    entry.u32PIDsToJoin = countPIDsToJoin(entry);
    if (entry.u16VideoPID != TS_PID_NULL) join(clean, e, entry.u16VideoPID);
    if (!entry.u8PCRCarriesStream && entry.u16PCRPID != TS_PID_NULL) join(clean, e, entry.u16PCRPID);
    for (uint32_t i = 0; i < entry.candidate.u32Count; ++i) {
        const uint8_t* unit = entry.candidate.llu8Unit[i];
        const uint8_t* held = unit + targets.u32Prefix;
        if (joins(clean, e, pidOfUnit(held), startsUnit(held))) {
            targets.write(targets.pUser, e, unit);
        } else if (entry.u8Cutting) {
            targets.writeBefore(targets.pUser, e, unit);
        }
    }
    entry.candidate.u32Count = 0;
    entry.u8Judging = 0;
}

// No access point in time: the file starts at its PMT, with every packet of
// the program from here on.
void giveUp(CleanStart& clean, uint32_t e, const uint8_t* packet) {
    CleanEntry& entry = clean.ltEntry[e];
    std::fprintf(stderr, "Warning: no random access point in program %u within 10 s; its file starts at its PMT.\n",
                 entry.u16ProgramNumber);
    releaseHeld(clean, e);
    if (entry.u8Cutting) clean.targets.cut(clean.targets.pUser, e);
    writeOpening(entry, e, clean.targets, packet);
    settle(clean, e);
}

// Adds the program clock's step to the wait; true once it reaches the limit.
bool waitedTooLong(CleanEntry& entry, const uint8_t* packet) {
    PacketFlags flags = readPacketFlags(packet);
    if (!flags.hasPCR) return false;
    uint64_t step = (flags.u64PCR + kPCRWrap - entry.u64LastPCR) % kPCRWrap;
    if (entry.u8HasClock && step <= kLongestClockStep) entry.u64Waited += step;
    entry.u8HasClock = 1;
    entry.u64LastPCR = flags.u64PCR;
    return entry.u64Waited >= kLongestWait;
}

enum class Judged { Passed, Held, Starts };

// A packet of the video PID of a waiting file: whether its PES is the start.
// A PES whose packets overflow the candidate is passed over, whatever its
// verdict: the file would begin inside it.
Judged judgeVideo(CleanStart& clean, uint32_t e, const uint8_t* packet, const uint8_t* unit, uint32_t size) {
    CleanEntry& entry = clean.ltEntry[e];
    int32_t verdict = TS_AccessPoint_Feed(&entry.detector, packet);
    if (startsUnit(packet)) {
        releaseHeld(clean, e);
        entry.u8Judging = 1;
    }
    if (!entry.u8Judging) return Judged::Passed;
    if (verdict == TS_ACCESS_POINT) return Judged::Starts;
    if (verdict != TS_ACCESS_NONE && entry.candidate.add(unit, size)) return Judged::Held;
    releaseHeld(clean, e);
    return Judged::Passed;
}

// A packet for a waiting file: true when the file takes it (it starts at it,
// or, for a cut, the file goes on).
bool waitForStart(CleanStart& clean, uint32_t e, const uint8_t* packet, uint16_t pid) {
    CleanEntry& entry = clean.ltEntry[e];
    const uint8_t* unit = packet - clean.targets.u32Prefix;
    const uint32_t size = clean.targets.u32Prefix + TS_PACKET_SIZE;
    if (pid == entry.u16PCRPID && waitedTooLong(entry, packet)) {
        giveUp(clean, e, packet);
        return true;
    }
    if (!entry.u8HasPMT) return entry.u8Cutting;
    Judged judged = Judged::Passed;
    if (entry.u16VideoPID == TS_PID_NULL) {
        bool startsHere = startsUnit(packet) && pid != entry.u16PMTPID && testBit(entry.lu64ProgramPIDs, pid);
        judged = startsHere ? Judged::Starts : Judged::Passed;
    } else if (pid == entry.u16VideoPID) {
        judged = judgeVideo(clean, e, packet, unit, size);
    } else if (entry.u8Judging) {
        if (entry.candidate.add(unit, size)) judged = Judged::Held;
        else releaseHeld(clean, e);
    }
    if (judged != Judged::Starts) return judged == Judged::Passed && entry.u8Cutting;
    start(clean, e, packet);
    bool takes = joins(clean, e, pid, startsUnit(packet));
    settleIfJoined(clean, e);
    return takes;
}

// The program's video stream (its first in PMT order), PCR PID and PIDs.
void readProgram(CleanStart& clean, uint32_t e, uint16_t pmtPID, const TS_PreSection& section) {
    CleanEntry& entry = clean.ltEntry[e];
    uint16_t video = TS_PID_NULL;
    uint8_t videoType = 0;
    forEachClassifiedStream(&section, [&](uint16_t pid, uint8_t streamType, const StreamClass& stream) {
        if (video != TS_PID_NULL || stream.kind != StreamKind::Video) return;
        video = pid;
        videoType = streamType;
    });
    if (video != entry.u16VideoPID || videoType != entry.u8VideoType) {
        TS_AccessPoint_Initialise(&entry.detector, videoType);
        releaseHeld(clean, e);
    }
    entry.u16VideoPID = video;
    entry.u8VideoType = videoType;
    entry.u16PMTPID = pmtPID;
    entry.u16PCRPID = sectionLoops(sectionBytes(&section)).u16() & 0x1FFF;
    entry.u8PCRCarriesStream = 0;
    forEachClassifiedStream(&section, [&](uint16_t pid, uint8_t, const StreamClass&) {
        entry.u8PCRCarriesStream |= pid == entry.u16PCRPID;
    });
    std::memset(entry.lu64ProgramPIDs, 0, sizeof entry.lu64ProgramPIDs);
    setBit(entry.lu64ProgramPIDs, pmtPID);
    forEachProgramPID(&section, [&](uint16_t pid) { setBit(entry.lu64ProgramPIDs, pid); });
    entry.u8HasPMT = 1;
}

void keepSection(HeldSection& held, uint16_t pid, const uint8_t* section, uint32_t size) {
    held.u16PID = pid;
    held.u16Size = uint16_t(size);
    std::memcpy(held.lu8Body, section, size);
}

}  // namespace

CleanStart* cleanStartCreate(const CleanTargets& targets) {
    CleanStart* clean = new (std::nothrow) CleanStart();
    if (clean) clean->targets = targets;
    return clean;
}

void cleanStartDestroy(CleanStart* clean) { delete clean; }

uint64_t cleanUnsettled(const CleanStart& clean) { return clean.u64Unsettled; }

void cleanFileOpened(CleanStart& clean, uint32_t e, uint16_t programNumber, bool cleanly) {
    CleanEntry& entry = clean.ltEntry[e];
    if (entry.u16ProgramNumber != programNumber) {
        entry = CleanEntry{};
        entry.u16VideoPID = TS_PID_NULL;
        entry.u16PCRPID = TS_PID_NULL;
    }
    entry.stage = kWaiting;
    entry.u8Cutting = 0;
    entry.u16ProgramNumber = programNumber;
    entry.u8HasPAT = 0;
    entry.u8HasClock = 0;
    entry.u64Waited = 0;
    releaseHeld(clean, e);
    clean.u64Unsettled |= uint64_t(1) << e;
    if (!cleanly) settle(clean, e);
}

void cleanFileClosed(CleanStart& clean, uint32_t e) {
    clean.ltEntry[e].u8Cutting = 0;
    settle(clean, e);
}

void cleanCutBegin(CleanStart& clean, uint32_t e) {
    CleanEntry& entry = clean.ltEntry[e];
    releaseHeld(clean, e);
    entry.stage = kWaiting;
    entry.u8Cutting = 1;
    entry.u8HasClock = 0;
    entry.u64Waited = 0;
    TS_AccessPoint_Initialise(&entry.detector, entry.u8VideoType);  // judged from the next PES on
    clean.u64Unsettled |= uint64_t(1) << e;
}

CutStage cleanCutStage(const CleanStart& clean, uint32_t e) {
    const CleanEntry& entry = clean.ltEntry[e];
    if (!entry.u8Cutting) return CutStage::None;
    return entry.stage == kWaiting ? CutStage::Awaited : CutStage::Switching;
}

void cleanCutCancel(CleanStart& clean, uint32_t e) {
    releaseHeld(clean, e);
    clean.ltEntry[e].u8Cutting = 0;
    settle(clean, e);
}

void cleanCutFinish(CleanStart& clean, uint32_t e) { settle(clean, e); }

bool cleanFileWaits(const CleanStart& clean, uint32_t e) {
    return clean.ltEntry[e].stage == kWaiting && !clean.ltEntry[e].u8Cutting;
}

bool cleanHoldsPAT(CleanStart& clean, uint32_t e, const uint8_t* unit, uint32_t size) {
    CleanEntry& entry = clean.ltEntry[e];
    std::memcpy(entry.lu8PAT, unit, size);
    entry.u8HasPAT = 1;
    return cleanFileWaits(clean, e);
}

void cleanProgramPMT(CleanStart& clean, uint32_t e, uint16_t pmtPID, const TS_PreSection& section,
                     bool begunEarlier) {
    CleanEntry& entry = clean.ltEntry[e];
    readProgram(clean, e, pmtPID, section);
    if (entry.stage == kJoining) entry.u32PIDsToJoin = countPIDsToJoin(entry);
    settleIfJoined(clean, e);
    entry.u8CompletedNow = 1;
    entry.u8BegunEarlier = begunEarlier;
}

void cleanPMTPacket(CleanStart& clean, const uint8_t* unit, uint32_t size, bool unitStart, uint64_t entries) {
    while (entries) {
        CleanEntry& entry = clean.ltEntry[__builtin_ctzll(entries)];
        entries &= entries - 1;
        // A section that began in this packet has no packet before it.
        if (unitStart && !(entry.u8CompletedNow && entry.u8BegunEarlier)) entry.pmtNext.u32Count = 0;
        if (!entry.pmtNext.add(unit, size)) entry.pmtNext.u32Count = 0;
        if (!entry.u8CompletedNow) continue;
        entry.pmt = entry.pmtNext;
        entry.pmtNext.u32Count = 0;
        // The packet may also begin the program's next section.
        if (unitStart && entry.u8BegunEarlier) entry.pmtNext.add(unit, size);
        entry.u8CompletedNow = 0;
    }
}

bool cleanKeepsSection(CleanStart& clean, uint32_t e, uint16_t pid, const uint8_t* section, uint32_t size) {
    CleanEntry& entry = clean.ltEntry[e];
    constexpr uint32_t kSectionNumber = 6;
    if (section[0] == kTableSDTActual) {
        keepSection(entry.sdt, pid, section, size);
    } else if (section[0] == kTableEITPresentFollowing && section[kSectionNumber] < kPresentFollowingSections) {
        keepSection(entry.eit[section[kSectionNumber]], pid, section, size);
    }
    return cleanFileWaits(clean, e);
}

uint64_t cleanFilter(CleanStart& clean, const uint8_t* packet, const TS_Packet& header, uint64_t entries,
                     uint32_t prefix) {
    clean.targets.u32Prefix = prefix;
    uint64_t judged = entries & clean.u64Unsettled;
    while (judged) {
        uint32_t e = uint32_t(__builtin_ctzll(judged));
        judged &= judged - 1;
        if (clean.ltEntry[e].stage == kWaiting) {
            if (!waitForStart(clean, e, packet, header.PID)) entries &= ~(uint64_t(1) << e);
            continue;
        }
        if (!joins(clean, e, header.PID, header.payload_unit_start_indicator)) {
            entries &= ~(uint64_t(1) << e);
            if (clean.ltEntry[e].u8Cutting) clean.targets.writeBefore(clean.targets.pUser, e, packet - clean.targets.u32Prefix);
        }
        settleIfJoined(clean, e);
    }
    return entries;
}

}  // namespace rivulet
