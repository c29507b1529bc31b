// CRC-32 of MPEG-2 sections: polynomial 0x04C11DB7, most significant bit
// first, no reflection, no final XOR. Run over a whole section including its
// CRC_32 field, it yields 0 when the section is intact.
#include "rivulet/tables.h"

#include <array>

namespace {

constexpr uint32_t kSlices = 8;  // bytes taken per step of the main loop
using SliceTables = std::array<std::array<uint32_t, 256>, kSlices>;

// Slice 0 is the register after byte i is fed into zero; slice k the same
// byte followed by k zero bytes, so eight bytes fold in one step.
constexpr SliceTables makeTables() {
    SliceTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t reg = i << 24;
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
        tables[0][i] = reg;
    }
    for (uint32_t k = 1; k < kSlices; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t prev = tables[k - 1][i];
            tables[k][i] = (prev << 8) ^ tables[0][prev >> 24];
        }
    }
    return tables;
}

constexpr SliceTables kTables = makeTables();
constexpr const std::array<uint32_t, 256>& kTable = kTables[0];
static_assert(kTable[1] == 0x04C11DB7u);

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

constinit const uint32_t g_lu32CRC32Table[256] = {
#define ROW(i) kTable[i], kTable[i + 1], kTable[i + 2], kTable[i + 3], kTable[i + 4], kTable[i + 5], \
               kTable[i + 6], kTable[i + 7]
    ROW(0),   ROW(8),   ROW(16),  ROW(24),  ROW(32),  ROW(40),  ROW(48),  ROW(56),
    ROW(64),  ROW(72),  ROW(80),  ROW(88),  ROW(96),  ROW(104), ROW(112), ROW(120),
    ROW(128), ROW(136), ROW(144), ROW(152), ROW(160), ROW(168), ROW(176), ROW(184),
    ROW(192), ROW(200), ROW(208), ROW(216), ROW(224), ROW(232), ROW(240), ROW(248),
#undef ROW
};

uint32_t GetCRC32(uint32_t initial, const uint8_t* data, uint64_t size) {
    uint32_t reg = initial;
    if (!data) return reg;
    uint64_t i = 0;
    for (; i + kSlices <= size; i += kSlices) {
        const uint32_t head = reg ^ bigEndian32(data + i);
        const uint8_t* tail = data + i + 4;
        reg = kTables[7][head >> 24] ^ kTables[6][(head >> 16) & 0xFF] ^ kTables[5][(head >> 8) & 0xFF] ^
              kTables[4][head & 0xFF] ^ kTables[3][tail[0]] ^ kTables[2][tail[1]] ^ kTables[1][tail[2]] ^
              kTables[0][tail[3]];
    }
    for (; i < size; ++i) reg = kTable[(reg >> 24) ^ data[i]] ^ (reg << 8);
    return reg;
}
