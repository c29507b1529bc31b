// Sets of PIDs or program numbers as bits in arrays of 64-bit words: one
// lookup per packet, whatever the number of members.
#ifndef RIVULET_BIT_SET_H
#define RIVULET_BIT_SET_H

#include <cstdint>

namespace rivulet {

inline bool testBit(const uint64_t* bits, uint32_t i) { return (bits[i / 64] >> (i % 64)) & 1; }
inline void setBit(uint64_t* bits, uint32_t i) { bits[i / 64] |= uint64_t(1) << (i % 64); }
inline void clearBit(uint64_t* bits, uint32_t i) { bits[i / 64] &= ~(uint64_t(1) << (i % 64)); }

}  // namespace rivulet

#endif
