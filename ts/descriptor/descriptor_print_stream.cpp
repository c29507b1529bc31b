// Printers of the descriptors that describe an elementary stream's coding:
// video stream, audio stream, hierarchy and data stream alignment.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_print.h"

using rivulet::checkDescriptorTag;

int32_t TS_Descriptor_PrintVideoStream(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_VIDEO_STREAM);
    if (status != 0) return status;
    const TS_Descriptor_VideoStream& d = descriptor->video_stream;
    std::printf("[D Video stream] MFRF:%d FRC:%d CPF:%d SPF:%d\n", d.multiple_frame_rate_flag,
                d.frame_rate_code, d.constrained_parameter_flag, d.still_picture_flag);
    // An MPEG-1 only stream carries no profile, chroma or frame rate extension.
    if (d.MPEG_1_only_flag == 0) {
        std::printf("  PALI:%d CF:%d FREF:%d R:%d\n", d.profile_and_level_indication,
                    d.chroma_format, d.frame_rate_extension_flag, d.reserved);
    }
    return 0;
}

int32_t TS_Descriptor_PrintAudioStream(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_AUDIO_STREAM);
    if (status != 0) return status;
    const TS_Descriptor_AudioStream& d = descriptor->audio_stream;
    std::printf("[D Audio Stream] FFF:%d I:%d L:%d VRAI:%d R:%d\n", d.free_format_flag, d.ID,
                d.layer, d.variable_rate_audio_indicator, d.reserved);
    return 0;
}

int32_t TS_Descriptor_PrintHierarchy(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_HIERARCHY);
    if (status != 0) return status;
    const TS_Descriptor_Hierarchy& d = descriptor->hierarchy;
    std::printf("[D Hierarchy] R1:%d HT:%d R2:%d HLI:%d R3:%d HELI:%d R4:%d HC:%d\n",
                d.reserved1, d.hierarchy_type, d.reserved2, d.hierarchy_layer_index, d.reserved3,
                d.hierarchy_embedded_layer_index, d.reserved4, d.hierarchy_channel);
    return 0;
}

int32_t TS_Descriptor_PrintDataStreamAlignment(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_DATA_STREAM_ALIGNMENT);
    if (status != 0) return status;
    std::printf("[D Data stream alignment] AT:%d\n", descriptor->data_stream_alignment.alignment_type);
    return 0;
}
