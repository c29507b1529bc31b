// Rivulet MPEG-2 transport stream toolkit: the whole public interface.
//
// Plain records that mirror the syntax of ISO/IEC 13818-1, and plain functions
// over them. Every function returns a signed 32-bit status: 0 for success, -1
// for a null required pointer, and further negative codes named below. The
// toolkit throws nothing and allocates nothing; every array has a fixed,
// named capacity and every parser stays inside the bytes it was given.
#ifndef RIVULET_TS_H
#define RIVULET_TS_H

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Capacities and sizes
// ---------------------------------------------------------------------------

constexpr uint32_t TS_PACKET_SIZE = 188;
constexpr uint32_t TS_MAX_PACKET_SIZE = 204;  // packets with 16 parity bytes; M2TS packets have 192
constexpr uint8_t TS_SYNC_BYTE = 0x47;
constexpr uint16_t TS_PID_PAT = 0x0000;
constexpr uint16_t TS_PID_CAT = 0x0001;
constexpr uint16_t TS_PID_NULL = 0x1FFF;
constexpr uint32_t TS_PID_COUNT = 8192;  // 13-bit PIDs

constexpr uint8_t TS_TABLE_ID_PAT = 0x00;
constexpr uint8_t TS_TABLE_ID_CAT = 0x01;
constexpr uint8_t TS_TABLE_ID_PMT = 0x02;

// The longest PAT, CAT, PMT or private section reassembly takes: sixteen
// packets' worth of 183 bytes.
constexpr uint32_t TS_PSI_SECTION_MAX = 2928;
// Packets a section of TS_PSI_SECTION_MAX bytes can touch: it may start in
// the last payload byte of one packet and end in the first of another.
constexpr uint32_t TS_SECTION_MAX_PACKETS = 18;
// Section bytes one reassembly slot holds: the longest service information
// section (SDT, EIT), 4096 bytes.
constexpr uint32_t TS_SECTION_BODY_SIZE = 4096;

constexpr uint32_t TS_PAT_MAX_PROGRAMS = 253;     // all the entries one PAT section can hold
constexpr uint32_t TS_MAX_PMT_RECORDS = 64;       // programs whose parsed PMTs a stream context keeps
constexpr uint32_t TS_PMT_MAX_STREAMS = 32;
constexpr uint32_t TS_MAX_DESCRIPTORS = 32;       // per loop: PMT program, PMT stream, CAT
constexpr uint32_t TS_ISO639_MAX_ENTRIES = 63;    // 255 / 4
constexpr uint32_t TS_DESCRIPTOR_TAIL_SIZE = 251; // 255 - 4 fixed bytes
constexpr uint32_t TS_PRIVATE_DATA_SIZE = 2928;   // TS_PSI_SECTION_MAX less the 3-byte header, and more

// The most bytes one TS_AddStream takes into a stream context (32 MiB). The
// drivers' own walks read 1 MiB at a time into buffers of their own.
constexpr uint32_t TS_APPEND_BLOCK_SIZE = 33554432;
[[deprecated("the drivers no longer read blocks of this size: use TS_APPEND_BLOCK_SIZE")]]
constexpr uint32_t TS_READ_BLOCK_SIZE = TS_APPEND_BLOCK_SIZE;
// A block and the unconsumed bytes before it: less than one packet.
constexpr uint32_t TS_STREAM_BUFFER_SIZE = TS_APPEND_BLOCK_SIZE + TS_MAX_PACKET_SIZE;
constexpr uint32_t TS_NAME_BUFFER_SIZE = 65536;

constexpr uint32_t TS_SPLIT_MAX_ENTRIES = 64;     // (program, duplicate) pairs per splitter run
constexpr uint32_t TS_PMT_SPLIT_MAX_ENTRIES = 256;

// ---------------------------------------------------------------------------
// Status codes beyond 0 / -1
// ---------------------------------------------------------------------------

// Section import results.
constexpr int32_t TS_SECTION_COMPLETE = 1;          // a whole section lies in the slot
constexpr int32_t TS_ERR_CONTINUITY_WRAP = -2;      // pending, last counter 15, this one not 0
constexpr int32_t TS_ERR_CONTINUITY = -3;           // pending, counter not last + 1
constexpr int32_t TS_ERR_SECTION_SHORT = -4;        // section_length below the variant's minimum
constexpr int32_t TS_ERR_SECTION_LONG = -5;         // section longer than the slot's body
constexpr int32_t TS_ERR_SECTION_TRUNCATED = -6;    // a new section began before the pending one ended

// Packet, descriptor and writer results.
constexpr int32_t TS_ERR_NO_SYNC = -2;              // first byte is not 0x47
constexpr int32_t TS_ERR_NO_ADAPTATION_FIELD = -2;
constexpr int32_t TS_ERR_WRONG_TAG = -2;            // descriptor handed to another tag's getter/printer
constexpr int32_t TS_ERR_PAT_TOO_LARGE = -2;        // more entries than one packet holds

// Section verification.
constexpr int32_t TS_ERR_NOT_COMPLETE = -2;
constexpr int32_t TS_ERR_TABLE_ID = -3;
constexpr int32_t TS_ERR_CRC = -4;

