// The shared opening of a descriptor body and the helpers of the printers.
#include <cstdio>

#include "rivulet/descriptors.h"
#include "ts/descriptor/descriptor_body.h"

namespace rivulet {

namespace {

// The registration, conditional access and copyright descriptors open with
// four fixed bytes; their opaque tail is the rest of descriptor_length.
constexpr uint8_t kDescriptorFixedBytes = 4;
constexpr uint32_t kBytesPerLine = 16;

}  // namespace

DescriptorBody openDescriptorBody(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    if (!descriptor || !data || size < kDescriptorHeaderSize) {
        return DescriptorBody{-1, ByteReader(nullptr, 0)};
    }
    ByteReader all(data, size);
    descriptor->descriptor_tag = all.u8();
    uint8_t declared = all.u8();
    ByteReader body = all.take(declared);
    descriptor->descriptor_length = uint8_t(body.remaining());
    return DescriptorBody{0, body};
}

DescriptorBody openDescriptorBody(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size,
                                  uint8_t tag) {
    if (!descriptor || !data || size < kDescriptorHeaderSize) {
        return DescriptorBody{-1, ByteReader(nullptr, 0)};
    }
    if (data[0] != tag) return DescriptorBody{TS_ERR_WRONG_TAG, ByteReader(nullptr, 0)};
    return openDescriptorBody(descriptor, data, size);
}

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
