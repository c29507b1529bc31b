// Numbers on the command line: PIDs and program numbers in decimal or in
// 0x-hexadecimal, PMT CRCs in hexadecimal as the survey prints them.
#ifndef RIVULET_TS_TOOL_NUMBERS_H
#define RIVULET_TS_TOOL_NUMBERS_H

#include <cstdint>
#include <string_view>

namespace rivulet::tool {

constexpr uint32_t kMaxPID = 0x1FFF;
constexpr uint32_t kMaxProgramNumber = 0xFFFF;

// Decimal digits, or 0x / 0X and hexadecimal digits; no sign, no blanks, no
// other characters. A leading 0 does not make the number octal. false when
// the text is not such a number or its value lies outside [min, max].
bool parseNumber(std::string_view text, uint32_t min, uint32_t max, uint32_t* value);

// One to eight hexadecimal digits, optionally behind 0x / 0X.
bool parseCRC(std::string_view text, uint32_t* value);

}  // namespace rivulet::tool

#endif
