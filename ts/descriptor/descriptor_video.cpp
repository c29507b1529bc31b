// Descriptors of the coded picture and sound: video stream, audio stream,
// hierarchy, target background grid, video window, IBP and data stream
// alignment.
#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_body.h"
#include "ts/packet/byte_reader.h"

using rivulet::ByteReader;
using rivulet::DescriptorBody;

namespace {

// Target background grid and video window share one 32-bit layout: two
// 14-bit values followed by a 4-bit one.
struct GridFields {
    uint16_t horizontal;
    uint16_t vertical;
    uint8_t low_nibble;
};

GridFields readGrid(ByteReader& body) {
    uint32_t bits = body.u32();
    return GridFields{uint16_t(bits >> 18), uint16_t((bits >> 4) & 0x3FFF), uint8_t(bits & 0x0F)};
}

}  // namespace

int32_t TS_Descriptor_GetVideoStream(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_VIDEO_STREAM);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    TS_Descriptor_VideoStream& v = descriptor->video_stream;
    uint8_t flags = body.u8();
    v.multiple_frame_rate_flag = flags >> 7;
    v.frame_rate_code = (flags >> 3) & 0x0F;
    v.MPEG_1_only_flag = (flags >> 2) & 1;
    v.constrained_parameter_flag = (flags >> 1) & 1;
    v.still_picture_flag = flags & 1;
    // An MPEG-1 only stream carries no profile, chroma or extension byte.
    if (v.MPEG_1_only_flag) return 0;
    v.profile_and_level_indication = body.u8();
    uint8_t format = body.u8();
    v.chroma_format = format >> 6;
    v.frame_rate_extension_flag = (format >> 5) & 1;
    v.reserved = format & 0x1F;
    return 0;
}

int32_t TS_Descriptor_GetAudioStream(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_AUDIO_STREAM);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    TS_Descriptor_AudioStream& a = descriptor->audio_stream;
    uint8_t flags = body.u8();
    a.free_format_flag = flags >> 7;
    a.ID = (flags >> 6) & 1;
    a.layer = (flags >> 4) & 3;
    a.variable_rate_audio_indicator = (flags >> 3) & 1;
    a.reserved = flags & 0x07;
    return 0;
}

int32_t TS_Descriptor_GetHierarchy(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_HIERARCHY);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    TS_Descriptor_Hierarchy& h = descriptor->hierarchy;
    uint8_t type = body.u8();
    h.reserved1 = type >> 4;
    h.hierarchy_type = type & 0x0F;
    uint8_t layer = body.u8();
    h.reserved2 = layer >> 6;
    h.hierarchy_layer_index = layer & 0x3F;
    uint8_t embedded = body.u8();
    h.reserved3 = embedded >> 6;
    h.hierarchy_embedded_layer_index = embedded & 0x3F;
    uint8_t channel = body.u8();
    h.reserved4 = channel >> 6;
    h.hierarchy_channel = channel & 0x3F;
    return 0;
}

int32_t TS_Descriptor_GetDataStreamAlignment(TS_Descriptor* descriptor, const uint8_t* data,
                                             uint32_t size) {
    DescriptorBody start =
        rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_DATA_STREAM_ALIGNMENT);
    if (start.status != 0) return start.status;
    descriptor->data_stream_alignment.alignment_type = start.reader.u8();
    return 0;
}

int32_t TS_Descriptor_GetTargetBackgroundGrid(TS_Descriptor* descriptor, const uint8_t* data,
                                              uint32_t size) {
    DescriptorBody start =
        rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_TARGET_BACKGROUND_GRID);
    if (start.status != 0) return start.status;
    GridFields grid = readGrid(start.reader);
    TS_Descriptor_TargetBackgroundGrid& g = descriptor->target_background_grid;
    g.horizontal_size = grid.horizontal;
    g.vertical_size = grid.vertical;
    g.aspect_ratio_information = grid.low_nibble;
    return 0;
}

int32_t TS_Descriptor_GetVideoWindow(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_VIDEO_WINDOW);
    if (start.status != 0) return start.status;
    GridFields grid = readGrid(start.reader);
    TS_Descriptor_VideoWindow& w = descriptor->video_window;
    w.horizontal_offset = grid.horizontal;
    w.vertical_offset = grid.vertical;
    w.window_priority = grid.low_nibble;
    return 0;
}

int32_t TS_Descriptor_GetIBP(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_IBP);
    if (start.status != 0) return start.status;
    uint16_t bits = start.reader.u16();
    TS_Descriptor_IBP& ibp = descriptor->ibp;
    ibp.closed_gop_flag = uint8_t(bits >> 15);
    ibp.identical_gop_flag = (bits >> 14) & 1;
    ibp.max_gop_length = bits & 0x3FFF;
    return 0;
}
