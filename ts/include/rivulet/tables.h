// Rivulet toolkit: the tables. The CRC-32 of ISO/IEC 13818-1, the PAT (and
// the writing of a PAT packet), the PMT, the CAT, private sections, EMMs and
// PCRs: each parsed from a completed TS_PreSection (or a packet) into a
// plain record whose `valid` byte its parser sets, and printed as text.
#ifndef RIVULET_TABLES_H
#define RIVULET_TABLES_H

#include "rivulet/packets_sections.h"
#include "rivulet/descriptors.h"

extern const uint32_t g_lu32CRC32Table[256];
uint32_t GetCRC32(uint32_t initial, const uint8_t* data, uint64_t size);

struct TS_PAT_Program {
    uint16_t program_number;
    uint8_t reserved;
    uint16_t program_map_PID;  // the network_PID when program_number is 0
};

struct TS_PAT {
    uint8_t table_id;
    uint8_t section_syntax_indicator;
    uint8_t reserved1;
    uint16_t section_length;
    uint16_t transport_stream_id;
    uint8_t reserved2;
    uint8_t version_number;
    uint8_t current_next_indicator;
    uint8_t section_number;
    uint8_t last_section_number;
    uint16_t program_count;
    TS_PAT_Program programs[TS_PAT_MAX_PROGRAMS];
    uint32_t CRC_32;
    uint8_t valid;
};

int32_t TS_PAT_GetProgramData(TS_PAT_Program* program, const uint8_t* entry);
int32_t TS_PAT_FromPreSection(TS_PAT* pat, const TS_PreSection* slot);
// Number of entries the PAT section listed beyond what `pat` could hold.
uint32_t TS_PAT_DroppedPrograms(const TS_PAT* pat);
// Writes `pat` as one 188-byte packet behind the header of `header`, CRC
// computed. -2 when the section would not fit one packet (over 42 entries).
int32_t TS_PAT_ToPacket(uint8_t* out, const TS_Packet* header, const TS_PAT* pat);

struct TS_PMT_StreamInfo {
    uint8_t stream_type;
    uint16_t elementary_PID;
    uint16_t ES_info_length;
    uint16_t descriptor_count;
    TS_Descriptor descriptors[TS_MAX_DESCRIPTORS];
};

struct TS_PMT {
    uint8_t table_id;
    uint8_t section_syntax_indicator;
    uint8_t reserved1;
    uint16_t section_length;
    uint16_t program_number;
    uint8_t reserved2;
    uint8_t version_number;
    uint8_t current_next_indicator;
    uint8_t section_number;
    uint8_t last_section_number;
    uint16_t PCR_PID;
    uint16_t program_info_length;
    uint16_t descriptor_count;
    TS_Descriptor descriptors[TS_MAX_DESCRIPTORS];
    uint16_t stream_count;
    TS_PMT_StreamInfo streams[TS_PMT_MAX_STREAMS];
    uint32_t CRC_32;
    uint8_t valid;
    uint16_t PMT_PID;
    uint8_t truncated;  // 1: the section listed more streams or descriptors than the record holds
};

int32_t TS_PMT_FromPreSection(TS_PMT* pmt, const TS_PreSection* slot, uint16_t pid);
// Parses one stream-loop entry from `entry`, of which `size` bytes are readable.
int32_t TS_PMT_GetStreamInfo(TS_PMT_StreamInfo* stream, const uint8_t* entry, uint32_t size);
int32_t TS_IsStreamPIDOfPMT(const TS_PMT* pmt, uint16_t pid);
int32_t TS_GetCAPIDFromPMT(uint16_t* ca_pid, const TS_PMT* pmt);

struct TS_CAT {
    uint8_t table_id;
    uint8_t section_syntax_indicator;
    uint32_t reserved1;
    uint16_t section_length;
    uint16_t transport_stream_id;
    uint8_t reserved2;
    uint8_t version_number;
    uint8_t current_next_indicator;
    uint8_t section_number;
    uint8_t last_section_number;
    uint16_t descriptor_count;
    TS_Descriptor descriptors[TS_MAX_DESCRIPTORS];
    uint32_t CRC_32;
    uint8_t valid;
};

struct TS_Section_Private {
    uint8_t table_id;
    uint8_t section_syntax_indicator;
    uint8_t private_indicator;
    uint8_t reserved1;
    uint16_t private_section_length;
    uint16_t table_id_extension;
    uint8_t reserved2;
    uint8_t version_number;
    uint8_t current_next_indicator;
    uint8_t section_number;
    uint8_t last_section_number;
    uint8_t private_data_byte[TS_PRIVATE_DATA_SIZE];
    uint32_t CRC_32;
    uint8_t valid;
};

struct TS_PCR {
    uint8_t leading_byte;
    uint64_t program_clock_reference_base;
    uint8_t PCR_reserved;
    uint32_t program_clock_reference_extension;
};

int32_t TS_CAT_FromPreSection(TS_CAT* cat, const TS_PreSection* slot);
int32_t TS_GetCAPIDFromCAT(uint16_t* ca_pid, const TS_CAT* cat);
int32_t TS_Section_PrivateFromPreSection(TS_Section_Private* section, const TS_PreSection* slot);
// Private data bytes the record holds: private_section_length - 9 (long
// syntax) or private_section_length (short), never more than was stored.
uint32_t TS_Section_PrivateDataLength(const TS_Section_Private* section);
int32_t TS_Section_GetCardIdFromEMM(uint64_t* card_id, const TS_Section_Private* section);
int32_t TS_PCR_Import(TS_PCR* pcr, const uint8_t* data);
// Fills `pcr` from a parsed adaptation field (flags byte as leading byte).
int32_t TS_PCR_FromAdaptationField(TS_PCR* pcr, const TS_AdaptationField* field);

int32_t TS_PAT_Print(const TS_PAT* pat);
int32_t TS_CAT_Print(const TS_CAT* cat);
int32_t TS_PMT_Print(const TS_PMT* pmt);
int32_t TS_PCR_Print(const TS_PCR* pcr);
int32_t TS_Section_PrintPrivate(const TS_Section_Private* section);
int32_t TS_Section_PrintEMM(const TS_Section_Private* section);

#endif  // RIVULET_TABLES_H
