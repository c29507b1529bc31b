#include "app/common/service_names.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>
#include <cstdio>

#include "app/common/service_text.h"

namespace rivulet::tool {
namespace {

constexpr uint32_t kBlanks[] = {0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x00A0,
                                0x1680, 0x202F, 0x205F, 0x3000};

bool isBlank(uint32_t cp) {
    if (cp >= 0x2000 && cp <= 0x200A) return true;
    for (uint32_t blank : kBlanks) {
        if (cp == blank) return true;
    }
    return false;
}

// Unicode's lower case, from the C library's UTF-8 locale (made once, never
// changed); ASCII alone where the system lacks it.
uint32_t lower(uint32_t cp) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    if (utf8) return uint32_t(::towlower_l(wint_t(cp), utf8));
    return cp >= 'A' && cp <= 'Z' ? cp + ('a' - 'A') : cp;
}

void appendUTF8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Lower case, blanks left out. The text is well-formed UTF-8 (as the
// decoders give it, or as typed; a stray byte is kept as it is).
std::string folded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (i + length > text.size()) length = 1;
        uint32_t cp = length == 1 ? b : b & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (isBlank(cp)) continue;
        if (length == 1 && b >= 0x80) {
            out += char(b);
            continue;
        }
        appendUTF8(out, lower(cp));
    }
    return out;
}

}  // namespace

const char* serviceTypeName(uint8_t type) {
    static constexpr const char* kNames[] = {"", "tv", "radio", "data"};
    return type < 4 ? kNames[type] : "";
}

ServiceTexts serviceTexts(const TS_ServiceFacts& facts) {
    ServiceTexts out;
    if (facts.u8Described) {
        out.name = textOf(facts.u8Text, facts.lu8Name, facts.u8NameLength);
        out.provider = textOf(facts.u8Text, facts.lu8Provider, facts.u8ProviderLength);
    }
    if (facts.u8Virtual) out.channel = std::to_string(facts.u16Major) + "." + std::to_string(facts.u16Minor);
    // A virtual channel without a short name goes by its number.
    if (out.name.empty()) out.name = out.channel;
    out.type = serviceTypeName(facts.u8Type);
    if (facts.u8HasEvent) {
        out.event = textOf(facts.u8EventText, facts.lu8Title, facts.u8TitleLength);
        out.eventId = std::to_string(facts.u16EventId);
        out.start = facts.strStart;
        out.end = facts.strEnd;
        out.duration = facts.strDuration;
    }
    return out;
}

std::string streamSummary(const TS_ServiceFacts& facts) {
    std::string out;
    for (uint8_t i = 0; i < facts.u8StreamCount && i < TS_PMT_MAX_STREAMS; ++i) {
        const TS_StreamSummary& stream = facts.ltStream[i];
        if (!out.empty()) out += "; ";
        out += std::string(stream.strCodec) + " " + TS_ComponentName(stream.u8Component);
        if (stream.strLanguage[0]) out += std::string(" (") + stream.strLanguage + ")";
    }
    return out;
}

bool namesService(const ServiceTexts& service, const std::string& wanted) {
    std::string key = folded(wanted);
    if (key.empty()) return false;
    return key == folded(service.name) || (!service.channel.empty() && key == service.channel);
}

}  // namespace rivulet::tool
