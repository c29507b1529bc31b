#include "ts/section/stream_component.h"

#include <string_view>

#include "rivulet/services.h"
#include "ts/core/byte_reader.h"

namespace rivulet {
namespace {

struct ComponentRule {
    uint8_t u8First;  // a range of stream types, descriptor tags or component tags
    uint8_t u8Last;
    uint8_t u8Component;
};

// Stream types that are a component by themselves: DSM-CC (carousels,
// ISDB data broadcasting) and SCTE-35 cues (Blu-ray's 0x86 is audio, told
// before these are read).
constexpr ComponentRule kStreamTypes[] = {
    {0x0A, 0x0D, TS_COMPONENT_DATA},
    {0x86, 0x86, TS_COMPONENT_SCTE35},
};

// Descriptors in the stream's loop that make it a component: teletext and
// VBI data, DVB subtitling, data broadcasting.
constexpr ComponentRule kDescriptors[] = {
    {0x45, 0x46, TS_COMPONENT_TELETEXT},
    {0x56, 0x56, TS_COMPONENT_TELETEXT},
    {0x59, 0x59, TS_COMPONENT_SUBTITLES},
    {0x64, 0x64, TS_COMPONENT_DATA},
    {0x66, 0x66, TS_COMPONENT_DATA},
};

// ARIB's component tags (stream_identifier) of private streams: captions,
// superimposed text, data broadcasting; a one-segment service's captions.
constexpr ComponentRule kARIBComponentTags[] = {
    {0x30, 0x37, TS_COMPONENT_SUBTITLES},
    {0x38, 0x3F, TS_COMPONENT_SUPERIMPOSE},
    {0x40, 0x7F, TS_COMPONENT_DATA},
    {0x87, 0x87, TS_COMPONENT_SUBTITLES},
};

constexpr uint8_t kStreamTypePrivateSections = 0x05;
constexpr uint8_t kStreamTypePrivatePES = 0x06;
constexpr uint8_t kTagStreamIdentifier = 0x52;
constexpr uint8_t kTagApplicationSignalling = 0x6F;
constexpr uint8_t kNoComponent = 0xFF;

template <size_t N>
uint8_t ruleFor(const ComponentRule (&rules)[N], uint8_t id) {
    for (const ComponentRule& rule : rules) {
        if (id >= rule.u8First && id <= rule.u8Last) return rule.u8Component;
    }
    return kNoComponent;
}

struct Descriptors {
    uint8_t u8ByTag = kNoComponent;    // the first descriptor that tells
    uint8_t u8ByComponentTag = kNoComponent;
    bool bApplicationSignalling = false;
};

Descriptors readDescriptors(const uint8_t* descriptors, uint32_t size) {
    Descriptors found;
    ByteReader loop(descriptors, size);
    while (loop.canRead(2)) {
        uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        if (found.u8ByTag == kNoComponent) found.u8ByTag = ruleFor(kDescriptors, tag);
        if (tag == kTagStreamIdentifier && body.canRead(1)) found.u8ByComponentTag = ruleFor(kARIBComponentTags, body.u8());
        found.bApplicationSignalling = found.bApplicationSignalling || tag == kTagApplicationSignalling;
    }
    return found;
}

// What the stream's kind alone says, when nothing finer does.
uint8_t componentOfKind(const StreamClass& classified) {
    switch (classified.kind) {
    case StreamKind::Video: return TS_COMPONENT_VIDEO;
    case StreamKind::Audio: return TS_COMPONENT_AUDIO;
    case StreamKind::Subtitles: return TS_COMPONENT_SUBTITLES;
    case StreamKind::Data: break;
    }
    // Private data of a kind nothing names (and private sections without an
    // application signalling descriptor) could be anything.
    const bool named = classified.codec[0] && std::string_view(classified.codec) != "private" &&
                       std::string_view(classified.codec) != "sections";
    return named ? TS_COMPONENT_DATA : TS_COMPONENT_UNKNOWN;
}

}  // namespace

uint8_t componentOf(uint8_t streamType, const uint8_t* descriptors, uint32_t size, const StreamClass& classified) {
    if (classified.kind == StreamKind::Video) return TS_COMPONENT_VIDEO;
    if (classified.kind == StreamKind::Audio) return TS_COMPONENT_AUDIO;
    const uint8_t byType = ruleFor(kStreamTypes, streamType);
    if (byType != kNoComponent) return byType;
    const Descriptors found = readDescriptors(descriptors, size);
    if (found.u8ByTag != kNoComponent) return found.u8ByTag;
    if (streamType == kStreamTypePrivateSections && found.bApplicationSignalling) return TS_COMPONENT_DATA;
    if (streamType == kStreamTypePrivatePES && found.u8ByComponentTag != kNoComponent) return found.u8ByComponentTag;
    return componentOfKind(classified);
}

}  // namespace rivulet

const char* TS_ComponentName(uint8_t u8Component) {
    static constexpr const char* kNames[TS_COMPONENT_COUNT] = {"video",    "audio", "subtitles", "superimpose",
                                                               "teletext", "data",  "scte35",    "unknown"};
    return u8Component < TS_COMPONENT_COUNT ? kNames[u8Component] : "unknown";
}
