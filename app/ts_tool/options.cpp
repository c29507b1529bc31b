// The number options of rivulet-ts and the exit status of a driver's result.
#include "app/ts_tool/options.h"

#include "app/common/components.h"
#include "app/common/number.h"
#include "app/common/process.h"

#include <cstdio>
#include <string>

namespace rivulet::tool {
namespace {

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

CLI::Validator componentsCheck() {
    return CLI::Validator(
        [](std::string& text) {
            uint32_t bits = 0;
            std::string unknown;
            if (parseComponents(text, &bits, &unknown)) return std::string();
            std::string what = "unknown component " + unknown + "; the components are";
            for (std::string_view name : componentNames()) {
                what += ' ';
                what += name;
            }
            return what;
        },
        "");
}

uint32_t componentsOf(const std::string& list) {
    uint32_t bits = 0;
    std::string unknown;
    parseComponents(list, &bits, &unknown);
    return bits;
}

CLI::Validator audioCheck() {
    return CLI::Validator(
        [](std::string& text) {
            return isAudioChoice(text) ? std::string() : "not first or three-letter language codes (eng,fra): " + text;
        },
        "");
}

const char* inputPath(const std::string& argument) { return argument == "-" ? "/dev/stdin" : argument.c_str(); }

int exitStatusOf(int32_t status, const char* path, std::span<const SilentFailure> silent) {
    if (status >= 0) return kExitOk;
    if (status == TS_ERR_INTERRUPTED) return interruptedExitStatus();
    for (const SilentFailure& failure : silent) {
        if (failure.status != status) continue;
        std::fprintf(stderr, "rivulet-ts: %s: %s\n", path, failure.message);
    }
    return kExitFailed;
}

std::string quotedText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
            continue;
        }
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace rivulet::tool
