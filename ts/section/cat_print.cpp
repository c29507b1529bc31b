// Text dump of a parsed CAT: header fields, its descriptors, then the CRC
// behind an empty line.
#include <cstdio>

#include "rivulet/tables.h"
#include "ts/core/bounded_count.h"
#include "ts/core/name_table.h"

int32_t TS_CAT_Print(const TS_CAT* cat) {
    if (!cat) return -1;
    char name[rivulet::kNameBufferSize];
    TS_Section_TagToString(name, cat->table_id);
    std::printf("[CAT] TI:0x%02X(%s) SSI:%d R1:%d SL:%d TSI:%d R2:%d VN:%d CNI:%d SN:%d LSN:%d\n",
                cat->table_id, name, cat->section_syntax_indicator, int32_t(cat->reserved1),
                cat->section_length, cat->transport_stream_id, cat->reserved2,
                cat->version_number, cat->current_next_indicator, cat->section_number,
                cat->last_section_number);
    std::printf("  DSC:%d\n", cat->descriptor_count);
    uint32_t count = rivulet::boundedCount(cat->descriptor_count, TS_MAX_DESCRIPTORS);
    for (uint32_t i = 0; i < count; ++i) TS_Descriptor_Print(&cat->descriptors[i]);
    std::printf("\n  CRC32:0x%08X\n", cat->CRC_32);
    return 0;
}
