// Conditional Access Table on PID 1: a descriptor loop naming the EMM PIDs.
#include "rivulet/tables.h"
#include "ts/section/section_reader.h"

using namespace rivulet;

int32_t TS_CAT_FromPreSection(TS_CAT* cat, const TS_PreSection* slot) {
    if (!cat || !slot) return -1;
    ByteReader section = readTableHeader(cat, slot, &cat->transport_stream_id);
    cat->descriptor_count = readDescriptorLoop(sectionLoops(section), cat->descriptors, TS_MAX_DESCRIPTORS);
    cat->CRC_32 = trailingCRC(section);
    cat->valid = 1;
    return 0;
}

int32_t TS_GetCAPIDFromCAT(uint16_t* ca_pid, const TS_CAT* cat) {
    if (!ca_pid || !cat) return -1;
    *ca_pid = firstCAPID(cat->descriptors, cat->descriptor_count);
    return 0;
}