// Driver results. Codes are shared between families, so a code is read with
// the function that returned it:
//
//   function               0   -1    -2     -3                -4              -5     -6         -7          -8
//   TS_ProgramSplitFile    ok  null  input  output open       -               write  name long  -           read
//   TS_Print               ok  null  input  -                 -               -      -          -           read
//   TS_GetProgramList      ok  null  input  -                 -               -      -          -           read
//   TS_ProgramSplitStream  ok  null  input  output open       -               write  -          -           read
//   TS_CheckPMTSplit       ok  null  input  not single prog.  -               -      -          table full  read
//   TS_PMTSplitFile        ok  null  input  not single prog.  output open     write  name long  table full  read
//   TS_CheckStream         ok  null  input  -                 -               -      -          -           read
//
// Further, for every driver: -10 interrupted by TS_RequestStop, -11 no
// transport stream packet in the input, -12 no memory for the run's buffers;
// for TS_ProgramSplitStreamByNumber and for a split with a list of programs,
// -9, no PAT announced a program asked for.
constexpr int32_t TS_ERR_OPEN_INPUT = -2;
constexpr int32_t TS_ERR_OPEN_OUTPUT = -3;          // splitter, extraction
constexpr int32_t TS_ERR_NOT_SINGLE_PROGRAM = -3;   // PMT-change drivers
constexpr int32_t TS_ERR_PMT_SPLIT_OPEN_OUTPUT = -4;
constexpr int32_t TS_ERR_WRITE = -5;                // a write failed or came up short
constexpr int32_t TS_ERR_NAME_TOO_LONG = -6;
constexpr int32_t TS_ERR_TABLE_FULL = -7;           // 257th run or PMT in the PMT-change drivers
constexpr int32_t TS_ERR_READ = -8;                 // the input could not be read (a directory, an I/O error)
constexpr int32_t TS_ERR_NO_PROGRAM = -9;           // extraction by number: no PAT announced the program
constexpr int32_t TS_ERR_INTERRUPTED = -10;         // TS_RequestStop: outputs hold whole packets up to a point
constexpr int32_t TS_ERR_NO_PACKETS = -11;          // the input holds no transport stream packet
constexpr int32_t TS_ERR_NO_MEMORY = -12;           // a run's buffers could not be had

// ---------------------------------------------------------------------------
// Packets
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// Section reassembly
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// CRC-32 (ISO/IEC 13818-1 Annex A) and the PAT
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// Descriptors
// ---------------------------------------------------------------------------

struct TS_Descriptor_RAW {
    uint8_t data[255];
};
struct TS_Descriptor_VideoStream {
    uint8_t multiple_frame_rate_flag;
    uint8_t frame_rate_code;
    uint8_t MPEG_1_only_flag;
    uint8_t constrained_parameter_flag;
    uint8_t still_picture_flag;
    uint8_t profile_and_level_indication;
    uint8_t chroma_format;
    uint8_t frame_rate_extension_flag;
    uint8_t reserved;
};
struct TS_Descriptor_AudioStream {
    uint8_t free_format_flag;
    uint8_t ID;
    uint8_t layer;
    uint8_t variable_rate_audio_indicator;
    uint8_t reserved;
};
struct TS_Descriptor_Hierarchy {
    uint8_t reserved1;
    uint8_t hierarchy_type;
    uint8_t reserved2;
    uint8_t hierarchy_layer_index;
    uint8_t reserved3;
    uint8_t hierarchy_embedded_layer_index;
    uint8_t reserved4;
    uint8_t hierarchy_channel;
};
struct TS_Descriptor_Registration {
    uint32_t format_identifier;
    uint8_t additional_identification_info[TS_DESCRIPTOR_TAIL_SIZE];
};
struct TS_Descriptor_DataStreamAlignment {
    uint8_t alignment_type;
};
struct TS_Descriptor_TargetBackgroundGrid {
    uint16_t horizontal_size;
    uint16_t vertical_size;
    uint8_t aspect_ratio_information;
};
struct TS_Descriptor_VideoWindow {
    uint16_t horizontal_offset;
    uint16_t vertical_offset;
    uint8_t window_priority;
};
struct TS_Descriptor_ConditionalAccess {
    uint16_t CA_system_ID;
    uint8_t reserved;
    uint16_t CA_PID;
    uint8_t private_data_byte[TS_DESCRIPTOR_TAIL_SIZE];
};
struct TS_Descriptor_ISO639LanguageEntry {
    uint32_t ISO_639_language_code;  // three characters in bits 23-0, stream order
    uint8_t audio_type;
};
struct TS_Descriptor_ISO639Language {
    // The entry count is descriptor_length / 4, derived wherever it is needed.
    TS_Descriptor_ISO639LanguageEntry entries[TS_ISO639_MAX_ENTRIES];
};
struct TS_Descriptor_SystemClock {
    uint8_t external_clock_reference_indicator;
    uint8_t reserved1;
    uint8_t clock_accuracy_integer;
    uint8_t clock_accuracy_exponent;
    uint8_t reserved2;
};
struct TS_Descriptor_MultiplexBufferUtilization {
    uint8_t bound_valid_flag;
    uint16_t LTW_offset_lower_bound;
    uint8_t reserved;
    uint16_t LTW_offset_upper_bound;
};
struct TS_Descriptor_Copyright {
    uint32_t copyright_identifier;
    uint8_t additional_copyright_info[TS_DESCRIPTOR_TAIL_SIZE];
};
struct TS_Descriptor_MaximumBitrate {
    uint8_t reserved;
    uint32_t maximum_bitrate;  // as coded, units of 50 bytes per second
};
struct TS_Descriptor_PrivateDataIndicator {
    uint32_t private_data_indicator;
};
struct TS_Descriptor_SmoothingBuffer {
    uint8_t reserved1;
    uint32_t sb_leak_rate;
    uint8_t reserved2;
    uint32_t sb_size;
};
struct TS_Descriptor_STD {
    uint8_t reserved;  // bits 7-1 of the body byte, kept in place (not shifted)
    uint8_t leak_valid_flag;
};
struct TS_Descriptor_IBP {
    uint8_t closed_gop_flag;
    uint8_t identical_gop_flag;
    uint16_t max_gop_length;
};

// One descriptor: tag and length, then the body variant the tag selects.
// descriptor_length is the number of body bytes actually present: a declared
// length that runs past the loop or section holding the descriptor is cut to
// the bytes that are there.
struct TS_Descriptor {
    uint8_t descriptor_tag;
    uint8_t descriptor_length;
    union {
        TS_Descriptor_RAW raw;
        TS_Descriptor_VideoStream video_stream;
        TS_Descriptor_AudioStream audio_stream;
        TS_Descriptor_Hierarchy hierarchy;
        TS_Descriptor_Registration registration;
        TS_Descriptor_DataStreamAlignment data_stream_alignment;
        TS_Descriptor_TargetBackgroundGrid target_background_grid;
        TS_Descriptor_VideoWindow video_window;
        TS_Descriptor_ConditionalAccess conditional_access;
        TS_Descriptor_ISO639Language iso639_language;
        TS_Descriptor_SystemClock system_clock;
        TS_Descriptor_MultiplexBufferUtilization multiplex_buffer_utilization;
        TS_Descriptor_Copyright copyright;
        TS_Descriptor_MaximumBitrate maximum_bitrate;
        TS_Descriptor_PrivateDataIndicator private_data_indicator;
        TS_Descriptor_SmoothingBuffer smoothing_buffer;
        TS_Descriptor_STD std;
        TS_Descriptor_IBP ibp;
    };
};

