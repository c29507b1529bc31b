// Rivulet toolkit: packets and sections. TS_Packet_Get parses a 188-byte
// packet's header and adaptation field; TS_PreSection gathers one section
// from the payloads of the packets of one PID, across packet boundaries.
//
//   TS_PreSection slot;
//   TS_PreSection_Initialise(&slot);
//   for each packet of the PID:
//       if (TS_PAT_ImportPreSection(&slot, packet) == TS_SECTION_COMPLETE) { parse slot.body }
#ifndef RIVULET_PACKETS_SECTIONS_H
#define RIVULET_PACKETS_SECTIONS_H

#include "rivulet/common.h"

struct TS_AdaptationField {
    uint8_t adaptation_field_length;
    uint8_t discontinuity_indicator;
    uint8_t random_access_indicator;
    uint8_t elementary_stream_priority_indicator;
    uint8_t PCR_flag;
    uint8_t OPCR_flag;
    uint8_t splicing_point_flag;
    uint8_t transport_private_data_flag;
    uint8_t adaptation_field_extension_flag;
    uint64_t program_clock_reference_base;
    uint8_t PCR_reserved;
    uint16_t program_clock_reference_extension;
    uint64_t original_program_clock_reference_base;
    uint8_t OPCR_reserved;
    uint16_t original_program_clock_reference_extension;
    uint8_t splice_countdown;
    uint8_t transport_private_data_length;
    uint8_t private_data_byte[TS_PACKET_SIZE];
    uint8_t adaptation_field_extension_length;
    uint8_t ltw_flag;
    uint8_t piecewise_rate_flag;
    uint8_t seamless_splice_flag;
    uint8_t extension_flags_reserved;
    uint8_t ltw_valid_flag;
    uint16_t ltw_offset;
    uint8_t piecewise_rate_reserved;
    uint32_t piecewise_rate;
    uint8_t splice_type;
    uint64_t DTS_next_AU;
    uint8_t marker_bit_1;
    uint8_t marker_bit_2;
    uint8_t marker_bit_3;
    uint8_t extension_reserved_length;
    uint8_t extension_reserved_byte[TS_PACKET_SIZE];
    uint8_t stuffing_length;
    uint8_t stuffing_byte[TS_PACKET_SIZE];
};

struct TS_Packet {
    uint8_t sync_byte;
    uint8_t transport_error_indicator;
    uint8_t payload_unit_start_indicator;
    uint8_t transport_priority;
    uint16_t PID;
    uint8_t transport_scrambling_control;
    uint8_t adaptation_field_control;
    uint8_t continuity_counter;
    TS_AdaptationField adaptation_field;
};

// Parses the header of the 188 bytes at `data` (and the adaptation field when
// adaptation_field_control has bit 1 set). -2 when data[0] is not 0x47.
int32_t TS_Packet_Get(TS_Packet* packet, const uint8_t* data);
// The 4-byte header only: adaptation_field is left as it was. What routing
// needs, at a fraction of the cost.
int32_t TS_Packet_GetHeader(TS_Packet* packet, const uint8_t* data);
// Parses the adaptation field of the 188-byte packet `data` whose header is in
// `packet`. Lengths are clamped to the packet; -2 without an adaptation field.
int32_t TS_Packet_GetAdaptationField(TS_AdaptationField* field, const TS_Packet* packet,
                                     const uint8_t* data);

int32_t TS_Header_PIDToString(char* buffer, int pid);
int32_t TS_Packet_PrintHeader(const TS_Packet* packet);
int32_t TS_Packet_Print(const TS_Packet* packet);
void TS_Packet_PrintAdaptationField(const TS_AdaptationField* field);
int32_t TS_Packet_Print_RAW(const uint8_t* data);

// Values of TS_PreSection.complete: the name is historical; it tells whether
// the slot is idle (the last section it gathered is complete, or none was
// begun) or gathering.
constexpr uint8_t TS_PRESECTION_IDLE = 1;
constexpr uint8_t TS_PRESECTION_GATHERING = 0;

struct TS_PreSection {
    uint8_t complete;               // TS_PRESECTION_IDLE or TS_PRESECTION_GATHERING
    uint16_t section_total_length;  // section_length + 3; 0 while the 3-byte header is incomplete
    uint16_t received_length;
    int8_t last_continuity_counter; // -1 after initialisation
    uint8_t body[TS_SECTION_BODY_SIZE];
};

// The section bytes one packet carries, as ISO/IEC 13818-1 places them: the
// payload begins behind the header and any adaptation field; with
// payload_unit_start_indicator 1 its first byte is the pointer_field, the bytes
// before the point it names end the pending section, and new sections begin
// there, one after another, until 0xFF stuffing or the packet's end.
struct TS_Payload {
    const uint8_t* lu8Packet;        // the packet's 188 bytes
    uint8_t continuity_counter;
    uint8_t payload_unit_start_indicator;
    uint8_t u8Stage;                 // 0: continuation bytes next; 1: new sections next; 2: done
    uint16_t u16Pos;                 // next byte to hand out
    uint16_t u16ContinuationEnd;     // end of the bytes that continue a pending section
};

// Prepares `payload` to hand out the section bytes of `data` (188 bytes) whose
// header is `packet`. A packet without payload hands out nothing.
int32_t TS_Payload_Begin(TS_Payload* payload, const TS_Packet* packet, const uint8_t* data);
// 1 while the packet may still deliver section bytes, else 0.
int32_t TS_Payload_HasData(const TS_Payload* payload);

// Empties `slot`: idle, no bytes received, no counter seen, a body of zeros.
int32_t TS_PreSection_Initialise(TS_PreSection* slot);
// Feed the next section bytes of `payload` to `slot`. Returns
// TS_SECTION_COMPLETE when a whole section lies in the slot (call again for
// further sections of the same packet), 0 when the packet has nothing more
// for the slot, or a negative code (the affected section is dropped; call
// again while TS_Payload_HasData, a new section may still follow).
// The variants differ in the smallest section_length they accept (9, or 13
// for private sections) and in the longest section: TS_PSI_SECTION_MAX bytes,
// or TS_SECTION_BODY_SIZE for service information.
int32_t TS_PAT_ImportPreSection(TS_PreSection* slot, TS_Payload* payload);
int32_t TS_CAT_ImportPreSection(TS_PreSection* slot, TS_Payload* payload);
int32_t TS_PMT_ImportPreSection(TS_PreSection* slot, TS_Payload* payload);
int32_t TS_Section_ImportPreSection(TS_PreSection* slot, TS_Payload* payload);
int32_t TS_SI_ImportPreSection(TS_PreSection* slot, TS_Payload* payload);

// 1 when the next bytes `payload` hands out continue the section pending in
// `slot` (its continuity_counter follows the slot's last one), else 0.
int32_t TS_PreSection_Continues(const TS_PreSection* slot, const TS_Payload* payload);
// The table_id_extension (bytes 3 and 4) of the section in `slot`, pending or
// complete: 0, or -2 while fewer than five of its bytes have arrived.
int32_t TS_PreSection_TableIdExtension(const TS_PreSection* slot, uint16_t* extension);

// 0 when `slot` holds a complete section whose table_id is `table_id` and whose
// CRC_32 verifies; -2 not complete, -3 other table_id, -4 CRC mismatch.
int32_t TS_PreSection_Verify(const TS_PreSection* slot, uint8_t table_id);

#endif  // RIVULET_PACKETS_SECTIONS_H
