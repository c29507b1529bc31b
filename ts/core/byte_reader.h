// A bounded big-endian cursor over a byte range: every parser of the toolkit
// reads through one, so that no length field found in a stream can move a read
// outside the packet or section actually received. A read past the end yields
// 0, leaves the cursor at the end and sets a sticky overrun flag, so that a
// parser can tell a truncated field from a zero one.
#ifndef RIVULET_BYTE_READER_H
#define RIVULET_BYTE_READER_H

#include <cstdint>
#include <cstring>

namespace rivulet {

class ByteReader {
public:
    ByteReader(const uint8_t* data, uint32_t size) : data_(data), size_(data ? size : 0) {}

    uint32_t remaining() const { return size_ - pos_; }
    bool canRead(uint32_t count = 1) const { return remaining() >= count; }
    // True once any read or skip asked for more bytes than remained.
    bool overrun() const { return overrun_; }
    const uint8_t* current() const { return data_ + pos_; }

    uint8_t u8() {
        if (pos_ >= size_) {
            overrun_ = true;
            return 0;
        }
        return data_[pos_++];
    }
    uint16_t u16() { return static_cast<uint16_t>(readBig(2)); }
    uint32_t u24() { return static_cast<uint32_t>(readBig(3)); }
    uint32_t u32() { return static_cast<uint32_t>(readBig(4)); }

    void skip(uint32_t count) { pos_ += available(count); }

    // Copies up to `count` bytes (never more than remain, never more than
    // `capacity`) and returns how many were copied.
    uint32_t copy(uint8_t* out, uint32_t count, uint32_t capacity) {
        uint32_t n = available(count < capacity ? count : capacity);
        if (n) std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return n;
    }

    // A reader over the next `count` bytes (fewer if fewer remain); this
    // reader moves past them.
    ByteReader take(uint32_t count) {
        uint32_t n = available(count);
        ByteReader sub(data_ + pos_, n);
        pos_ += n;
        return sub;
    }

private:
    uint32_t available(uint32_t count) {
        if (count <= remaining()) return count;
        overrun_ = true;
        return remaining();
    }

    uint64_t readBig(uint32_t count) {
        uint64_t value = 0;
        for (uint32_t i = 0; i < count; ++i) value = value << 8 | u8();
        return value;
    }

    const uint8_t* data_;
    uint32_t size_;
    uint32_t pos_ = 0;
    bool overrun_ = false;
};

}  // namespace rivulet

#endif
