// Program Map Table: PCR PID, program descriptors and the elementary streams.
#include "rivulet/tables.h"
#include "ts/section/section_reader.h"

using namespace rivulet;

namespace {

constexpr uint32_t kStreamEntryHeader = 5;  // stream_type, PID, ES_info_length

}  // namespace

int32_t TS_PMT_GetStreamInfo(TS_PMT_StreamInfo* stream, const uint8_t* entry, uint32_t size) {
    if (!stream || !entry) return -1;
    ByteReader r(entry, size);
    stream->stream_type = r.u8();
    stream->elementary_PID = r.u16() & 0x1FFF;
    stream->ES_info_length = r.u16() & 0x0FFF;
    stream->descriptor_count = readDescriptorLoop(r.take(stream->ES_info_length), stream->descriptors,
                                                  TS_MAX_DESCRIPTORS);
    return 0;
}

int32_t TS_PMT_FromPreSection(TS_PMT* pmt, const TS_PreSection* slot, uint16_t pid) {
    if (!pmt || !slot) return -1;
    ByteReader section = readTableHeader(pmt, slot, &pmt->program_number);

    ByteReader loops = sectionLoops(section);
    pmt->PCR_PID = loops.u16() & 0x1FFF;
    pmt->program_info_length = loops.u16() & 0x0FFF;
    ByteReader programLoop = loops.take(pmt->program_info_length);
    pmt->descriptor_count = readDescriptorLoop(programLoop, pmt->descriptors, TS_MAX_DESCRIPTORS);
    pmt->truncated = countDescriptors(programLoop) > TS_MAX_DESCRIPTORS;

    pmt->stream_count = 0;
    while (loops.canRead(kStreamEntryHeader) && pmt->stream_count < TS_PMT_MAX_STREAMS) {
        TS_PMT_StreamInfo& stream = pmt->streams[pmt->stream_count++];
        TS_PMT_GetStreamInfo(&stream, loops.current(), loops.remaining());
        loops.skip(kStreamEntryHeader);
        if (countDescriptors(loops.take(stream.ES_info_length)) > TS_MAX_DESCRIPTORS) pmt->truncated = 1;
    }
    if (loops.canRead(kStreamEntryHeader)) pmt->truncated = 1;
    pmt->CRC_32 = trailingCRC(section);
    pmt->valid = 1;
    pmt->PMT_PID = pid;
    return 0;
}

int32_t TS_IsStreamPIDOfPMT(const TS_PMT* pmt, uint16_t pid) {
    if (!pmt) return 0;
    for (uint32_t i = 0; i < boundedCount(pmt->stream_count, TS_PMT_MAX_STREAMS); ++i) {
        if (pmt->streams[i].elementary_PID == pid) return 1;
    }
    return 0;
}

int32_t TS_GetCAPIDFromPMT(uint16_t* ca_pid, const TS_PMT* pmt) {
    if (!ca_pid || !pmt) return -1;
    *ca_pid = firstCAPID(pmt->descriptors, pmt->descriptor_count);
    return 0;
}
