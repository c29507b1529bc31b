// Descriptors of an elementary stream's coding: video stream, audio stream,
// hierarchy, data stream alignment and IBP.
#include <cstdio>

#include "rivulet/descriptors.h"
#include "ts/core/bounded_count.h"
#include "ts/core/byte_reader.h"
#include "ts/descriptor/descriptor_body.h"

using rivulet::ByteReader;

int32_t TS_Descriptor_GetVideoStream(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_VIDEO_STREAM, [&](ByteReader& body) {
        TS_Descriptor_VideoStream& v = descriptor->video_stream;
        uint8_t flags = body.u8();
        v.multiple_frame_rate_flag = flags >> 7;
        v.frame_rate_code = (flags >> 3) & 0x0F;
        v.MPEG_1_only_flag = (flags >> 2) & 1;
        v.constrained_parameter_flag = (flags >> 1) & 1;
        v.still_picture_flag = flags & 1;
        // An MPEG-1 only stream carries no profile, chroma or extension byte.
        if (v.MPEG_1_only_flag) return;
        v.profile_and_level_indication = body.u8();
        uint8_t format = body.u8();
        v.chroma_format = format >> 6;
        v.frame_rate_extension_flag = (format >> 5) & 1;
        v.reserved = format & 0x1F;
    });
}

int32_t TS_Descriptor_PrintVideoStream(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_VIDEO_STREAM, [&] {
        const TS_Descriptor_VideoStream& d = descriptor->video_stream;
        std::printf("[D Video stream] MFRF:%d FRC:%d CPF:%d SPF:%d\n", d.multiple_frame_rate_flag,
                    d.frame_rate_code, d.constrained_parameter_flag, d.still_picture_flag);
        // An MPEG-1 only stream carries no profile, chroma or frame rate extension.
        if (d.MPEG_1_only_flag == 0) {
            std::printf("  PALI:%d CF:%d FREF:%d R:%d\n", d.profile_and_level_indication,
                        d.chroma_format, d.frame_rate_extension_flag, d.reserved);
        }
    });
}

int32_t TS_Descriptor_GetAudioStream(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_AUDIO_STREAM, [&](ByteReader& body) {
        TS_Descriptor_AudioStream& a = descriptor->audio_stream;
        uint8_t flags = body.u8();
        a.free_format_flag = flags >> 7;
        a.ID = (flags >> 6) & 1;
        a.layer = (flags >> 4) & 3;
        a.variable_rate_audio_indicator = (flags >> 3) & 1;
        a.reserved = flags & 0x07;
    });
}

int32_t TS_Descriptor_PrintAudioStream(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_AUDIO_STREAM, [&] {
        const TS_Descriptor_AudioStream& d = descriptor->audio_stream;
        std::printf("[D Audio Stream] FFF:%d I:%d L:%d VRAI:%d R:%d\n", d.free_format_flag, d.ID,
                    d.layer, d.variable_rate_audio_indicator, d.reserved);
    });
}

int32_t TS_Descriptor_GetHierarchy(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_HIERARCHY, [&](ByteReader& body) {
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
    });
}

int32_t TS_Descriptor_PrintHierarchy(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_HIERARCHY, [&] {
        const TS_Descriptor_Hierarchy& d = descriptor->hierarchy;
        std::printf("[D Hierarchy] R1:%d HT:%d R2:%d HLI:%d R3:%d HELI:%d R4:%d HC:%d\n",
                    d.reserved1, d.hierarchy_type, d.reserved2, d.hierarchy_layer_index, d.reserved3,
                    d.hierarchy_embedded_layer_index, d.reserved4, d.hierarchy_channel);
    });
}

int32_t TS_Descriptor_GetDataStreamAlignment(TS_Descriptor* descriptor, const uint8_t* data,
                                             uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_DATA_STREAM_ALIGNMENT, [&](ByteReader& body) {
        descriptor->data_stream_alignment.alignment_type = body.u8();
    });
}

int32_t TS_Descriptor_PrintDataStreamAlignment(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_DATA_STREAM_ALIGNMENT, [&] {
        std::printf("[D Data stream alignment] AT:%d\n", descriptor->data_stream_alignment.alignment_type);
    });
}

int32_t TS_Descriptor_GetIBP(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_IBP, [&](ByteReader& body) {
        uint16_t bits = body.u16();
        TS_Descriptor_IBP& ibp = descriptor->ibp;
        ibp.closed_gop_flag = uint8_t(bits >> 15);
        ibp.identical_gop_flag = (bits >> 14) & 1;
        ibp.max_gop_length = bits & 0x3FFF;
    });
}

int32_t TS_Descriptor_PrintIBP(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_IBP, [&] {
        const TS_Descriptor_IBP& d = descriptor->ibp;
        std::printf("[D IBP] CGF:%d IGF:%d MGL:%d\n", d.closed_gop_flag, d.identical_gop_flag,
                    d.max_gop_length);
    });
}
