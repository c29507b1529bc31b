#include "ts/split/pid_remap.h"

#include <cstring>

#include "rivulet/services.h"
#include "rivulet/tables.h"
#include "ts/core/bit_set.h"
#include "ts/core/byte_reader.h"
#include "ts/section/section_reader.h"
#include "ts/section/stream_kind.h"

namespace rivulet {
namespace {

constexpr uint32_t kEntryHeader = 5;  // stream_type, elementary_PID, ES_info_length
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

constexpr uint8_t kTagCA = 0x09;

// Marks the ECM PIDs of a descriptor loop.
void markCAPIDs(ByteReader loop, uint64_t* occupied) {
    while (loop.canRead(2)) {
        const uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        if (tag != kTagCA || !body.canRead(4)) continue;
        body.u16();  // CA_system_ID
        setBit(occupied, body.u16() & kPIDMask);
    }
}

// The PIDs that stay where they are: ECMs, and a PCR of a PID of its own.
void markStaying(const StreamLoop& listed, uint16_t pcrPID, ByteReader programLoop, uint64_t* occupied) {
    markCAPIDs(programLoop, occupied);
    bool pcrIsStream = false;
    ByteReader loop(listed.lu8Bytes, listed.u16Size);
    while (loop.canRead(kEntryHeader)) {
        loop.u8();
        pcrIsStream = pcrIsStream || (loop.u16() & kPIDMask) == pcrPID;
        markCAPIDs(loop.take(loop.u16() & kLengthMask), occupied);
    }
    if (!pcrIsStream) setBit(occupied, pcrPID);
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
    ByteReader loop(listed.lu8Bytes, listed.u16Size);
    while (loop.canRead(kEntryHeader) && remap->u16Count < kMaxRemapped) {
        const uint8_t streamType = loop.u8();
        const uint16_t pid = loop.u16() & kPIDMask;
        ByteReader descriptors = loop.take(loop.u16() & kLengthMask);
        if (testBit(shape.lu64Dropped, pid) || testBit(remap->lu64Moved, pid)) continue;
        const StreamClass c = classifyStream(streamType, descriptors.current(), descriptors.remaining(), registration);
        // scte35 and unknown streams share one range.
        const uint8_t kind = c.component == TS_COMPONENT_UNKNOWN ? TS_COMPONENT_SCTE35 : c.component;
        const uint16_t to = nextIn(kRanges[kind], &used[kind], occupied);
        if (to == 0) {
            if (!remap->u16Unmoved) remap->u16Unmoved = pid;
            continue;
        }
        setBit(remap->lu64Moved, pid);
        remap->lu16From[remap->u16Count] = pid;
        remap->lu16To[remap->u16Count++] = to;
    }
}

void remapPMT(const PIDRemap& remap, uint8_t* section, uint32_t size) {
    if (size < kLongHeaderSize + 4 + kCRCSize) return;
    uint8_t* pcr = section + kPCRPIDAt;
    putPID(pcr, remappedPID(remap, uint16_t((pcr[0] << 8 | pcr[1]) & kPIDMask)));
    uint32_t at = kPCRPIDAt + 2;
    at += 2 + ((section[at] << 8 | section[at + 1]) & kLengthMask);  // program_info
    while (at + kEntryHeader <= size - kCRCSize) {
        uint8_t* pid = section + at + 1;
        putPID(pid, remappedPID(remap, uint16_t((pid[0] << 8 | pid[1]) & kPIDMask)));
        at += kEntryHeader + ((section[at + 3] << 8 | section[at + 4]) & kLengthMask);
    }
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
