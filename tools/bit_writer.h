// Writes fields most significant bit first, as MPEG bitstreams lay them out.
#ifndef RIVULET_TOOLS_BIT_WRITER_H
#define RIVULET_TOOLS_BIT_WRITER_H

#include <cstdint>
#include <vector>

namespace tsb {

class BitWriter {
public:
    // The low `count` bits of `value` (count at most 32).
    void put(uint32_t value, int count) {
        for (int bit = count - 1; bit >= 0; --bit) {
            if (used_ == 0) bytes_.push_back(0);
            if ((value >> bit) & 1) bytes_.back() |= uint8_t(0x80 >> used_);
            used_ = (used_ + 1) & 7;
        }
    }
    // A variable-length code given as text of '0' and '1', as the code tables print it.
    void code(const char* bits) {
        for (const char* c = bits; *c; ++c) put(*c == '1', 1);
    }
    // Zero bits up to the next byte boundary (before every start code).
    void align() { used_ = 0; }
    void startCode(uint8_t value) {
        align();
        put(0x000001, 24);
        put(value, 8);
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;  // bits written into the last byte; 0 when it is full
};

}  // namespace tsb

#endif
