#include "ts/split/pid_remap.h"

#include <cstring>

#include "rivulet/services.h"
#include "rivulet/tables.h"
#include "ts/core/bit_set.h"
#include "ts/core/byte_reader.h"
#include "ts/programs/program_routes.h"
#include "ts/section/section_reader.h"
#include "ts/section/stream_kind.h"

namespace rivulet {
namespace {

constexpr uint16_t kPIDMask = 0x1FFF;
constexpr uint16_t kLengthMask = 0x0FFF;
constexpr uint32_t kPCRPIDAt = kLongHeaderSize;
constexpr uint32_t kPATEntrySize = 4;

// The PIDs each component's streams take, first to last.
struct PIDRange {
    uint16_t u16First;
    uint16_t u16Last;
};
constexpr PIDRange kRanges[TS_COMPONENT_COUNT] = {
    {0x0100, 0x010F},  // video
    {0x0110, 0x012F},  // audio
    {0x0130, 0x0137},  // subtitles (captions)
    {0x0138, 0x013F},  // superimpose
    {0x0140, 0x0140},  // teletext
    {0x0150, 0x016F},  // data
    {0x0170, 0x018F},  // scte35, with the others
    {0x0170, 0x018F},  // unknown
};

void putPID(uint8_t* at, uint16_t pid) {
    at[0] = uint8_t((at[0] & 0xE0) | (pid >> 8));
    at[1] = uint8_t(pid);
}

void putCRC(uint8_t* section, uint32_t size) {
    const uint32_t crc = GetCRC32(0xFFFFFFFF, section, size - kCRCSize);
    for (uint32_t i = 0; i < kCRCSize; ++i) section[size - kCRCSize + i] = uint8_t(crc >> (8 * (3 - i)));
}

// The next PID of `range` that nothing staying in the file holds, or 0 when
// the range is full.
uint16_t nextIn(const PIDRange& range, uint16_t* used, const uint64_t* occupied) {
    for (uint16_t pid = uint16_t(range.u16First + *used); pid <= range.u16Last; ++pid) {
        ++*used;
        if (!testBit(occupied, pid)) return pid;
    }
    return 0;
}

// The PIDs that stay where they are: ECMs, and a PCR of a PID of its own.
void markStaying(const StreamLoop& listed, uint16_t pcrPID, ByteReader programLoop, uint64_t* occupied) {
    const auto mark = [&](uint16_t pid) { setBit(occupied, pid); };
    forEachCAPID(programLoop, mark);
    bool pcrIsStream = false;
    forEachStreamEntry(ByteReader(listed.lu8Bytes, listed.u16Size), [&](const StreamEntry& e) {
        pcrIsStream = pcrIsStream || e.u16PID == pcrPID;
        forEachCAPID(e.descriptors, mark);
    });
    if (!pcrIsStream) setBit(occupied, pcrPID);
}

// A stream's new PID, or its own when its kind's range is full.
void moveStream(const StreamEntry& e, uint32_t registration, const uint64_t* occupied, uint16_t* used,
                PIDRemap* remap) {
    const StreamClass c = classifyStream(e.u8StreamType, e.descriptors.current(), e.descriptors.remaining(), registration);
    // scte35 and unknown streams share one range.
    const uint8_t kind = c.component == TS_COMPONENT_UNKNOWN ? TS_COMPONENT_SCTE35 : c.component;
    const uint16_t to = nextIn(kRanges[kind], &used[kind], occupied);
    if (to == 0) {
        if (!remap->u16Unmoved) remap->u16Unmoved = e.u16PID;
        return;
    }
    setBit(remap->lu64Moved, e.u16PID);
    remap->lu16From[remap->u16Count] = e.u16PID;
    remap->lu16To[remap->u16Count++] = to;
}

}  // namespace

void planRemap(const StreamLoop& listed, const uint8_t* section, uint32_t size, const FileShape& shape,
               PIDRemap* remap) {
    std::memset(remap, 0, sizeof *remap);
    ByteReader loops = sectionLoops(ByteReader(section, size));
    const uint16_t pcrPID = loops.u16() & kPIDMask;
    ByteReader programLoop = loops.take(loops.u16() & kLengthMask);
    const uint32_t registration = registrationOf(programLoop.current(), programLoop.remaining());
    uint64_t occupied[TS_PID_COUNT / 64] = {};
    markStaying(listed, pcrPID, programLoop, occupied);
    uint16_t used[TS_COMPONENT_COUNT] = {};  // scte35 and unknown count as one
    forEachStreamEntry(ByteReader(listed.lu8Bytes, listed.u16Size), [&](const StreamEntry& e) {
        const bool stays = testBit(shape.lu64Dropped, e.u16PID) || testBit(remap->lu64Moved, e.u16PID);
        if (!stays && remap->u16Count < kMaxRemapped) moveStream(e, registration, occupied, used, remap);
    });
}

void remapPMT(const PIDRemap& remap, uint8_t* section, uint32_t size) {
    if (size < kLongHeaderSize + 4 + kCRCSize) return;
    uint8_t* pcr = section + kPCRPIDAt;
    putPID(pcr, remappedPID(remap, uint16_t((pcr[0] << 8 | pcr[1]) & kPIDMask)));
    ByteReader loops = sectionLoops(ByteReader(section, size));
    loops.skip(2 + 2);  // PCR_PID, program_info_length
    loops.skip(((section[kPCRPIDAt + 2] << 8) | section[kPCRPIDAt + 3]) & kLengthMask);
    forEachStreamEntry(loops, [&](const StreamEntry& e) {
        putPID(section + (e.pBytes - section) + 1, remappedPID(remap, e.u16PID));
    });
    putCRC(section, size);
}

void remapPAT(uint16_t program, uint8_t* section, uint32_t size) {
    if (size < kLongHeaderSize + kCRCSize) return;
    for (uint32_t at = kLongHeaderSize; at + kPATEntrySize <= size - kCRCSize; at += kPATEntrySize) {
        if ((section[at] << 8 | section[at + 1]) == program) putPID(section + at + 2, kRemappedPMTPID);
    }
    putCRC(section, size);
}

}  // namespace rivulet
