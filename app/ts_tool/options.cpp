// The number options of rivulet-ts and the exit status of a driver's result.
#include "app/ts_tool/options.h"

#include "app/common/process.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <system_error>

namespace rivulet::tool {
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

CLI::Validator rangeCheck(const char* what, uint32_t min, uint32_t max, uint32_t* value) {
    std::string failure = std::string("not ") + what + " from " + std::to_string(min) + " to " +
                          std::to_string(max) + " (decimal or 0x-hexadecimal): ";
    return CLI::Validator(
        [min, max, failure, value](std::string& text) {
            return parseNumber(text, min, max, value) ? std::string() : failure + text;
        },
        "");
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

CLI::Validator pidCheck(uint32_t* value) { return rangeCheck("a PID", 0, kMaxPID, value); }

CLI::Validator programNumberCheck(uint32_t* value) {
    return rangeCheck("a program number", 1, kMaxProgramNumber, value);
}

CLI::Validator crcCheck(uint32_t* value) {
    return CLI::Validator(
        [value](std::string& text) {
            return parseCRC(text, value) ? std::string() : "not a CRC of up to eight hexadecimal digits: " + text;
        },
        "");
}

int exitStatusOf(int32_t status, const char* path, std::span<const SilentFailure> silent) {
    if (status >= 0) return kExitOk;
    if (status == TS_ERR_INTERRUPTED) return interruptedExitStatus();
    for (const SilentFailure& failure : silent) {
        if (failure.status != status) continue;
        std::fprintf(stderr, "rivulet-ts: %s: %s\n", path, failure.message);
    }
    return kExitFailed;
}

}  // namespace rivulet::tool
