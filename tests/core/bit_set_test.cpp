// The bit sets the per-PID and per-program records are made of: a bit on
// either side of a word's edge, and the last PID's, set, seen and cleared alone.
#include "tests/support/test.h"
#include "ts/core/bit_set.h"

using namespace rivulet;

TEST(BitSet, EachBitAloneOnEitherSideOfAWordsEdge) {
    for (uint32_t bit : {0u, 1u, 63u, 64u, 127u, 8191u}) {
        uint64_t bits[TS_PID_COUNT / 64] = {};
        setBit(bits, bit);
        for (uint32_t other = 0; other < TS_PID_COUNT; ++other) {
            EXPECT_EQ(testBit(bits, other), other == bit) << bit << " " << other;
        }
        clearBit(bits, bit);
        for (uint64_t word : bits) {
            EXPECT_EQ(word, 0u) << bit;
        }
    }
}
