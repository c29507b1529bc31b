// Helpers shared by the descriptor printers and the private-section dumps.
#ifndef RIVULET_DESCRIPTOR_PRINT_H
#define RIVULET_DESCRIPTOR_PRINT_H

#include <cstdint>

#include "rivulet/ts.h"

namespace rivulet {

// Bytes of the registration, conditional access and copyright descriptors
// fixed fields: the tail behind them is descriptor_length - this many bytes.
constexpr uint8_t kDescriptorFixedBytes = 4;
constexpr uint32_t kBytesPerLine = 16;

// Prints `count` bytes as "0x%02X, ", sixteen to a line, each further line
// indented by two blanks, then one newline. The caller has already indented
// the first line.
void printByteList(const uint8_t* bytes, uint32_t count);

// 0 when `descriptor` is a record of `tag`; -1 null, -2 another tag.
int32_t checkDescriptorTag(const TS_Descriptor* descriptor, uint8_t tag);

// Bytes of the tail behind the four fixed bytes; none below four.
uint32_t descriptorTailLength(const TS_Descriptor* descriptor);

}  // namespace rivulet

#endif  // RIVULET_DESCRIPTOR_PRINT_H
