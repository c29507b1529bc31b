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
    kWaiting,  // nothing written: the start point is still to come
    kJoining,  // the opening written; the program's PIDs join at their PES or section starts
    kSettled,  // every packet of the program goes to the file
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
    uint64_t u64Unsettled;
    CleanEntry ltEntry[TS_SPLIT_MAX_ENTRIES];
};

namespace {

uint16_t pidOfUnit(const uint8_t* packet) { return uint16_t((packet[1] & 0x1F) << 8 | packet[2]); }
bool startsUnit(const uint8_t* packet) { return (packet[1] & 0x40) != 0; }

void settle(CleanStart& clean, uint32_t e) {
    clean.ltEntry[e].stage = kSettled;
    clean.u64Unsettled &= ~(uint64_t(1) << e);
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
    if (testBit(entry.lu64ProgramPIDs, pid) && --entry.u32PIDsToJoin == 0) settle(clean, e);
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

// The start point: the opening, then the held packets that the file takes.
void start(CleanStart& clean, uint32_t e, const CleanTargets& targets, const uint8_t* packet) {
    CleanEntry& entry = clean.ltEntry[e];
    writeOpening(entry, e, targets, packet);
    entry.stage = kJoining;
    std::memset(entry.lu64Joined, 0, sizeof entry.lu64Joined);
    entry.u32PIDsToJoin = countPIDsToJoin(entry);
    if (entry.u16VideoPID != TS_PID_NULL) join(clean, e, entry.u16VideoPID);
    if (!entry.u8PCRCarriesStream && entry.u16PCRPID != TS_PID_NULL) join(clean, e, entry.u16PCRPID);
    for (uint32_t i = 0; i < entry.candidate.u32Count; ++i) {
        const uint8_t* unit = entry.candidate.llu8Unit[i];
        const uint8_t* held = unit + targets.u32Prefix;
        if (joins(clean, e, pidOfUnit(held), startsUnit(held))) targets.write(targets.pUser, e, unit);
    }
    entry.candidate.u32Count = 0;
    entry.u8Judging = 0;
}

// No access point in time: the file starts at its PMT, with every packet of
// the program from here on.
void giveUp(CleanStart& clean, uint32_t e, const CleanTargets& targets, const uint8_t* packet) {
    CleanEntry& entry = clean.ltEntry[e];
    std::fprintf(stderr, "Warning: no random access point in program %u within 10 s; its file starts at its PMT.\n",
                 entry.u16ProgramNumber);
    writeOpening(entry, e, targets, packet);
    entry.candidate.u32Count = 0;
    entry.u8Judging = 0;
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

void dropCandidate(CleanEntry& entry) {
    entry.candidate.u32Count = 0;
    entry.u8Judging = 0;
}

// A packet of the video PID of a waiting file: true when its PES is the
// start. A PES whose packets overflow the candidate is passed over, whatever
// its verdict: the file would begin inside it.
bool judgeVideo(CleanEntry& entry, const uint8_t* packet, const uint8_t* unit, uint32_t size) {
    int32_t verdict = TS_AccessPoint_Feed(&entry.detector, packet);
    if (startsUnit(packet)) {
        dropCandidate(entry);
        entry.u8Judging = 1;
    }
    if (!entry.u8Judging) return false;
    if (verdict == TS_ACCESS_POINT) return true;
    if (verdict == TS_ACCESS_NONE || !entry.candidate.add(unit, size)) dropCandidate(entry);
    return false;
}

// A packet for a waiting file: true when the file starts at it (and takes it).
bool waitForStart(CleanStart& clean, uint32_t e, const CleanTargets& targets, const uint8_t* packet, uint16_t pid) {
    CleanEntry& entry = clean.ltEntry[e];
    const uint8_t* unit = packet - targets.u32Prefix;
    const uint32_t size = targets.u32Prefix + TS_PACKET_SIZE;
    if (pid == entry.u16PCRPID && waitedTooLong(entry, packet)) {
        giveUp(clean, e, targets, packet);
        return true;
    }
    if (!entry.u8HasPMT) return false;
    bool startsHere = false;
    if (entry.u16VideoPID == TS_PID_NULL) {
        startsHere = startsUnit(packet) && pid != entry.u16PMTPID && testBit(entry.lu64ProgramPIDs, pid);
    } else if (pid == entry.u16VideoPID) {
        startsHere = judgeVideo(entry, packet, unit, size);
    } else if (entry.u8Judging && !entry.candidate.add(unit, size)) {
        dropCandidate(entry);
    }
    if (!startsHere) return false;
    start(clean, e, targets, packet);
    return joins(clean, e, pid, startsUnit(packet));
}

// The program's video stream (its first in PMT order), PCR PID and PIDs.
void readProgram(CleanEntry& entry, uint16_t pmtPID, const TS_PreSection& section) {
    uint16_t video = TS_PID_NULL;
    uint8_t videoType = 0;
    forEachClassifiedStream(&section, [&](uint16_t pid, uint8_t streamType, const StreamClass& stream) {
        if (video != TS_PID_NULL || stream.kind != StreamKind::Video) return;
        video = pid;
        videoType = streamType;
    });
    if (video != entry.u16VideoPID || videoType != entry.u8VideoType) {
        TS_AccessPoint_Initialise(&entry.detector, videoType);
        dropCandidate(entry);
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

CleanStart* cleanStartCreate() { return new (std::nothrow) CleanStart(); }

void cleanStartDestroy(CleanStart* clean) { delete clean; }

uint64_t cleanUnsettled(const CleanStart& clean) { return clean.u64Unsettled; }

void cleanFileOpened(CleanStart& clean, uint32_t e, uint16_t programNumber) {
    CleanEntry& entry = clean.ltEntry[e];
    if (entry.u16ProgramNumber != programNumber) {
        entry = CleanEntry{};
        entry.u16VideoPID = TS_PID_NULL;
        entry.u16PCRPID = TS_PID_NULL;
    }
    entry.stage = kWaiting;
    entry.u16ProgramNumber = programNumber;
    entry.u8HasPAT = 0;
    entry.u8HasClock = 0;
    entry.u64Waited = 0;
    dropCandidate(entry);
    clean.u64Unsettled |= uint64_t(1) << e;
}

void cleanFileClosed(CleanStart& clean, uint32_t e) { settle(clean, e); }

bool cleanHoldsPAT(CleanStart& clean, uint32_t e, const uint8_t* unit, uint32_t size) {
    CleanEntry& entry = clean.ltEntry[e];
    if (entry.stage != kWaiting) return false;
    std::memcpy(entry.lu8PAT, unit, size);
    entry.u8HasPAT = 1;
    return true;
}

void cleanProgramPMT(CleanStart& clean, uint32_t e, uint16_t pmtPID, const TS_PreSection& section,
                     bool begunEarlier) {
    CleanEntry& entry = clean.ltEntry[e];
    readProgram(entry, pmtPID, section);
    if (entry.stage == kJoining) entry.u32PIDsToJoin = countPIDsToJoin(entry);
    if (entry.stage == kJoining && entry.u32PIDsToJoin == 0) settle(clean, e);
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
    return entry.stage == kWaiting;
}

uint64_t cleanFilter(CleanStart& clean, const CleanTargets& targets, const uint8_t* packet, const TS_Packet& header,
                     uint64_t entries) {
    uint64_t judged = entries & clean.u64Unsettled;
    while (judged) {
        uint32_t e = uint32_t(__builtin_ctzll(judged));
        judged &= judged - 1;
        bool takes = clean.ltEntry[e].stage == kWaiting
                         ? waitForStart(clean, e, targets, packet, header.PID)
                         : joins(clean, e, header.PID, header.payload_unit_start_indicator);
        if (!takes) entries &= ~(uint64_t(1) << e);
    }
    return entries;
}

}  // namespace rivulet
