// Program clock references: a 33-bit base of 90 kHz ticks, 6 reserved bits
// and a 9-bit extension of 27 MHz ticks.
#include "rivulet/tables.h"

int32_t TS_PCR_Import(TS_PCR* pcr, const uint8_t* data) {
    if (!pcr || !data) return -1;
    pcr->leading_byte = data[0];
    pcr->program_clock_reference_base = uint64_t(data[1]) << 25 | uint64_t(data[2]) << 17 |
                                        uint64_t(data[3]) << 9 | uint64_t(data[4]) << 1 | data[5] >> 7;
    pcr->PCR_reserved = (data[5] & 0x7E) >> 1;
    pcr->program_clock_reference_extension = uint32_t(data[5] & 0x01) << 8 | data[6];
    return 0;
}

int32_t TS_PCR_FromAdaptationField(TS_PCR* pcr, const TS_AdaptationField* field) {
    if (!pcr || !field) return -1;
    pcr->leading_byte = uint8_t(field->discontinuity_indicator << 7 | field->random_access_indicator << 6 |
                                field->elementary_stream_priority_indicator << 5 | field->PCR_flag << 4 |
                                field->OPCR_flag << 3 | field->splicing_point_flag << 2 |
                                field->transport_private_data_flag << 1 |
                                field->adaptation_field_extension_flag);
    pcr->program_clock_reference_base = field->program_clock_reference_base;
    pcr->PCR_reserved = field->PCR_reserved;
    pcr->program_clock_reference_extension = field->program_clock_reference_extension;
    return 0;
}
