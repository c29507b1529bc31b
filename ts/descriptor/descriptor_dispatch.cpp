// Descriptor dispatch: the getter of each tag, the raw copy for the tags that
// have no getter of their own, and the shared opening of a descriptor body.
#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_body.h"
#include "ts/packet/byte_reader.h"

using rivulet::ByteReader;
using rivulet::DescriptorBody;

namespace {

using DescriptorGetter = int32_t (*)(TS_Descriptor*, const uint8_t*, uint32_t);

// Indexed by descriptor_tag. Tags 0 and 1 are reserved and every tag past 18
// belongs to other standards or to private use: those are kept raw.
constexpr DescriptorGetter kGetterByTag[] = {
    TS_Descriptor_GetRAW,
    TS_Descriptor_GetRAW,
    TS_Descriptor_GetVideoStream,
    TS_Descriptor_GetAudioStream,
    TS_Descriptor_GetHierarchy,
    TS_Descriptor_GetRegistration,
    TS_Descriptor_GetDataStreamAlignment,
    TS_Descriptor_GetTargetBackgroundGrid,
    TS_Descriptor_GetVideoWindow,
    TS_Descriptor_GetConditionalAccess,
    TS_Descriptor_GetISO639Language,
    TS_Descriptor_GetSystemClock,
    TS_Descriptor_GetMultiplexBufferUtilization,
    TS_Descriptor_GetCopyright,
    TS_Descriptor_GetMaximumBitrate,
    TS_Descriptor_GetPrivateDataIndicator,
    TS_Descriptor_GetSmoothingBuffer,
    TS_Descriptor_GetSTD,
    TS_Descriptor_GetIBP,
};
constexpr uint32_t kGetterCount = sizeof kGetterByTag / sizeof kGetterByTag[0];
static_assert(kGetterCount == TS_TAG_IBP + 1u, "one getter per tag up to the IBP descriptor");

DescriptorGetter getterFor(uint8_t tag) {
    return tag < kGetterCount ? kGetterByTag[tag] : TS_Descriptor_GetRAW;
}

}  // namespace

namespace rivulet {

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

}  // namespace rivulet

int32_t TS_GetDescriptor(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    if (!descriptor || !data || size < rivulet::kDescriptorHeaderSize) return -1;
    // With the getter chosen by the tag itself, its status is always 0.
    getterFor(data[0])(descriptor, data, size);
    return 0;
}

int32_t TS_Descriptor_GetRAW(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    body.copy(descriptor->raw.data, body.remaining(), sizeof descriptor->raw.data);
    return 0;
}
