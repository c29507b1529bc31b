// A bounded big-endian writer over a byte range, the twin of ByteReader: a
// write past the end writes nothing and sets a sticky overflow flag, so that
// a builder checks once, at its end. Every section the toolkit writes (a
// rebuilt PAT, a rebuilt SDT) goes through one.
#ifndef RIVULET_BYTE_WRITER_H
#define RIVULET_BYTE_WRITER_H

#include <cstdint>
#include <cstring>

#include "rivulet/tables.h"

namespace rivulet {

class ByteWriter {
public:
    ByteWriter(uint8_t* data, uint32_t size) : data_(data), size_(data ? size : 0) {}

    uint32_t written() const { return pos_; }
    uint32_t remaining() const { return size_ - pos_; }
    bool overflow() const { return overflow_; }
    uint8_t* at(uint32_t offset) { return data_ + offset; }

    void u8(uint8_t value) { putBig(value, 1); }
    void u16(uint16_t value) { putBig(value, 2); }
    void u32(uint32_t value) { putBig(value, 4); }
    void bytes(const uint8_t* from, uint32_t count) {
        if (!reserve(count)) return;
        std::memcpy(data_ + pos_, from, count);
        pos_ += count;
    }
    void fill(uint8_t value, uint32_t count) {
        if (!reserve(count)) return;
        std::memset(data_ + pos_, value, count);
        pos_ += count;
    }

    // The 4-byte header of a transport packet.
    void putPacketHeader(const TS_Packet& header) {
        u8(header.sync_byte);
        u8(uint8_t((header.transport_error_indicator & 1) << 7 | (header.payload_unit_start_indicator & 1) << 6 |
                   (header.transport_priority & 1) << 5 | ((header.PID >> 8) & 0x1F)));
        u8(uint8_t(header.PID & 0xFF));
        u8(uint8_t((header.transport_scrambling_control & 3) << 6 | (header.adaptation_field_control & 3) << 4 |
                   (header.continuity_counter & 0x0F)));
    }

    // The CRC_32 of the bytes from `sectionStart` to here, behind them.
    void putCRC32(uint32_t sectionStart) {
        if (sectionStart > pos_) {
            overflow_ = true;
            return;
        }
        u32(GetCRC32(0xFFFFFFFF, data_ + sectionStart, pos_ - sectionStart));
    }

private:
    bool reserve(uint32_t count) {
        if (count <= remaining()) return true;
        overflow_ = true;
        pos_ = size_;
        return false;
    }
    void putBig(uint32_t value, uint32_t count) {
        if (!reserve(count)) return;
        for (uint32_t i = 0; i < count; ++i) data_[pos_ + i] = uint8_t(value >> (8 * (count - 1 - i)));
        pos_ += count;
    }

    uint8_t* data_;
    uint32_t size_;
    uint32_t pos_ = 0;
    bool overflow_ = false;
};

}  // namespace rivulet

#endif
