// The one way both tools read a number from the command line.
#ifndef RIVULET_NUMBER_H
#define RIVULET_NUMBER_H

#include <cstdint>
#include <string_view>

namespace rivulet {

// Decimal digits, or 0x / 0X and hexadecimal digits, leading zeros of any
// count; no sign, no blanks, no other characters. A leading 0 does not make
// the number octal. false when the text is not such a number or its value
// lies outside [min, max].
bool parseNumber(std::string_view text, uint32_t min, uint32_t max, uint32_t* value);
// One to eight hexadecimal digits, optionally behind 0x / 0X.
bool parseCRC(std::string_view text, uint32_t* value);

}  // namespace rivulet

#endif
