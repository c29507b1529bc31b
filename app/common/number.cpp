#include "app/common/number.h"

#include <charconv>
#include <system_error>

namespace rivulet {
namespace {

constexpr int kDecimal = 10;
constexpr int kHexadecimal = 16;
constexpr size_t kCRCDigits = 8;

bool hasHexPrefix(std::string_view text) {
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// The digits must be all of `text`, at least one of them.
bool parseDigits(std::string_view text, int base, uint64_t* value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, *value, base);
    return error == std::errc() && stop == end;
}

}  // namespace

bool parseNumber(std::string_view text, uint32_t min, uint32_t max, uint32_t* value) {
    uint64_t parsed = 0;
    bool ok = hasHexPrefix(text) ? parseDigits(text.substr(2), kHexadecimal, &parsed)
                                 : parseDigits(text, kDecimal, &parsed);
    if (!ok || parsed < min || parsed > max) return false;
    *value = uint32_t(parsed);
    return true;
}

bool parseCRC(std::string_view text, uint32_t* value) {
    if (hasHexPrefix(text)) text.remove_prefix(2);
    uint64_t parsed = 0;
    if (text.size() > kCRCDigits || !parseDigits(text, kHexadecimal, &parsed)) return false;
    *value = uint32_t(parsed);
    return true;
}

}  // namespace rivulet
