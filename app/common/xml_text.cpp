#include "app/common/xml_text.h"

#include <cstdint>

namespace rivulet {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point at `at` and its length in bytes; U+FFFD and 1 for a byte
// that starts no well-formed sequence.
std::pair<char32_t, size_t> decode(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return at + i < text.size() ? uint8_t(text[at + i]) : uint8_t(0); };
    uint8_t lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0) return {kReplacement, 1};
    char32_t point = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return {kReplacement, 1};
        point = point << 6 | (byte(i) & 0x3F);
    }
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kShortest[length] || point > 0x10FFFF) return {kReplacement, 1};
    return {point, length};
}

bool xmlAllows(char32_t c) {
    if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
    return c < 0xD800 || (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
}

void keepXMLCharacters(nlohmann::ordered_json& value) {
    if (value.is_string()) {
        value = xmlAllowed(value.get_ref<const std::string&>());
        return;
    }
    if (value.is_array()) {
        for (auto& item : value) keepXMLCharacters(item);
        return;
    }
    if (!value.is_object()) return;
    nlohmann::ordered_json kept = nlohmann::ordered_json::object();
    for (auto& [key, item] : value.items()) {
        keepXMLCharacters(item);
        kept[xmlAllowed(key)] = std::move(item);
    }
    value = std::move(kept);
}

}  // namespace

std::string xmlAllowed(std::string_view utf8) {
    std::string kept;
    for (size_t at = 0; at < utf8.size();) {
        auto [point, length] = decode(utf8, at);
        if (xmlAllows(point)) kept += point == kReplacement && length == 1 ? "\xEF\xBF\xBD" : utf8.substr(at, length);
        at += length;
    }
    return kept;
}

std::string jsonText(const nlohmann::ordered_json& document) {
    nlohmann::ordered_json kept = document;
    keepXMLCharacters(kept);
    return kept.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace rivulet
