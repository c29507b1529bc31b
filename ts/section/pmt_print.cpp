// Text dump of a parsed PMT: header fields, the program-level descriptors,
// then each elementary stream with its own descriptors, then the CRC.
#include <cstdio>

#include "rivulet/tables.h"
#include "ts/core/bounded_count.h"
#include "ts/core/name_table.h"

namespace {

using rivulet::boundedCount;

void printDescriptors(uint16_t declared, const TS_Descriptor* descriptors) {
    std::printf("  DSC:%d\n", declared);
    uint32_t count = boundedCount(declared, TS_MAX_DESCRIPTORS);
    for (uint32_t i = 0; i < count; ++i) TS_Descriptor_Print(&descriptors[i]);
}

void printStream(const TS_PMT_StreamInfo& stream) {
    char name[rivulet::kNameBufferSize];
    TS_Header_StreamTypeToString(name, stream.stream_type);
    std::printf("  ST:0x%02X(%s) EPID:0x%04X ESIL:%d DSC:%d\n", stream.stream_type, name,
                unsigned(stream.elementary_PID), stream.ES_info_length, stream.descriptor_count);
    printDescriptors(stream.descriptor_count, stream.descriptors);
}

}  // namespace

int32_t TS_PMT_Print(const TS_PMT* pmt) {
    if (!pmt) return -1;
    char name[rivulet::kNameBufferSize];
    TS_Section_TagToString(name, pmt->table_id);
    // The program number stands under the label TSI, where a PAT has its
    // transport_stream_id: both are the table_id_extension of the section.
    std::printf("[PMT] TI:0x%02X(%s) SSI:%d R1:%d SLEN:%d TSI:%d R2:%d VER:%d CNI:%d SN:%d LSN:%d "
                "PCRPID:0x%04X PIL:%d\n",
                pmt->table_id, name, pmt->section_syntax_indicator, pmt->reserved1,
                pmt->section_length, pmt->program_number, pmt->reserved2, pmt->version_number,
                pmt->current_next_indicator, pmt->section_number, pmt->last_section_number,
                unsigned(pmt->PCR_PID), pmt->program_info_length);
    printDescriptors(pmt->descriptor_count, pmt->descriptors);
    uint32_t count = boundedCount(pmt->stream_count, TS_PMT_MAX_STREAMS);
    for (uint32_t i = 0; i < count; ++i) printStream(pmt->streams[i]);
    std::printf("  CRC32:0x%08X\n", pmt->CRC_32);
    return 0;
}
