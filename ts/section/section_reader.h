// Shared pieces of the section parsers: the bytes a slot actually holds, the
// 8-byte header of the long section syntax, the trailing CRC_32 and the
// descriptor loops.
#ifndef RIVULET_SECTION_READER_H
#define RIVULET_SECTION_READER_H

#include <cstdint>

#include "rivulet/descriptors.h"
#include "rivulet/packets_sections.h"
#include "ts/core/bounded_count.h"
#include "ts/core/byte_reader.h"

namespace rivulet {

constexpr uint32_t kLongHeaderSize = 8;  // table_id .. last_section_number
constexpr uint32_t kCRCSize = 4;

// The long-header fields that each table record names after its own table:
// the '0' bit, section_length and table_id_extension.
struct LongHeaderNamed {
    uint8_t u8PrivateBit;
    uint16_t u16SectionLength;
    uint16_t u16Extension;
};

// The section bytes held by `slot`: section_length + 3 of them, but never more
// than were received.
inline ByteReader sectionBytes(const TS_PreSection* slot) {
    uint32_t held = boundedCount(slot->received_length, TS_SECTION_BODY_SIZE);
    if (held >= 3) {
        uint32_t declared = ((slot->body[1] & 0x0Fu) << 8 | slot->body[2]) + 3u;
        if (declared < held) held = declared;
    }
    return ByteReader(slot->body, held);
}

// Reads a long header into the fields every long-syntax table record
// shares, and returns those the record names itself.
template <class Table>
LongHeaderNamed readLongHeader(ByteReader& r, Table* table) {
    LongHeaderNamed named{};
    table->table_id = r.u8();
    uint16_t flagsAndLength = r.u16();
    table->section_syntax_indicator = uint8_t(flagsAndLength >> 15);
    named.u8PrivateBit = (flagsAndLength >> 14) & 1;
    table->reserved1 = (flagsAndLength >> 12) & 3;
    named.u16SectionLength = flagsAndLength & 0x0FFF;
    named.u16Extension = r.u16();
    uint8_t versionByte = r.u8();
    table->reserved2 = versionByte >> 6;
    table->version_number = (versionByte >> 1) & 0x1F;
    table->current_next_indicator = versionByte & 1;
    table->section_number = r.u8();
    table->last_section_number = r.u8();
    return named;
}

// Reads the long header of the section in `slot` into a PAT, CAT or PMT
// record, its table_id_extension into `*extension` (a field of the record),
// and returns the section's bytes.
template <class Table>
ByteReader readTableHeader(Table* table, const TS_PreSection* slot, uint16_t* extension) {
    ByteReader section = sectionBytes(slot);
    ByteReader header = section;
    LongHeaderNamed named = readLongHeader(header, table);
    table->section_length = named.u16SectionLength;
    *extension = named.u16Extension;
    return section;
}

// The loops between the long header and the CRC_32.
inline ByteReader sectionLoops(const ByteReader& section) {
    ByteReader all = section;
    all.skip(kLongHeaderSize);
    uint32_t size = all.remaining() > kCRCSize ? all.remaining() - kCRCSize : 0;
    return all.take(size);
}

inline uint32_t trailingCRC(const ByteReader& section) {
    ByteReader all = section;
    uint32_t size = all.remaining();
    if (size < kLongHeaderSize + kCRCSize) return 0;
    all.skip(size - kCRCSize);
    return all.u32();
}

// Reads descriptors from `loop` into `out` until the loop ends or `capacity`
// records are filled. Returns the count.
inline uint16_t readDescriptorLoop(ByteReader loop, TS_Descriptor* out, uint32_t capacity) {
    uint16_t count = 0;
    while (loop.canRead(2) && count < capacity) {
        TS_Descriptor& d = out[count++];
        TS_GetDescriptor(&d, loop.current(), loop.remaining());
        loop.skip(2u + d.descriptor_length);
    }
    return count;
}

// The descriptors in `loop`, however many there are.
inline uint32_t countDescriptors(ByteReader loop) {
    uint32_t count = 0;
    for (; loop.canRead(2); ++count) {
        loop.u8();
        loop.skip(loop.u8());
    }
    return count;
}

// CA_PID of the first conditional access descriptor among `count`, or 0xFFFF.
inline uint16_t firstCAPID(const TS_Descriptor* descriptors, uint32_t count) {
    for (uint32_t i = 0; i < boundedCount(count, TS_MAX_DESCRIPTORS); ++i) {
        if (descriptors[i].descriptor_tag == TS_TAG_CONDITIONAL_ACCESS) {
            return descriptors[i].conditional_access.CA_PID;
        }
    }
    return 0xFFFF;
}

}  // namespace rivulet

#endif
