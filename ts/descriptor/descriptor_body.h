// Helpers every descriptor getter and printer shares: the argument checks, the
// tag and length bytes, a reader over exactly the body bytes that are present,
// and the byte list of opaque tails.
#ifndef RIVULET_DESCRIPTOR_BODY_H
#define RIVULET_DESCRIPTOR_BODY_H

#include <cstdint>

#include "rivulet/descriptors.h"
#include "ts/core/byte_reader.h"

namespace rivulet {

constexpr uint32_t kDescriptorHeaderSize = 2;  // descriptor_tag, descriptor_length

// Result of opening a descriptor: status 0 with the body reader, or the
// getter's error status with nothing written to the record.
struct DescriptorBody {
    int32_t status;
    ByteReader reader;
};

// Accepts any tag: -1 for a null record or data or fewer than two bytes;
// otherwise writes descriptor_tag and descriptor_length, the declared length
// cut to the size - 2 bytes that follow the header, and returns a reader over
// those body bytes.
DescriptorBody openDescriptorBody(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size);

// As above, but -2 (nothing written) when the tag byte is not `tag`.
DescriptorBody openDescriptorBody(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size,
                                  uint8_t tag);

// The frame of every getter: opens the body, lets readBody(ByteReader&) fill
// the record, and returns the opening's status.
template <class ReadBody>
int32_t readDescriptor(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size, uint8_t tag,
                       ReadBody&& readBody) {
    DescriptorBody start = openDescriptorBody(descriptor, data, size, tag);
    if (start.status == 0) readBody(start.reader);
    return start.status;
}

// Copies the rest of `body` (the bytes behind the four fixed ones) into a
// byte tail of TS_DESCRIPTOR_TAIL_SIZE bytes.
inline void copyDescriptorTail(ByteReader& body, uint8_t* tail) {
    body.copy(tail, body.remaining(), TS_DESCRIPTOR_TAIL_SIZE);
}

// Prints `count` bytes as "0x%02X, ", sixteen to a line, each further line
// indented by two blanks, then one newline. The caller has already indented
// the first line.
void printByteList(const uint8_t* bytes, uint32_t count);

// 0 when `descriptor` is a record of `tag`; -1 null, -2 another tag.
int32_t checkDescriptorTag(const TS_Descriptor* descriptor, uint8_t tag);

// The frame of every printer: print() runs when `descriptor` is a record of
// `tag`; returns checkDescriptorTag's status.
template <class Print>
int32_t printDescriptor(const TS_Descriptor* descriptor, uint8_t tag, Print&& print) {
    int32_t status = checkDescriptorTag(descriptor, tag);
    if (status == 0) print();
    return status;
}

// Bytes of the tail behind the four fixed bytes; none below four.
uint32_t descriptorTailLength(const TS_Descriptor* descriptor);

// The name of a descriptor tag outside ISO/IEC 13818-1's own: DVB and ARIB
// service information, carrier definitions.
const char* broadcastDescriptorName(uint8_t tag);

}  // namespace rivulet

#endif  // RIVULET_DESCRIPTOR_BODY_H
