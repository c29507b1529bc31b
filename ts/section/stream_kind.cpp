#include "ts/section/stream_kind.h"

#include <span>

#include "ts/core/byte_reader.h"
#include "ts/section/stream_component.h"

namespace rivulet {
namespace {

struct KindEntry {
    uint32_t id;  // a stream_type, a descriptor tag or a format_identifier
    StreamKind kind;
    const char* codec;
};

using K = StreamKind;

// Stream types that say what they carry by themselves.
constexpr KindEntry kStreamTypes[] = {
    {0x01, K::Video, "mpeg1"},         {0x02, K::Video, "mpeg2"},       {0x03, K::Audio, "mp2"},
    {0x04, K::Audio, "mp2"},           {0x05, K::Data, "sections"},     {0x0B, K::Data, "dsmcc"},
    {0x0C, K::Data, "dsmcc"},          {0x0D, K::Data, "dsmcc"},        {0x0F, K::Audio, "aac"},
    {0x10, K::Video, "mpeg4"},         {0x11, K::Audio, "aac-latm"},    {0x15, K::Data, "metadata"},
    {0x1B, K::Video, "h264"},          {0x1C, K::Audio, "mpeg4-audio"}, {0x20, K::Video, "h264-mvc"},
    {0x24, K::Video, "hevc"},          {0x2D, K::Audio, "mpegh"},       {0x33, K::Video, "vvc"},
    {0x42, K::Video, "avs"},           {0x81, K::Audio, "ac3"},         {0x86, K::Data, "scte35"},
    {0x87, K::Audio, "eac3"},          {0xD1, K::Video, "dirac"},       {0xEA, K::Video, "vc1"},
};

// Blu-ray and AVCHD (registration "HDMV") give these their own meaning.
constexpr KindEntry kHDMVStreamTypes[] = {
    {0x80, K::Audio, "lpcm"},      {0x81, K::Audio, "ac3"},       {0x82, K::Audio, "dts"},
    {0x83, K::Audio, "truehd"},    {0x84, K::Audio, "eac3"},      {0x85, K::Audio, "dts-hd"},
    {0x86, K::Audio, "dts-hd-ma"}, {0x90, K::Subtitles, "pgs"},   {0x91, K::Data, "igs"},
    {0x92, K::Subtitles, "text"},  {0xA1, K::Audio, "eac3"},      {0xA2, K::Audio, "dts-hd"},
};

// Descriptors that name what a private stream (stream_type 0x06) carries.
constexpr uint8_t kTagRegistration = 0x05;
constexpr uint8_t kTagDataComponent = 0xFD;  // ARIB: captions or data broadcasting
constexpr KindEntry kPrivateDescriptors[] = {
    {0x56, K::Subtitles, "teletext"}, {0x59, K::Subtitles, "dvb"},  {0x6A, K::Audio, "ac3"},
    {0x7A, K::Audio, "eac3"},         {0x7B, K::Audio, "dts"},      {0x7C, K::Audio, "aac"},
    {0x81, K::Audio, "ac3"},  // ATSC's AC-3 audio descriptor
};

// Registration descriptors in the stream's own loop.
constexpr KindEntry kRegistrations[] = {
    {0x41432D33, K::Audio, "ac3"},  {0x45414333, K::Audio, "eac3"}, {0x44545331, K::Audio, "dts"},
    {0x44545332, K::Audio, "dts"},  {0x44545333, K::Audio, "dts"},  {0x4F707573, K::Audio, "opus"},
    {0x48455643, K::Video, "hevc"}, {0x42535344, K::Audio, "smpte302m"}, {0x4B4C5641, K::Data, "klv"},
};

// Descriptors that carry a language in their first three bytes: ISO 639
// language, teletext, subtitling.
constexpr uint8_t kLanguageTags[] = {0x0A, 0x56, 0x59};
constexpr uint16_t kARIBCaptions = 0x0008;  // data_component_id of ARIB captions

const KindEntry* find(std::span<const KindEntry> table, uint32_t id) {
    for (const KindEntry& entry : table) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

bool isLanguageTag(uint8_t tag) {
    for (uint8_t t : kLanguageTags) {
        if (t == tag) return true;
    }
    return false;
}

constexpr uint8_t kTagExtension = 0x7F;
constexpr uint8_t kSupplementaryAudio = 0x06;   // descriptor_tag_extension
constexpr uint8_t kLanguageCodePresent = 0x01;  // language_code_present, last bit of the flags

void setSpokenLanguage(StreamClass& out, ByteReader body) {
    if (!body.canRead(5) || body.u8() != kSupplementaryAudio || !(body.u8() & kLanguageCodePresent)) return;
    for (int i = 0; i < 3; ++i) out.spoken[i] = char(body.u8());
    out.spoken[3] = '\0';
}

void setLanguage(StreamClass& out, ByteReader body) {
    if (out.language[0] || !body.canRead(3)) return;
    for (int i = 0; i < 3; ++i) {
        uint8_t c = body.u8();
        // Only letters: a code is shown and goes into names and JSON.
        out.language[i] = char((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ? c : '?');
    }
    out.language[3] = '\0';
}

// What the descriptors of a stream that its type does not explain tell.
const KindEntry* kindFromDescriptors(ByteReader loop) {
    static constexpr KindEntry kCaptions{0, K::Subtitles, "arib-captions"};
    while (loop.canRead(2)) {
        uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        if (tag == kTagRegistration) {
            if (const KindEntry* entry = find(kRegistrations, body.u32())) return entry;
        } else if (tag == kTagDataComponent) {
            if (body.u16() == kARIBCaptions) return &kCaptions;
        } else if (const KindEntry* entry = find(kPrivateDescriptors, tag)) {
            return entry;
        }
    }
    return nullptr;
}

}  // namespace

uint32_t registrationOf(const uint8_t* descriptors, uint32_t size) {
    ByteReader loop(descriptors, size);
    while (loop.canRead(2)) {
        uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        if (tag == kTagRegistration && body.canRead(4)) return body.u32();
    }
    return 0;
}

StreamClass classifyStream(uint8_t streamType, const uint8_t* descriptors, uint32_t size,
                           uint32_t programRegistration) {
    StreamClass out{K::Data, "private", "", "", 0};
    const KindEntry* entry = programRegistration == kRegistrationHDMV ? find(kHDMVStreamTypes, streamType) : nullptr;
    if (!entry) entry = find(kStreamTypes, streamType);
    if (!entry) entry = kindFromDescriptors(ByteReader(descriptors, size));
    if (entry) {
        out.kind = entry->kind;
        out.codec = entry->codec;
    }
    ByteReader loop(descriptors, size);
    while (loop.canRead(2)) {
        uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        if (isLanguageTag(tag)) setLanguage(out, body);
        if (tag == kTagExtension) setSpokenLanguage(out, body);
    }
    out.component = componentOf(streamType, descriptors, size, out);
    return out;
}

}  // namespace rivulet

const char* TS_StreamKindName(uint8_t u8Kind) {
    static constexpr const char* kNames[] = {"video", "audio", "subtitles", "data"};
    return u8Kind < sizeof kNames / sizeof kNames[0] ? kNames[u8Kind] : "data";
}
