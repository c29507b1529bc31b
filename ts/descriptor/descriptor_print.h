// Helpers shared by the descriptor printers and the private-section dumps.
#ifndef RIVULET_DESCRIPTOR_PRINT_H
#define RIVULET_DESCRIPTOR_PRINT_H

#include <cstdint>

#include "rivulet/ts.h"

namespace rivulet {

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
