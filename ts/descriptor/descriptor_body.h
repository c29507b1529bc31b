// Shared start of every descriptor getter: the argument checks, the tag and
// length bytes, and a reader over exactly the body bytes that are present.
#ifndef RIVULET_DESCRIPTOR_BODY_H
#define RIVULET_DESCRIPTOR_BODY_H

#include <cstdint>

#include "rivulet/ts.h"
#include "ts/packet/byte_reader.h"

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

// Copies the rest of `body` (the bytes behind the four fixed ones) into a
// byte tail of TS_DESCRIPTOR_TAIL_SIZE bytes.
inline void copyDescriptorTail(ByteReader& body, uint8_t* tail) {
    body.copy(tail, body.remaining(), TS_DESCRIPTOR_TAIL_SIZE);
}

}  // namespace rivulet

#endif  // RIVULET_DESCRIPTOR_BODY_H
