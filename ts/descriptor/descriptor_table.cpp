// The descriptors of ISO/IEC 13818-1 as one table: the getter, the printer and
// the name of each tag drive parsing, printing and naming alike. Tags 0 and 1
// are reserved, and every tag past 18 belongs to other standards or to private
// use: those are kept and printed raw.
#include <cstdio>

#include "rivulet/descriptors.h"
#include "ts/core/name_table.h"
#include "ts/descriptor/descriptor_body.h"

using rivulet::ByteReader;
using rivulet::DescriptorBody;

namespace {

using DescriptorGetter = int32_t (*)(TS_Descriptor*, const uint8_t*, uint32_t);
using DescriptorPrinter = int32_t (*)(const TS_Descriptor*);

struct DescriptorKind {
    uint8_t tag;
    DescriptorGetter get;
    DescriptorPrinter print;
    const char* name;  // as the name functions give it; the printers carry their own labels
};

constexpr const char* kUnnamed = "?";

// Indexed by tag.
constexpr DescriptorKind kDescriptorKinds[] = {
    {0, TS_Descriptor_GetRAW, TS_Descriptor_PrintRAW, kUnnamed},
    {1, TS_Descriptor_GetRAW, TS_Descriptor_PrintRAW, kUnnamed},
    {TS_TAG_VIDEO_STREAM, TS_Descriptor_GetVideoStream, TS_Descriptor_PrintVideoStream, kUnnamed},
    {TS_TAG_AUDIO_STREAM, TS_Descriptor_GetAudioStream, TS_Descriptor_PrintAudioStream, kUnnamed},
    {TS_TAG_HIERARCHY, TS_Descriptor_GetHierarchy, TS_Descriptor_PrintHierarchy, kUnnamed},
    {TS_TAG_REGISTRATION, TS_Descriptor_GetRegistration, TS_Descriptor_PrintRegistration, kUnnamed},
    {TS_TAG_DATA_STREAM_ALIGNMENT, TS_Descriptor_GetDataStreamAlignment, TS_Descriptor_PrintDataStreamAlignment,
     kUnnamed},
    {TS_TAG_TARGET_BACKGROUND_GRID, TS_Descriptor_GetTargetBackgroundGrid, TS_Descriptor_PrintTargetBackgroundGrid,
     kUnnamed},
    {TS_TAG_VIDEO_WINDOW, TS_Descriptor_GetVideoWindow, TS_Descriptor_PrintVideoWindow, kUnnamed},
    {TS_TAG_CONDITIONAL_ACCESS, TS_Descriptor_GetConditionalAccess, TS_Descriptor_PrintConditionalAccess,
     "Conditional Access"},
    {TS_TAG_ISO_639_LANGUAGE, TS_Descriptor_GetISO639Language, TS_Descriptor_PrintISO639Language, kUnnamed},
    {TS_TAG_SYSTEM_CLOCK, TS_Descriptor_GetSystemClock, TS_Descriptor_PrintSystemClock, kUnnamed},
    {TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, TS_Descriptor_GetMultiplexBufferUtilization,
     TS_Descriptor_PrintMultiplexBufferUtilization, kUnnamed},
    {TS_TAG_COPYRIGHT, TS_Descriptor_GetCopyright, TS_Descriptor_PrintCopyright, "Copyright"},
    {TS_TAG_MAXIMUM_BITRATE, TS_Descriptor_GetMaximumBitrate, TS_Descriptor_PrintMaximumBitrate, kUnnamed},
    {TS_TAG_PRIVATE_DATA_INDICATOR, TS_Descriptor_GetPrivateDataIndicator, TS_Descriptor_PrintPrivateDataIndicator,
     kUnnamed},
    {TS_TAG_SMOOTHING_BUFFER, TS_Descriptor_GetSmoothingBuffer, TS_Descriptor_PrintSmoothingBuffer, kUnnamed},
    {TS_TAG_STD, TS_Descriptor_GetSTD, TS_Descriptor_PrintSTD, kUnnamed},
    {TS_TAG_IBP, TS_Descriptor_GetIBP, TS_Descriptor_PrintIBP, kUnnamed},
};
constexpr uint32_t kKindCount = sizeof kDescriptorKinds / sizeof kDescriptorKinds[0];

constexpr bool indexedByTag() {
    for (uint32_t i = 0; i < kKindCount; ++i) {
        if (kDescriptorKinds[i].tag != i) return false;
    }
    return true;
}
static_assert(indexedByTag(), "one row per tag, in tag order");

const DescriptorKind* kindOf(uint8_t tag) { return tag < kKindCount ? &kDescriptorKinds[tag] : nullptr; }

}  // namespace

int32_t TS_GetDescriptor(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    if (!descriptor || !data || size < rivulet::kDescriptorHeaderSize) return -1;
    // With the getter chosen by the tag itself, its status is always 0.
    const DescriptorKind* kind = kindOf(data[0]);
    (kind ? kind->get : TS_Descriptor_GetRAW)(descriptor, data, size);
    return 0;
}

int32_t TS_Descriptor_Print(const TS_Descriptor* descriptor) {
    if (!descriptor) return -1;
    const DescriptorKind* kind = kindOf(descriptor->descriptor_tag);
    (kind ? kind->print : TS_Descriptor_PrintRAW)(descriptor);
    return 0;
}

int32_t TS_DescriptorTagToString(char* buffer, uint8_t tag) {
    const DescriptorKind* kind = kindOf(tag);
    return rivulet::copyName(buffer, kind ? kind->name : rivulet::broadcastDescriptorName(tag));
}

int32_t TS_Descriptor_GetRAW(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    body.copy(descriptor->raw.data, body.remaining(), sizeof descriptor->raw.data);
    return 0;
}

int32_t TS_Descriptor_PrintRAW(const TS_Descriptor* descriptor) {
    if (!descriptor) return -1;
    char name[rivulet::kNameBufferSize];
    TS_DescriptorTagToString(name, descriptor->descriptor_tag);
    std::printf("[D %s] T:0x%02X L:%d\n  ", name, descriptor->descriptor_tag,
                descriptor->descriptor_length);
    rivulet::printByteList(descriptor->raw.data, descriptor->descriptor_length);
    return 0;
}
