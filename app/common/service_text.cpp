#include "app/common/service_text.h"

#include <iconv.h>

// libaribb24's headers carry no C++ linkage of their own.
extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}

#include <cerrno>
#include <string_view>
#include <vector>

#include "rivulet/ts.h"

namespace rivulet::tool {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kEuro[] = "\xE2\x82\xAC";
constexpr uint8_t kEuroInDefaultTable = 0xA4;
constexpr uint8_t kFirstPrintable = 0x20;
constexpr uint8_t kFirstControl = 0x80;  // emphasis, line breaks: 0x80 to 0x9F
constexpr uint8_t kLastControl = 0x9F;

// The character table the first byte selects: its iconv name and the bytes
// it takes from the text (EN 300 468 Table A.3).
struct TextTable {
    const char* charset;
    size_t skip;
    size_t unitSize;  // bytes per character, where an undecodable one is skipped
};

TextTable tableOf(const uint8_t* bytes, size_t size, std::string& buffer) {
    static const char* const kLatin[] = {"ISO-8859-5",  "ISO-8859-6",  "ISO-8859-7",  "ISO-8859-8",
                                         "ISO-8859-9",  "ISO-8859-10", "ISO-8859-11", "ISO-8859-12",
                                         "ISO-8859-13", "ISO-8859-14", "ISO-8859-15"};
    if (size == 0 || bytes[0] >= 0x20) return {"ISO_6937", 0, 1};
    uint8_t selector = bytes[0];
    if (selector >= 0x01 && selector <= 0x0B) return {kLatin[selector - 1], 1, 1};
    if (selector == 0x10 && size >= 3) {
        buffer = "ISO-8859-" + std::to_string(bytes[2]);
        return {buffer.c_str(), 3, 1};
    }
    if (selector == 0x11) return {"UCS-2BE", 1, 2};
    if (selector == 0x12) return {"EUC-KR", 1, 1};
    if (selector == 0x13) return {"GB2312", 1, 1};
    if (selector == 0x14) return {"BIG5", 1, 1};
    if (selector == 0x15) return {"UTF-8", 1, 1};
    return {"ISO_6937", 1, 1};  // reserved selectors: the default table for the rest
}

// Converts with iconv, each undecodable character a U+FFFD.
std::string convert(const char* charset, const uint8_t* bytes, size_t size, size_t unitSize) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", charset);
    if (cd == iconv_t(-1)) {
        if (size > 0) out = kReplacement;
        return out;
    }
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    size_t left = size;
    std::vector<char> chunk(4 * size + 16);
    while (left > 0) {
        char* to = chunk.data();
        size_t room = chunk.size();
        size_t result = iconv(cd, &in, &left, &to, &room);
        out.append(chunk.data(), size_t(to - chunk.data()));
        if (result != size_t(-1)) break;
        if (errno == E2BIG) continue;
        out += kReplacement;  // EILSEQ, or EINVAL for a cut character at the end
        size_t skip = left < unitSize ? left : unitSize;
        in += skip;
        left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

// Length of the well-formed UTF-8 sequence at `s` (at most `left` bytes), or
// 0: code points beyond U+10FFFF, surrogates and overlong forms are not.
size_t utf8Sequence(const unsigned char* s, size_t left) {
    unsigned char b = s[0];
    size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || length > left) return 0;
    uint32_t cp = length == 1 ? b : b & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (s[i] & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    bool valid = cp >= kSmallest[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    return valid ? length : 0;
}

// What a converter handed back, with every byte that is not well-formed
// UTF-8 a U+FFFD: names reach JSON and terminals valid.
std::string wellFormed(const std::string& text) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t at = 0; at < text.size();) {
        size_t length = utf8Sequence(s + at, text.size() - at);
        if (length == 0) {
            out += kReplacement;
            ++at;
            continue;
        }
        out.append(text, at, length);
        at += length;
    }
    return out;
}

}  // namespace

std::string dvbText(const uint8_t* bytes, size_t size) {
    std::string charsetName;
    TextTable table = tableOf(bytes, size, charsetName);
    bytes += table.skip <= size ? table.skip : size;
    size -= table.skip <= size ? table.skip : size;
    if (table.unitSize == 1 && std::string_view(table.charset) != "UTF-8") {
        // Control codes go; the default table's euro sign is DVB's own.
        std::string out;
        std::vector<uint8_t> run;
        auto flush = [&] {
            out += convert(table.charset, run.data(), run.size(), 1);
            run.clear();
        };
        bool defaultTable = std::string_view(table.charset) == "ISO_6937";
        for (size_t i = 0; i < size; ++i) {
            uint8_t b = bytes[i];
            // DVB's emphasis and line codes go, and C0 codes, which DVB text
            // does not use past its first byte.
            if (b < kFirstPrintable || (b >= kFirstControl && b <= kLastControl)) continue;
            if (defaultTable && b == kEuroInDefaultTable) {
                flush();
                out += kEuro;
                continue;
            }
            run.push_back(b);
        }
        flush();
        return wellFormed(out);
    }
    return wellFormed(convert(table.charset, bytes, size, table.unitSize));
}

std::string utf16Text(const uint8_t* bytes, size_t size) { return wellFormed(convert("UTF-16BE", bytes, size, 2)); }

std::string aribText(const uint8_t* bytes, size_t size) {
    arib_instance_t* instance = arib_instance_new(nullptr);
    if (!instance) return size > 0 ? kReplacement : "";
    arib_decoder_t* decoder = arib_get_decoder(instance);
    arib_initialize_decoder(decoder);
    std::vector<char> out(size * 4 + 16);
    size_t length = arib_decode_buffer(decoder, bytes, size, out.data(), out.size());
    arib_finalize_decoder(decoder);
    arib_instance_destroy(instance);
    // The decoder writes UTF-8; what it could not place comes back empty, so
    // an undecodable name shows as one replacement character.
    std::string text(out.data(), length < out.size() ? length : out.size());
    if (text.empty() && size > 0) text = kReplacement;
    return wellFormed(text);
}

std::string textOf(uint8_t text, const uint8_t* bytes, size_t size) {
    if (text == TS_TEXT_ARIB) return aribText(bytes, size);
    if (text == TS_TEXT_UTF16) return utf16Text(bytes, size);
    return dvbText(bytes, size);
}

}  // namespace rivulet::tool
