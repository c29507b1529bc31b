// Text dumps of private sections and of EMMs (private sections on an EMM PID
// whose data begins with a 6-byte card ID). Long-syntax sections show their
// extension header and CRC; short-syntax ones carry neither.
#include <cstdio>

#include "rivulet/tables.h"
#include "ts/descriptor/descriptor_body.h"
#include "ts/core/bounded_count.h"
#include "ts/core/name_table.h"

namespace {

constexpr uint32_t kCardIdBytes = 6;

void printPrivateHeader(const char* label, const TS_Section_Private* section) {
    char name[rivulet::kNameBufferSize];
    TS_Section_TagToString(name, section->table_id);
    const TS_Section_Private& s = *section;
    if (s.section_syntax_indicator == 1) {
        std::printf("[%s] TI:0x%02X(%s) SSI:%d PI:%d R1:%d PSL:%d TE:%d R2:%d VN:%d CNI:%d SN:%d "
                    "LSN:%d\n  ",
                    label, s.table_id, name, s.section_syntax_indicator, s.private_indicator,
                    s.reserved1, s.private_section_length, s.table_id_extension, s.reserved2,
                    s.version_number, s.current_next_indicator, s.section_number,
                    s.last_section_number);
    } else {
        std::printf("[%s] TI:0x%02X(%s) SSI:%d PI:%d R1:%d PSL:%d\n  ", label, s.table_id, name,
                    s.section_syntax_indicator, s.private_indicator, s.reserved1,
                    s.private_section_length);
    }
}

void printPrivateTrailer(const TS_Section_Private* section) {
    if (section->section_syntax_indicator == 1) std::printf("  CRC32:0x%08X\n", section->CRC_32);
}

uint32_t privateDataLength(const TS_Section_Private* section) {
    return rivulet::boundedCount(TS_Section_PrivateDataLength(section), TS_PRIVATE_DATA_SIZE);
}

}  // namespace

int32_t TS_Section_PrintPrivate(const TS_Section_Private* section) {
    if (!section) return -1;
    printPrivateHeader("Private", section);
    rivulet::printByteList(section->private_data_byte, privateDataLength(section));
    printPrivateTrailer(section);
    return 0;
}

int32_t TS_Section_PrintEMM(const TS_Section_Private* section) {
    if (!section) return -1;
    printPrivateHeader("EMM", section);
    uint64_t cardId = 0;
    TS_Section_GetCardIdFromEMM(&cardId, section);
    std::printf("CardID:%lld(0x%llx)\n  ", static_cast<long long>(cardId),
                static_cast<unsigned long long>(cardId));
    uint32_t length = privateDataLength(section);
    uint32_t rest = length > kCardIdBytes ? length - kCardIdBytes : 0;
    rivulet::printByteList(section->private_data_byte + kCardIdBytes, rest);
    printPrivateTrailer(section);
    return 0;
}