constexpr uint8_t TS_TAG_VIDEO_STREAM = 2;
constexpr uint8_t TS_TAG_AUDIO_STREAM = 3;
constexpr uint8_t TS_TAG_HIERARCHY = 4;
constexpr uint8_t TS_TAG_REGISTRATION = 5;
constexpr uint8_t TS_TAG_DATA_STREAM_ALIGNMENT = 6;
constexpr uint8_t TS_TAG_TARGET_BACKGROUND_GRID = 7;
constexpr uint8_t TS_TAG_VIDEO_WINDOW = 8;
constexpr uint8_t TS_TAG_CONDITIONAL_ACCESS = 9;
constexpr uint8_t TS_TAG_ISO_639_LANGUAGE = 10;
constexpr uint8_t TS_TAG_SYSTEM_CLOCK = 11;
constexpr uint8_t TS_TAG_MULTIPLEX_BUFFER_UTILIZATION = 12;
constexpr uint8_t TS_TAG_COPYRIGHT = 13;
constexpr uint8_t TS_TAG_MAXIMUM_BITRATE = 14;
constexpr uint8_t TS_TAG_PRIVATE_DATA_INDICATOR = 15;
constexpr uint8_t TS_TAG_SMOOTHING_BUFFER = 16;
constexpr uint8_t TS_TAG_STD = 17;
constexpr uint8_t TS_TAG_IBP = 18;

