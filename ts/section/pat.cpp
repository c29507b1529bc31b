// Program Association Table: parse a reassembled section, write one back as
// a single 188-byte packet.
#include <cstring>

#include "rivulet/ts.h"
#include "ts/core/section_reader.h"

using namespace rivulet;

namespace {

constexpr uint32_t kEntrySize = 4;
constexpr uint32_t kPointerField = 4;
constexpr uint32_t kSectionStart = 5;
// 5 header bytes + 4 CRC bytes in front of and behind the program loop.
constexpr uint32_t kFixedSectionBytes = 9;
constexpr uint32_t kMaxEntriesPerPacket =
    (TS_PACKET_SIZE - kSectionStart - kLongHeaderSize - kCRCSize) / kEntrySize;

void writeEntry(uint8_t* out, const TS_PAT_Program& p) {
    out[0] = uint8_t(p.program_number >> 8);
    out[1] = uint8_t(p.program_number & 0xFF);
    out[2] = uint8_t((p.reserved & 7) << 5 | ((p.program_map_PID >> 8) & 0x1F));
    out[3] = uint8_t(p.program_map_PID & 0xFF);
}

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

    std::memset(out, 0xFF, TS_PACKET_SIZE);
    out[0] = header->sync_byte;
    out[1] = uint8_t((header->transport_error_indicator & 1) << 7 |
                     (header->payload_unit_start_indicator & 1) << 6 |
                     (header->transport_priority & 1) << 5 | ((header->PID >> 8) & 0x1F));
    out[2] = uint8_t(header->PID & 0xFF);
    out[3] = uint8_t((header->transport_scrambling_control & 3) << 6 |
                     (header->adaptation_field_control & 3) << 4 | (header->continuity_counter & 0x0F));
    out[kPointerField] = 0x00;

    uint8_t* s = out + kSectionStart;
    s[0] = pat->table_id;
    s[1] = uint8_t((pat->section_syntax_indicator & 1) << 7 | (pat->reserved1 & 3) << 4 |
                   ((pat->section_length >> 8) & 0x0F));
    s[2] = uint8_t(pat->section_length & 0xFF);
    s[3] = uint8_t(pat->transport_stream_id >> 8);
    s[4] = uint8_t(pat->transport_stream_id & 0xFF);
    s[5] = uint8_t((pat->reserved2 & 3) << 6 | (pat->version_number & 0x1F) << 1 |
                   (pat->current_next_indicator & 1));
    s[6] = pat->section_number;
    s[7] = pat->last_section_number;
    for (uint32_t i = 0; i < count; ++i) writeEntry(s + kLongHeaderSize + kEntrySize * i, pat->programs[i]);

    uint32_t crcAt = kLongHeaderSize + kEntrySize * count;
    uint32_t crc = GetCRC32(0xFFFFFFFF, s, crcAt);
    s[crcAt] = uint8_t(crc >> 24);
    s[crcAt + 1] = uint8_t(crc >> 16);
    s[crcAt + 2] = uint8_t(crc >> 8);
    s[crcAt + 3] = uint8_t(crc);
    return 0;
}
