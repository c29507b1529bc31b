// Descriptor dump: dispatch by tag, the raw dump for tags without a printer of
// their own, and the byte list that every dump of opaque bytes shares.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_print.h"
#include "ts/descriptor/name_table.h"

namespace rivulet {

namespace {

// The registration, conditional access and copyright descriptors open with
// four fixed bytes; their opaque tail is the rest of descriptor_length.
constexpr uint8_t kDescriptorFixedBytes = 4;
constexpr uint32_t kBytesPerLine = 16;

}  // namespace

void printByteList(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        std::printf("0x%02X, ", bytes[i]);
        if (i % kBytesPerLine == kBytesPerLine - 1) std::printf("\n  ");
    }
    std::printf("\n");
}

int32_t checkDescriptorTag(const TS_Descriptor* descriptor, uint8_t tag) {
    if (!descriptor) return -1;
    return descriptor->descriptor_tag == tag ? 0 : TS_ERR_WRONG_TAG;
}

uint32_t descriptorTailLength(const TS_Descriptor* descriptor) {
    uint8_t length = descriptor->descriptor_length;
    return length >= kDescriptorFixedBytes ? uint32_t(length - kDescriptorFixedBytes) : 0;
}

}  // namespace rivulet

namespace {

using DescriptorPrinter = int32_t (*)(const TS_Descriptor*);

// Indexed by tag: ISO/IEC 13818-1 defines tags 2 to 18; tags 0 and 1 (and all
// tags past the table) carry no syntax this toolkit splits, so they go raw.
constexpr DescriptorPrinter kPrinters[] = {
    TS_Descriptor_PrintRAW,
    TS_Descriptor_PrintRAW,
    TS_Descriptor_PrintVideoStream,
    TS_Descriptor_PrintAudioStream,
    TS_Descriptor_PrintHierarchy,
    TS_Descriptor_PrintRegistration,
    TS_Descriptor_PrintDataStreamAlignment,
    TS_Descriptor_PrintTargetBackgroundGrid,
    TS_Descriptor_PrintVideoWindow,
    TS_Descriptor_PrintConditionalAccess,
    TS_Descriptor_PrintISO639Language,
    TS_Descriptor_PrintSystemClock,
    TS_Descriptor_PrintMultiplexBufferUtilization,
    TS_Descriptor_PrintCopyright,
    TS_Descriptor_PrintMaximumBitrate,
    TS_Descriptor_PrintPrivateDataIndicator,
    TS_Descriptor_PrintSmoothingBuffer,
    TS_Descriptor_PrintSTD,
    TS_Descriptor_PrintIBP,
};

constexpr uint32_t kPrinterCount = sizeof kPrinters / sizeof kPrinters[0];

}  // namespace

int32_t TS_Descriptor_Print(const TS_Descriptor* descriptor) {
    if (!descriptor) return -1;
    uint8_t tag = descriptor->descriptor_tag;
    DescriptorPrinter printer = tag < kPrinterCount ? kPrinters[tag] : TS_Descriptor_PrintRAW;
    printer(descriptor);
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