// All descriptor parsers take the record, a pointer to the descriptor's tag
// byte and the number of bytes readable from there (to the end of the loop
// that holds it). Body bytes beyond `size` are never read: fields they would
// fill are left zero. -1 null pointer or size below 2; -2 (getters) other tag.
int32_t TS_GetDescriptor(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetRAW(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetVideoStream(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetAudioStream(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetHierarchy(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetRegistration(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetDataStreamAlignment(TS_Descriptor* descriptor, const uint8_t* data,
                                             uint32_t size);
int32_t TS_Descriptor_GetTargetBackgroundGrid(TS_Descriptor* descriptor, const uint8_t* data,
                                              uint32_t size);
int32_t TS_Descriptor_GetVideoWindow(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetConditionalAccess(TS_Descriptor* descriptor, const uint8_t* data,
                                           uint32_t size);
int32_t TS_Descriptor_GetISO639Language(TS_Descriptor* descriptor, const uint8_t* data,
                                        uint32_t size);
int32_t TS_Descriptor_GetSystemClock(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetMultiplexBufferUtilization(TS_Descriptor* descriptor, const uint8_t* data,
                                                    uint32_t size);
int32_t TS_Descriptor_GetCopyright(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetMaximumBitrate(TS_Descriptor* descriptor, const uint8_t* data,
                                        uint32_t size);
int32_t TS_Descriptor_GetPrivateDataIndicator(TS_Descriptor* descriptor, const uint8_t* data,
                                              uint32_t size);
int32_t TS_Descriptor_GetSmoothingBuffer(TS_Descriptor* descriptor, const uint8_t* data,
                                         uint32_t size);
int32_t TS_Descriptor_GetSTD(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);
int32_t TS_Descriptor_GetIBP(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);

int32_t TS_Descriptor_Print(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintRAW(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintVideoStream(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintAudioStream(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintHierarchy(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintRegistration(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintDataStreamAlignment(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintTargetBackgroundGrid(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintVideoWindow(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintConditionalAccess(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintISO639Language(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintSystemClock(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintMultiplexBufferUtilization(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintCopyright(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintMaximumBitrate(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintPrivateDataIndicator(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintSmoothingBuffer(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintSTD(const TS_Descriptor* descriptor);
int32_t TS_Descriptor_PrintIBP(const TS_Descriptor* descriptor);

// Name tables. Each copies a NUL-terminated name into `buffer` (256 bytes at
// every call site); -1 for a null buffer.
int32_t TS_Section_TagToString(char* buffer, uint8_t table_id);
int32_t TS_Section_TagToString_ISO(char* buffer, uint8_t table_id);
int32_t TS_Header_StreamTypeToString(char* buffer, uint8_t stream_type);
int32_t TS_DescriptorTagToString(char* buffer, uint8_t tag);

// ---------------------------------------------------------------------------
// PMT
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// CAT, private sections, EMM and PCR
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// Stream contexts
// ---------------------------------------------------------------------------

struct TS_Data {
    uint64_t u64Size;
    uint64_t u64Pos;
    TS_PreSection tPATPreSection;
    TS_PAT tPAT;
    TS_PreSection tCATPreSection;
    TS_CAT tCAT;
    TS_PreSection ltPMTPreSection[TS_MAX_PMT_RECORDS];  // by position in tPAT.programs
    TS_PMT ltPMT[TS_MAX_PMT_RECORDS];
    TS_PCR ltPCR[TS_MAX_PMT_RECORDS];
    TS_PreSection tECMPreSection;
    TS_Section_Private tECM;
    TS_PreSection tEMMPreSection;
    TS_Section_Private tEMM;
    uint8_t lu8Buffer[TS_STREAM_BUFFER_SIZE];
    uint16_t u16PIDCount;
    uint16_t lu16PID[TS_PID_COUNT];         // in order of first appearance
    uint64_t lu64PIDSeen[TS_PID_COUNT / 64];  // one bit per PID listed
};

struct TS_SimpleData {
    uint64_t u64Size;
    uint64_t u64Pos;
    TS_PreSection tPATPreSection;
    TS_PAT tPAT;
    TS_PreSection tPMTPreSection;
    TS_PMT tPMT;
    TS_PreSection tSectionPreSection;
    TS_Section_Private tSection;
    uint8_t lu8Buffer[TS_STREAM_BUFFER_SIZE];
};

// Records kept for callers of the documented interface. No driver keeps its
// working state in them: every run has its own. The stream dump leaves its
// last tables in g_tData (and the file split its last PAT); the program list
// and the PMT-change drivers leave their last PAT in g_tSimpleData.tPAT.
// g_lu8Buffer is a block a caller may read into before TS_AddStream; nothing
// in the toolkit uses it.
extern uint8_t g_lu8Buffer[TS_APPEND_BLOCK_SIZE];
extern TS_Data g_tData;
extern TS_SimpleData g_tSimpleData;

int32_t TS_Initialise(TS_Data* data);
int32_t TS_InitialiseSimple(TS_SimpleData* data);
// Append `size` bytes to the context's stream buffer, dropping consumed bytes.
// -2 when the unconsumed bytes and the new ones exceed the buffer.
int32_t TS_AddStream(TS_Data* data, const uint8_t* bytes, uint64_t size);
int32_t TS_AddStreamSimple(TS_SimpleData* data, const uint8_t* bytes, uint64_t size);

// Progress of the file walks: called after every block read with the bytes
// read so far and the input's size (0 when unknown). None by default.
typedef void (*TS_ProgressCallback)(uint64_t u64Done, uint64_t u64Total, void* pUser);
void TS_SetProgressCallback(TS_ProgressCallback callback, void* pUser);

// ---------------------------------------------------------------------------
// Output names
// ---------------------------------------------------------------------------

// The output stem and the output path last formed by the file split, when it
// returns (the names are historical). Other runs keep theirs to themselves.
extern char g_strString1[TS_NAME_BUFFER_SIZE];
extern char g_strString2[TS_NAME_BUFFER_SIZE];

int32_t GetBaseFileName(char* dst, const char* src);

// ---------------------------------------------------------------------------
// Drivers
// ---------------------------------------------------------------------------

struct TS_PNSplitEntry {
    uint16_t u16ProgramNumber;
    uint16_t u16PMTPID;
    uint16_t u16Duplicate;
    uint64_t u64Revision;   // counts the PATs the program was missing from; never wraps
    int32_t nFD;            // the file's descriptor while open, else -1; for reading only
};

struct TS_PNSplitData {
    uint16_t u16Count;
    TS_PNSplitEntry ltEntry[TS_SPLIT_MAX_ENTRIES];
};

extern TS_PNSplitData g_tPNSplitData;

// Splits `path` into one file per program beside it. Statuses: the table of
// driver results above.
int32_t TS_ProgramSplitFile(const char* path);

// The splits of one command: the files they write and the inputs they read.
// A split that shares a run never overwrites a file another split of the run
// wrote, nor a file the run protects as an input (opaque; one per command).
struct TS_SplitRun;
TS_SplitRun* TS_SplitRun_Open(void);  // null when memory is short
// Protects the regular file at `path` (by device and inode, whatever path
// names it later) from being opened as an output by the run's splits.
int32_t TS_SplitRun_ProtectInput(TS_SplitRun* run, const char* path);
// 1 when `path` names (through whatever path) a file the run has written or
// protects, 0 when not, -1 for a null argument.
int32_t TS_SplitRun_Holds(const TS_SplitRun* run, const char* path);
void TS_SplitRun_Close(TS_SplitRun* run);

// What a namer is asked for: the name of the file that a program's
// (duplicate's, revision's) packets begin at input offset u64InputOffset.
struct TS_OutputNameRequest {
    uint16_t u16ProgramNumber;
    uint16_t u16Duplicate;
    uint64_t u64Revision;
    uint64_t u64InputOffset;  // of the packet that opens the file
    const char* strBase;      // the input's file name without its extension, or the base name given
};

// Writes the file's name (without folder and extension, NUL-terminated, at
// most `size` bytes with the NUL) into `name`; 0, or -1 for the default name.
// The splitter makes it safe: '/', control characters and a leading '.'
// become '_', it is cut at a UTF-8 character boundary to fit 255 bytes with
// its extension, and a name a file of the run already has gets "-2", "-3",
// ... before the extension.
typedef int32_t (*TS_OutputNamer)(void* pUser, const TS_OutputNameRequest* request, char* name, uint32_t size);
constexpr uint32_t TS_FILE_NAME_MAX = 255;  // bytes of a file name, with its extension

// Where the splitter writes and which programs get files.
struct TS_SplitOptions {
    const char* strOutputDir;     // null: beside the input; else this existing folder
    const uint16_t* lu16Programs; // the program numbers that get files (0 names none)...
    uint32_t u32ProgramCount;     // ...of which there are this many; 0: every program
    uint8_t u8ContinueRun;        // deprecated and ignored: share a TS_SplitRun (pRun) instead
    uint8_t u8ServiceInformation; // 1: each file also carries its own SDT, EIT, TDT/TOT and NIT (--si)
    TS_SplitRun* pRun;            // the command's run; null: the split is a run of its own
    const char* strBaseName;      // null: outputs are named from the input's file name; else from
                                  // this name, as it is (in the output folder or the input's)
    TS_OutputNamer pfNamer;       // null: <base>_<program>_<duplicate>_<revision>
    void* pNamerUser;
    uint8_t u8CleanStart;         // 1: each file begins where a decoder can (--clean-start; see
                                  // "Random access points" below); 0: as the input comes
};

// TS_ProgramSplitFile with options: a selected program's file has the name
// and the bytes the full split gives it. -3 after "Error: Failed open DIR."
// when the output folder is not a folder. Outputs are regular files: a name
// taken by a link, a FIFO, a device, a folder or a file this run has written
// fails with "Error: Failed open %s.". A program asked for that no PAT lists:
// "Error: no program N in <path>.", -9, the other programs written. An input
// that is not a regular file (a pipe, a device) has its outputs named in the
// current folder, unless strOutputDir names one. When it returns,
// g_tPNSplitData, g_tData.tPAT, g_strString1 and g_strString2 show the run.
int32_t TS_ProgramSplitFileWith(const char* path, const TS_SplitOptions* options);

// The splitter as an engine that a caller feeds (a recorder, a network
// receiver): every splitter is a run of its own, with nothing shared, so
// that splitters in different threads do not touch each other.
//
// Open: outputs are named from `basePath` as the file split names them from
// its input path (beside it, or in options->strOutputDir), with the same
// options, which are copied. Null, after the file split's message, when the
// options cannot be met (a missing folder, a name too long) or memory is short.
// Feed: takes any number of bytes; any chunking of the same bytes gives the
// same files, byte for byte, as the file split. The packets the bytes
// complete are in the files, as whole packets, when it returns. 0, or the
// first failure (later calls return it again, and take nothing).
// Close: ends the input as the end of a file does, closes every file, frees
// the splitter and returns the status TS_ProgramSplitFileWith gives for the
// same bytes.
struct TS_Splitter;  /* opaque */
TS_Splitter* TS_Splitter_Open(const char* basePath, const TS_SplitOptions* options);
int32_t TS_Splitter_Feed(TS_Splitter* splitter, const uint8_t* bytes, uint64_t size);
int32_t TS_Splitter_Close(TS_Splitter* splitter);
// Feeds what the open descriptor `fd` delivers up to its end (a file, a pipe,
// a device), read straight into the splitter's buffer; outputs never
// overwrite the file it reads. The input goes on: Close ends it. 0, or the
// first failure (TS_ERR_READ when a read failed, TS_ERR_INTERRUPTED after
// TS_RequestStop); Close then reports it with the file split's message.
int32_t TS_Splitter_FeedFrom(TS_Splitter* splitter, int fd);
// Hands out the packets the bytes fed so far decide, judged at once on the
// evidence there is rather than on bytes yet to come, and writes them: for a
// caller whose live input has paused. Statuses as Feed.
int32_t TS_Splitter_Settle(TS_Splitter* splitter);
// The input offset behind the last packet the splitter has handed out.
uint64_t TS_Splitter_InputEnd(const TS_Splitter* splitter);
// Closes the files and frees the splitter without ending the input or saying
// anything: for a caller whose input could not be had after all.
void TS_Splitter_Abandon(TS_Splitter* splitter);
// Gives program `program` files too, from the next PAT fed that lists it on:
// a caller that reads ahead (for service names) chooses a program before
// the splitter reaches the PAT that announces it, and so gets the file the
// program's number alone gives. A splitter opened for every program then
// writes only those added. -1 for program 0, which the program list of
// TS_SplitOptions may hold alone to choose none until some are added.
int32_t TS_Splitter_AddProgram(TS_Splitter* splitter, uint16_t program);

constexpr uint32_t TS_PRINT_PACKET = 0x001;
constexpr uint32_t TS_PRINT_PAT = 0x002;
constexpr uint32_t TS_PRINT_CAT = 0x004;
constexpr uint32_t TS_PRINT_PMT = 0x008;
constexpr uint32_t TS_PRINT_PRIVATE = 0x010;
constexpr uint32_t TS_PRINT_EMM = 0x020;
constexpr uint32_t TS_PRINT_ES = 0x040;
constexpr uint32_t TS_PRINT_PIDLIST = 0x080;
constexpr uint32_t TS_PRINT_PCR = 0x100;

int32_t TS_Print(const char* path, uint32_t flags);

struct TS_ProgramList {
    uint16_t u16Count;
    uint16_t lu16ProgramNumber[TS_PAT_MAX_PROGRAMS];
    uint16_t lu16PMTPID[TS_PAT_MAX_PROGRAMS];
};

int32_t TS_GetProgramList(TS_ProgramList* list, const char* path);

constexpr uint32_t TS_SERVICE_NAME_SIZE = 255;

// A service as the SDT actual (table 0x42 on PID 0x11) describes it, from its
// service descriptor; names as broadcast, not decoded.
struct TS_ServiceInfo {
    uint16_t service_id;
    uint8_t service_type;
    uint8_t provider_name_length;
    uint8_t provider_name[TS_SERVICE_NAME_SIZE];
    uint8_t service_name_length;
    uint8_t service_name[TS_SERVICE_NAME_SIZE];
};

struct TS_ServiceList {
    uint16_t u16Count;
    TS_ServiceInfo ltService[TS_PAT_MAX_PROGRAMS];
    uint8_t u8ISDB;  // an ISDB stream (ARIB original_network_id): names are ARIB STD-B24 text, else DVB text
};

// TS_GetProgramList, and in the same pass the service of every service_id
// that an SDT actual section passing its CRC_32 lists, as the last such
// section has it.
int32_t TS_GetProgramServices(TS_ProgramList* list, TS_ServiceList* services, const char* path);
// The same for live input: on a pipe, a FIFO or a device, it returns as soon
// as a whole PAT, the PMT of every program it lists and an SDT actual naming
// them all have arrived, or after `u32TimeoutMs` with what has arrived by then
// (0: at the end of the input). A regular file is read to its end.
int32_t TS_GetProgramServicesLive(TS_ProgramList* list, TS_ServiceList* services, const char* path,
                                  uint32_t u32TimeoutMs);

// ---------------------------------------------------------------------------
// Services: what the service information says of each program, and when
// ---------------------------------------------------------------------------

constexpr uint32_t TS_WATCH_MAX_SERVICES = 256;  // programs and services one watch follows
constexpr uint32_t TS_WATCH_HISTORY = 8;         // descriptions and events kept per service

// How the names of a service are written: DVB text (EN 300 468 Annex A),
// ARIB STD-B24 text (ISDB), or UTF-16BE (an ATSC virtual channel's short_name).
constexpr uint8_t TS_TEXT_DVB = 0;
constexpr uint8_t TS_TEXT_ARIB = 1;
constexpr uint8_t TS_TEXT_UTF16 = 2;

// What a program is: from the service type an SDT or VCT gives, else from
// its PMT (video: tv; audio without video: radio; anything else: data).
constexpr uint8_t TS_SERVICE_UNKNOWN = 0;
constexpr uint8_t TS_SERVICE_TV = 1;
constexpr uint8_t TS_SERVICE_RADIO = 2;
constexpr uint8_t TS_SERVICE_DATA = 3;

// "video", "audio", "subtitles" or "data", for TS_StreamSummary::u8Kind.
const char* TS_StreamKindName(uint8_t u8Kind);

struct TS_StreamSummary {
    uint16_t u16PID;
    uint8_t u8StreamType;
    uint8_t u8Kind;        // 0 video, 1 audio, 2 subtitles, 3 data
    char strCodec[16];     // "h264", "mp2", "ac3", "dvb", ...
    char strLanguage[4];   // ISO 639-2, "" when none
};

struct TS_ServiceFacts {
    uint16_t u16ProgramNumber;
    uint8_t u8Described;       // 1: an SDT actual or a VCT describes the service
    uint8_t u8Text;            // TS_TEXT_...: how the name and provider are written
    uint8_t u8ServiceType;     // as the SDT or VCT gives it
    uint8_t u8Type;            // TS_SERVICE_...
    uint8_t u8Virtual;         // 1: an ATSC virtual channel u16Major.u16Minor
    uint16_t u16Major;
    uint16_t u16Minor;
    uint8_t u8NameLength;
    uint8_t lu8Name[TS_SERVICE_NAME_SIZE];
    uint8_t u8ProviderLength;
    uint8_t lu8Provider[TS_SERVICE_NAME_SIZE];
    uint8_t u8HasEvent;        // 1: EIT present/following names the event present
    uint8_t u8EventText;       // TS_TEXT_...: how the title is written
    uint8_t u8TitleLength;
    uint8_t lu8Title[TS_SERVICE_NAME_SIZE];
    char strStart[16];         // the event's start as broadcast: "YYYYMMDD-HHMM"
    uint8_t u8PMTSeen;         // 1: the streams below are those of the program's last PMT
    uint8_t u8StreamCount;
    TS_StreamSummary ltStream[TS_PMT_MAX_STREAMS];
};

// What a watch waits for before it calls the programs of the last PAT settled.
constexpr uint32_t TS_WATCH_NAMES = 1;  // each service's description, or a whole SDT or VCT without it
constexpr uint32_t TS_WATCH_EVENT = 2;  // each service's present event, unless its SDT entry says none comes
constexpr uint32_t TS_WATCH_TYPE = 4;   // each program's type: its description or its PMT
constexpr uint32_t TS_WATCH_STREAMS = 8;  // each program's PMT
// With the above: a program counts as described only by a description that
// lists it; a whole SDT or VCT that leaves it out does not settle it.
constexpr uint32_t TS_WATCH_LISTED = 16;

// A watch reads the PAT, the PMTs, the SDT actual (or SIT), the ATSC TVCT/CVCT and
// the EIT present/following actual of a stream fed to it in any chunking,
// and keeps what each said and at which input offset (opaque; one per input).
struct TS_ServiceWatch;
TS_ServiceWatch* TS_ServiceWatch_Open(void);  // null when memory is short
// 0, or TS_ERR_INTERRUPTED after TS_RequestStop.
int32_t TS_ServiceWatch_Feed(TS_ServiceWatch* watch, const uint8_t* bytes, uint64_t size);
// Ends the input: what is left is taken as the end of a file is.
void TS_ServiceWatch_End(TS_ServiceWatch* watch);
void TS_ServiceWatch_Close(TS_ServiceWatch* watch);
// The programs of the last whole PAT, in PAT order, the network entry left
// out, with their PMT PIDs (`pmtPIDs` may be null); returns how many there
// are (up to `capacity` copied).
uint32_t TS_ServiceWatch_Programs(const TS_ServiceWatch* watch, uint16_t* programs, uint16_t* pmtPIDs,
                                  uint32_t capacity);
// What the service information said of `program` at input offset `offset`:
// the description and event in force there, or, where none had come yet,
// the first that came after (UINT64_MAX: the last). -1 when the watch knows
// nothing of the program.
int32_t TS_ServiceWatch_Facts(const TS_ServiceWatch* watch, uint16_t program, uint64_t offset,
                              TS_ServiceFacts* facts);
// 1 when every program of the last whole PAT has what `needs` (TS_WATCH_...)
// asks for, or will not have it, or has been given up on; else 0.
int32_t TS_ServiceWatch_Settled(const TS_ServiceWatch* watch, uint32_t needs);
// Stops waiting for the programs the last whole PAT lists.
void TS_ServiceWatch_GiveUp(TS_ServiceWatch* watch);
// The stream's clock: the last PCR (27 MHz, base * 300 + extension) of the
// first PID that carried one. 0, or -1 when no PCR has come yet.
int32_t TS_ServiceWatch_Clock(const TS_ServiceWatch* watch, uint64_t* clock);
// Reads `path` into the watch, as the live program list does: a pipe, a
// FIFO or a device until `needs` is settled or after `u32TimeoutMs`; a
// regular file to its end. Statuses as TS_GetProgramList.
int32_t TS_ServiceWatch_ReadInput(TS_ServiceWatch* watch, const char* path, uint32_t needs, uint32_t u32TimeoutMs);

int32_t TS_ProgramSplitStream(const char* destPath, const char* srcPath, uint16_t pmtPID);
// The same for the program of `programNumber`, whose PMT PID each PAT names;
// -9 when no PAT announces it.
int32_t TS_ProgramSplitStreamByNumber(const char* destPath, const char* srcPath, uint16_t programNumber);

struct TS_ExtractOptions {
    uint8_t u8ByNumber;            // 1: the program of u16ProgramNumber; 0: that of u16PMTPID
    uint16_t u16ProgramNumber;
    uint16_t u16PMTPID;
    uint8_t u8ServiceInformation;  // 1: the file also carries its SDT, EIT, TDT/TOT and NIT (--si)
};
// Both of the above, and service information.
int32_t TS_ExtractProgram(const char* destPath, const char* srcPath, const TS_ExtractOptions* options);

// Asks the driver at work to stop at the next packet boundary: it closes its
// outputs, each holding whole packets, and returns -10. Safe in a signal
// handler. The request stays: a driver started after it stops at once.
void TS_RequestStop(void);
// Withdraws the request, so that a caller may finish work a stop would lose
// (input it held back); a later TS_RequestStop stops again.
void TS_WithdrawStop(void);

// One entry of a PMT-change table. TS_CheckPMTSplit fills one per run of
// identical PMTs (CRC, earlier runs of that PMT, bytes the run adds);
// TS_PMTSplitFile keeps one per distinct PMT, a file each, internally.
struct TS_PMTSplitEntry {
    uint32_t u32PMTCRC;
    uint16_t u16Occurrence;
    uint64_t u64Size;
    int32_t nFD;  // unused by the survey (0)
};

struct TS_PMTSplitData {
    uint16_t u16Count;
    TS_PMTSplitEntry ltEntry[TS_PMT_SPLIT_MAX_ENTRIES];
};

int32_t TS_CheckPMTSplit(TS_PMTSplitData* table, const char* path);
int32_t TS_PMTSplitFile(const char* path, uint8_t splitAll, uint32_t pmtCRC, const char* destPath);

// ---------------------------------------------------------------------------
// Stream check and split report
// ---------------------------------------------------------------------------

// What a PID carries, as the tables of the stream name it.
constexpr uint8_t TS_ROLE_UNKNOWN = 0;
constexpr uint8_t TS_ROLE_PAT = 1;
constexpr uint8_t TS_ROLE_CAT = 2;
constexpr uint8_t TS_ROLE_PMT = 3;        // of program u16ProgramNumber
constexpr uint8_t TS_ROLE_VIDEO = 4;      // the elementary stream roles: of program u16ProgramNumber
constexpr uint8_t TS_ROLE_AUDIO = 5;
constexpr uint8_t TS_ROLE_SUBTITLES = 6;
constexpr uint8_t TS_ROLE_DATA = 7;
constexpr uint8_t TS_ROLE_PCR = 8;        // a program's PCR PID that is none of its streams
constexpr uint8_t TS_ROLE_ECM = 9;        // a CA PID of a PMT
constexpr uint8_t TS_ROLE_EMM = 10;       // a CA PID of the CAT
constexpr uint8_t TS_ROLE_SI = 11;        // service information: NIT, SDT, EIT, TDT, PSIP, ...
constexpr uint8_t TS_ROLE_NULL = 12;

constexpr uint32_t TS_CHECK_CODEC_SIZE = 16;
constexpr uint32_t TS_CHECK_PROGRAM_MAX_PIDS = 64;  // PMT, PCR, CA and stream PIDs of one program

// The figures of one PID. A PID that several programs share is named by the
// first program whose tables name it.
struct TS_CheckPID {
    uint8_t u8Role;                    // TS_ROLE_...
    uint16_t u16ProgramNumber;         // for the roles of a program
    char strCodec[TS_CHECK_CODEC_SIZE];  // of an elementary stream ("h264", "mp2", ...), else ""
    char strLanguage[4];
    uint64_t u64Packets;
    uint64_t u64CCErrors;
    uint64_t u64LostPackets;
    uint64_t u64Duplicates;
    uint64_t u64TEI;
    uint64_t u64Scrambled;
    uint64_t u64PCRs;
    uint64_t u64PCRDiscontinuities;
    uint64_t u64PCRDuration;           // 27 MHz: the steps between its PCRs that are no discontinuity
};

struct TS_CheckProgram {
    uint16_t u16ProgramNumber;
    uint16_t u16PMTPID;
    uint16_t u16PCRPID;                // 0x1FFF until a PMT names one, or when it names none
    uint8_t u8HasPMT;                  // a PMT of the program has been read
    uint16_t u16PIDCount;
    uint16_t lu16PID[TS_CHECK_PROGRAM_MAX_PIDS];  // PMT PID first, then as its last PMT names them
    uint8_t u8ServiceNameLength;       // as broadcast (DVB or ARIB text, see TS_CheckResult.u8ISDB)
    uint8_t lu8ServiceName[TS_SERVICE_NAME_SIZE];
    uint64_t u64Duration;              // 27 MHz: that of its PCR PID
    // Sums over its PIDs.
    uint64_t u64Packets;
    uint64_t u64CCErrors;
    uint64_t u64LostPackets;
    uint64_t u64TEI;
    uint64_t u64Scrambled;
};

// The whole check of one input. About 1 MB: allocate it.
struct TS_CheckResult {
    uint32_t u32PacketSize;            // 188, 192 or 204
    uint64_t u64Packets;
    uint64_t u64SkippedBytes;          // passed over to regain sync
    uint64_t u64Bytes;                 // input bytes read
    uint64_t u64Duration;              // 27 MHz: the longest PCR duration of any PID
    uint8_t u8ISDB;
    uint16_t u16ProgramCount;          // every program a whole PAT announced, in order of first announcement
    TS_CheckProgram ltProgram[TS_PAT_MAX_PROGRAMS];
    TS_CheckPID ltPID[TS_PID_COUNT];
};

// A point of a program's line in a bitrate chart: the bytes of its PIDs
// since its last sample, at the end of each second of its PCR duration
// (u8Timed 1, u64Time in 27 MHz units), or for a program without PCR every
// TS_CHECK_UNTIMED_STEP input bytes (u8Timed 0, u64Time the input offset);
// or a continuity error on one of its PIDs, at the same kind of time.
constexpr uint8_t TS_SAMPLE_BYTES = 0;
constexpr uint8_t TS_SAMPLE_CC_ERROR = 1;
constexpr uint64_t TS_CHECK_UNTIMED_STEP = 1 << 20;
struct TS_CheckSample {
    uint8_t u8Kind;
    uint16_t u16Program;               // index in TS_CheckResult.ltProgram
    uint8_t u8Timed;
    uint64_t u64Time;
    uint64_t u64Bytes;
};
typedef void (*TS_CheckSampleCallback)(const TS_CheckSample* sample, void* pUser);

// Reads `path` to its end (a file, a pipe, a device) and fills `result`;
// `onSample` (may be null) receives the chart's points as they come. Statuses:
// the table of driver results above.
int32_t TS_CheckStream(TS_CheckResult* result, const char* path, TS_CheckSampleCallback onSample, void* pUser);

constexpr uint32_t TS_SPLIT_REPORT_MAX_FILES = 256;
constexpr uint32_t TS_SPLIT_REPORT_PATH_SIZE = 4096;

// One output file of a split, over the stretch of input it took packets from.
struct TS_SplitFileReport {
    char strPath[TS_SPLIT_REPORT_PATH_SIZE];
    uint16_t u16ProgramNumber;
    uint16_t u16Duplicate;
    uint64_t u64Revision;
    uint8_t u8ServiceNameLength;       // from the last SDT actual naming the program, as broadcast
    uint8_t lu8ServiceName[TS_SERVICE_NAME_SIZE];
    uint64_t u64Packets;               // in the file, the rebuilt PATs included
    uint64_t u64Bytes;
    uint64_t u64FirstOffset;           // input offset of the packet whose PAT opened the file
    uint64_t u64LastOffset;            // input offset of the last byte of the last packet it took
    uint64_t u64Duration;              // 27 MHz: PCR duration of its first PID with PCRs
    uint64_t u64CCErrors;              // of the packets it took
    uint64_t u64TEI;
    uint64_t u64Scrambled;
    uint16_t u16PIDCount;
    uint16_t lu16PID[TS_CHECK_PROGRAM_MAX_PIDS];  // PID 0 and the PIDs of the packets it took, ascending
};

struct TS_SplitReport {
    uint8_t u8ISDB;
    uint32_t u32Count;
    uint32_t u32Dropped;               // files beyond TS_SPLIT_REPORT_MAX_FILES, not reported
    TS_SplitFileReport ltFile[TS_SPLIT_REPORT_MAX_FILES];
};

// Has the splitter fill `report` (owned by the caller, cleared here) with
// its files, as they are opened, take packets and close; complete once
// TS_Splitter_Close has returned, also after TS_RequestStop. Call before the
// first Feed. -12 when the counters' memory cannot be had.
int32_t TS_Splitter_SetReport(TS_Splitter* splitter, TS_SplitReport* report);

// ---------------------------------------------------------------------------
// Random access points
// ---------------------------------------------------------------------------

// Where a decoder can start in a video stream. A detector is fed one PID's
// packets in input order and judges each PES as its packets come. A PES is
// a random access point when the packet that begins it sets
// random_access_indicator, or when its payload shows, before its first coded
// picture data:
//   MPEG-1 and MPEG-2 video (stream_type 0x01, 0x02): a sequence header;
//   H.264 (0x1B): an IDR picture, or an SPS, a PPS and a recovery point SEI
//                 with recovery_frame_cnt 0 before a picture of another kind;
//   HEVC (0x24): an IRAP picture (nal_unit_type 16 to 21) behind a VPS, an
//                SPS and a PPS.
// Start codes and PES headers may span packets. Scrambled payload (by the
// packet or by the PES header), and every other stream type, is judged by
// random_access_indicator alone. A packet with transport_error_indicator
// ends the reading of its PES with TS_ACCESS_NONE.
//
//     TS_AccessPointDetector detector;
//     TS_AccessPoint_Initialise(&detector, 0x1B);
//     for (each packet of the PID)
//         if (TS_AccessPoint_Feed(&detector, packet) == TS_ACCESS_POINT) ...
//         // a decoder can start at the last packet with payload_unit_start_indicator
constexpr int32_t TS_ACCESS_NONE = 0;     // no PES begun yet, or the one begun last is no access point
constexpr int32_t TS_ACCESS_PENDING = 1;  // the PES begun last is still being read
constexpr int32_t TS_ACCESS_POINT = 2;    // the PES begun last is a random access point

constexpr uint32_t TS_ACCESS_PES_HEADER_SIZE = 9;  // PES header bytes read before its optional fields

// Every field is the detector's own; callers read only through Feed.
struct TS_AccessPointDetector {
    uint8_t u8Rule;            // how the payload is read, from the stream_type (0: it is not)
    uint8_t u8Verdict;         // TS_ACCESS_..., of the PES begun last
    uint8_t u8Stage;           // PES header, its optional fields, or elementary stream bytes
    uint8_t u8HeaderBytes;     // of lu8Header, read
    uint8_t lu8Header[TS_ACCESS_PES_HEADER_SIZE];
    uint8_t u8SkipBytes;       // optional PES header bytes still to pass over
    uint8_t u8Zeros;           // zero bytes just read, up to 2: a start code prefix in the making
    uint8_t u8InUnit;          // 1 while the bytes behind a start code matter to the rule
    uint32_t u32UnitBytes;     // bytes read behind the current start code
    uint8_t u8Seen;            // what the rule has met in this PES (parameter sets, messages)
    uint8_t u8RBSPZeros;       // zero bytes just read inside a message (emulation prevention)
    uint8_t u8MessageStage;    // inside an SEI: its type, its size, its payload
    uint32_t u32MessageType;
    uint32_t u32MessageValue;  // the type or size being summed
    uint32_t u32MessageLeft;   // payload bytes of the message still to come
};

// Starts a detector for a PID whose PMT entry has `stream_type`. -1 for null.
int32_t TS_AccessPoint_Initialise(TS_AccessPointDetector* detector, uint8_t stream_type);
// Takes the PID's next 188-byte packet and returns the verdict on the PES
// begun last (perhaps by this packet): TS_ACCESS_PENDING until its payload
// tells, then TS_ACCESS_POINT or TS_ACCESS_NONE, which further packets of
// that PES do not change. -1 for null, -2 when the packet does not begin
// with 0x47 (the verdict stays).
int32_t TS_AccessPoint_Feed(TS_AccessPointDetector* detector, const uint8_t* packet);

// A splitter opened with TS_SplitOptions.u8CleanStart 1 begins every file
// where a decoder can: after its rebuilt PAT, the packets that carried its
// program's current PMT (and, with u8ServiceInformation, its rebuilt SDT and
// last EIT present/following sections), then the program's first video
// stream in PMT order from its first random access point, its PCR PID (when
// it carries no stream) from that point, and every other PID of the program
// from its first packet with payload_unit_start_indicator at or after it. A
// program without video starts at the first PES start of any of its streams.
// With no access point within 10 s of the program's PCR, the file starts at
// its PMT and takes every packet from there, after "Warning: no random
// access point in program N within 10 s; its file starts at its PMT." Only
// the sections to repeat, and the packets of the program since the video
// PES being judged began (64 at most), are held.

#endif  // RIVULET_TS_H
