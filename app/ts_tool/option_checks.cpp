// The number checks of the command line, as parser validators.
#include <string>

#include "app/ts_tool/command.h"
#include "app/ts_tool/numbers.h"

namespace rivulet::tool {
namespace {

CLI::Validator rangeCheck(const char* what, uint32_t min, uint32_t max) {
    std::string failure = std::string("not ") + what + " from " + std::to_string(min) + " to " +
                          std::to_string(max) + " (decimal or 0x-hexadecimal): ";
    return CLI::Validator(
        [min, max, failure](std::string& text) {
            uint32_t value = 0;
            return parseNumber(text, min, max, &value) ? std::string() : failure + text;
        },
        "");
}

}  // namespace

CLI::Validator pidCheck() { return rangeCheck("a PID", 0, kMaxPID); }

CLI::Validator programNumberCheck() { return rangeCheck("a program number", 1, kMaxProgramNumber); }

CLI::Validator crcCheck() {
    return CLI::Validator(
        [](std::string& text) {
            uint32_t value = 0;
            return parseCRC(text, &value) ? std::string() : "not a CRC of up to eight hexadecimal digits: " + text;
        },
        "");
}

}  // namespace rivulet::tool
