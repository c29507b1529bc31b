// Program Association Table: parse a reassembled section, write one back as
// a single 188-byte packet.
#include <cstring>

#include "rivulet/tables.h"
#include "ts/core/byte_writer.h"
#include "ts/section/section_reader.h"

using namespace rivulet;

namespace {

constexpr uint32_t kEntrySize = 4;
constexpr uint32_t kSectionStart = 5;
// 5 header bytes + 4 CRC bytes in front of and behind the program loop.
constexpr uint32_t kFixedSectionBytes = 9;
constexpr uint32_t kMaxEntriesPerPacket =
    (TS_PACKET_SIZE - kSectionStart - kLongHeaderSize - kCRCSize) / kEntrySize;

}  // namespace

int32_t TS_PAT_GetProgramData(TS_PAT_Program* program, const uint8_t* entry) {
    if (!program || !entry) return -1;
    program->program_number = uint16_t(entry[0] << 8 | entry[1]);
    program->reserved = entry[2] >> 5;
    program->program_map_PID = uint16_t((entry[2] & 0x1F) << 8 | entry[3]);
    return 0;
}

int32_t TS_PAT_FromPreSection(TS_PAT* pat, const TS_PreSection* slot) {
    if (!pat || !slot) return -1;
    ByteReader section = readTableHeader(pat, slot, &pat->transport_stream_id);

    pat->program_count = 0;
    ByteReader loop = sectionLoops(section);
    while (loop.canRead(kEntrySize) && pat->program_count < TS_PAT_MAX_PROGRAMS) {
        TS_PAT_GetProgramData(&pat->programs[pat->program_count++], loop.current());
        loop.skip(kEntrySize);
    }
    pat->CRC_32 = trailingCRC(section);
    pat->valid = 1;
    return 0;
}

uint32_t TS_PAT_DroppedPrograms(const TS_PAT* pat) {
    if (!pat || pat->section_length < kFixedSectionBytes) return 0;
    uint32_t listed = (pat->section_length - kFixedSectionBytes) / kEntrySize;
    return listed > pat->program_count ? listed - pat->program_count : 0;
}

int32_t TS_PAT_ToPacket(uint8_t* out, const TS_Packet* header, const TS_PAT* pat) {
    if (!out || !header || !pat) return -1;
    uint32_t count = pat->program_count;
    if (count > kMaxEntriesPerPacket || count > TS_PAT_MAX_PROGRAMS) return TS_ERR_PAT_TOO_LARGE;

    rivulet::ByteWriter w(out, TS_PACKET_SIZE);
    w.putPacketHeader(*header);
    w.u8(0x00);  // pointer_field
    const uint32_t section = w.written();
    w.u8(pat->table_id);
    w.u16(uint16_t((pat->section_syntax_indicator & 1) << 15 | (pat->reserved1 & 3) << 12 |
                   (pat->section_length & 0x0FFF)));
    w.u16(pat->transport_stream_id);
    w.u8(uint8_t((pat->reserved2 & 3) << 6 | (pat->version_number & 0x1F) << 1 | (pat->current_next_indicator & 1)));
    w.u8(pat->section_number);
    w.u8(pat->last_section_number);
    for (uint32_t i = 0; i < count; ++i) {
        const TS_PAT_Program& program = pat->programs[i];
        w.u16(program.program_number);
        w.u16(uint16_t((program.reserved & 7) << 13 | (program.program_map_PID & 0x1FFF)));
    }
    w.putCRC32(section);
    w.fill(0xFF, w.remaining());
    return 0;
}
