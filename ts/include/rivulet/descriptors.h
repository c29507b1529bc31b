// Rivulet toolkit: the seventeen descriptors of ISO/IEC 13818-1 (tags 2 to
// 18), parsed into TS_Descriptor by TS_GetDescriptor and printed by the
// TS_Descriptor_Print functions; the name tables of tags, stream types and
// table IDs (with those of DVB and ARIB). Getters and printers of one tag
// return TS_ERR_WRONG_TAG for a descriptor of another.
#ifndef RIVULET_DESCRIPTORS_H
#define RIVULET_DESCRIPTORS_H

#include "rivulet/common.h"

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

#endif  // RIVULET_DESCRIPTORS_H
