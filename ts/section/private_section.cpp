// Private sections (ECMs, EMMs and the like) in the long and the short syntax,
// and the card identifier at the head of an EMM's private data.
#include <cstring>

#include "rivulet/tables.h"
#include "ts/section/section_reader.h"

using namespace rivulet;

namespace {

constexpr uint32_t kShortHeaderSize = 3;
// Header bytes behind private_section_length plus the CRC, in the long syntax.
constexpr uint32_t kLongOverhead = 9;
constexpr uint32_t kCardIdSize = 6;

}  // namespace

int32_t TS_Section_PrivateFromPreSection(TS_Section_Private* section, const TS_PreSection* slot) {
    if (!section || !slot) return -1;
    ByteReader bytes = sectionBytes(slot);
    ByteReader r = bytes;
    // The fields behind private_section_length exist in the long syntax only.
    LongHeaderNamed named{};
    if (bytes.remaining() >= 2 && (slot->body[1] & 0x80)) {
        named = readLongHeader(r, section);
        section->table_id_extension = named.u16Extension;
        section->CRC_32 = trailingCRC(bytes);
    } else {
        section->table_id = r.u8();
        uint16_t flagsAndLength = r.u16();
        section->section_syntax_indicator = 0;
        section->reserved1 = (flagsAndLength >> 12) & 3;
        named = LongHeaderNamed{uint8_t((flagsAndLength >> 14) & 1), uint16_t(flagsAndLength & 0x0FFF), 0};
    }
    section->private_indicator = named.u8PrivateBit;
    section->private_section_length = named.u16SectionLength;
    uint32_t dataLength = TS_Section_PrivateDataLength(section);
    uint32_t copied = r.copy(section->private_data_byte, dataLength, sizeof section->private_data_byte);
    // Bytes the slot did not hold read as zero, never as a previous section's.
    std::memset(section->private_data_byte + copied, 0, dataLength - copied);
    section->valid = 1;
    return 0;
}

uint32_t TS_Section_PrivateDataLength(const TS_Section_Private* section) {
    if (!section) return 0;
    uint32_t length = section->private_section_length;
    uint32_t count, room;
    if (section->section_syntax_indicator) {
        count = length >= kLongOverhead ? length - kLongOverhead : 0;
        room = TS_PRIVATE_DATA_SIZE - kLongHeaderSize - kCRCSize;
    } else {
        count = length;
        room = TS_PRIVATE_DATA_SIZE - kShortHeaderSize;
    }
    return rivulet::boundedCount(count, room);
}

int32_t TS_Section_GetCardIdFromEMM(uint64_t* card_id, const TS_Section_Private* section) {
    if (!card_id || !section) return -1;
    uint64_t id = 0;
    for (uint32_t i = 0; i < kCardIdSize; ++i) id = id << 8 | section->private_data_byte[i];
    *card_id = id;
    return 0;
}
