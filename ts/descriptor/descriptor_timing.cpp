// Descriptors of the decoder's clock and buffers: system clock, multiplex
// buffer utilization, maximum bitrate, smoothing buffer and STD. Rates and
// sizes are printed as coded, not converted to bytes per second.
#include <cstdio>

#include "rivulet/descriptors.h"
#include "ts/core/bounded_count.h"
#include "ts/core/byte_reader.h"
#include "ts/descriptor/descriptor_body.h"

using rivulet::ByteReader;

namespace {

// Rates and sizes are 22-bit values behind two reserved bits in three bytes.
struct Reserved22 {
    uint8_t reserved;
    uint32_t value;
};

Reserved22 readReserved22(ByteReader& body) {
    uint32_t bits = body.u24();
    return Reserved22{uint8_t(bits >> 22), bits & 0x3FFFFF};
}

}  // namespace

int32_t TS_Descriptor_GetSystemClock(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_SYSTEM_CLOCK, [&](ByteReader& body) {
        TS_Descriptor_SystemClock& c = descriptor->system_clock;
        uint8_t reference = body.u8();
        c.external_clock_reference_indicator = reference >> 7;
        c.reserved1 = (reference >> 6) & 1;
        c.clock_accuracy_integer = reference & 0x3F;
        uint8_t exponent = body.u8();
        c.clock_accuracy_exponent = exponent >> 5;
        c.reserved2 = exponent & 0x1F;
    });
}

int32_t TS_Descriptor_PrintSystemClock(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_SYSTEM_CLOCK, [&] {
        const TS_Descriptor_SystemClock& d = descriptor->system_clock;
        std::printf("[D System clock] ECRI:%d R1:%d CAI:%d CAE:%d R2:%d\n",
                    d.external_clock_reference_indicator, d.reserved1, d.clock_accuracy_integer,
                    d.clock_accuracy_exponent, d.reserved2);
    });
}

int32_t TS_Descriptor_GetMultiplexBufferUtilization(TS_Descriptor* descriptor, const uint8_t* data,
                                                    uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, [&](ByteReader& body) {
        TS_Descriptor_MultiplexBufferUtilization& m = descriptor->multiplex_buffer_utilization;
        uint16_t lower = body.u16();
        m.bound_valid_flag = uint8_t(lower >> 15);
        m.LTW_offset_lower_bound = lower & 0x7FFF;
        uint16_t upper = body.u16();
        m.reserved = uint8_t(upper >> 15);
        m.LTW_offset_upper_bound = upper & 0x7FFF;
    });
}

int32_t TS_Descriptor_PrintMultiplexBufferUtilization(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, [&] {
        const TS_Descriptor_MultiplexBufferUtilization& d = descriptor->multiplex_buffer_utilization;
        std::printf("[D Multiplex buffer utilization] BVF:%d LOLB:%d R:%d LOUB:%d\n",
                    d.bound_valid_flag, d.LTW_offset_lower_bound, d.reserved, d.LTW_offset_upper_bound);
    });
}

int32_t TS_Descriptor_GetMaximumBitrate(TS_Descriptor* descriptor, const uint8_t* data,
                                        uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_MAXIMUM_BITRATE, [&](ByteReader& body) {
        Reserved22 rate = readReserved22(body);
        descriptor->maximum_bitrate.reserved = rate.reserved;
        descriptor->maximum_bitrate.maximum_bitrate = rate.value;
    });
}

int32_t TS_Descriptor_PrintMaximumBitrate(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_MAXIMUM_BITRATE, [&] {
        const TS_Descriptor_MaximumBitrate& d = descriptor->maximum_bitrate;
        std::printf("[D Maximum bitrate] R:%d MB:%d\n", d.reserved, int32_t(d.maximum_bitrate));
    });
}

int32_t TS_Descriptor_GetSmoothingBuffer(TS_Descriptor* descriptor, const uint8_t* data,
                                         uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_SMOOTHING_BUFFER, [&](ByteReader& body) {
        TS_Descriptor_SmoothingBuffer& s = descriptor->smoothing_buffer;
        Reserved22 leak = readReserved22(body);
        s.reserved1 = leak.reserved;
        s.sb_leak_rate = leak.value;
        Reserved22 buffer = readReserved22(body);
        s.reserved2 = buffer.reserved;
        s.sb_size = buffer.value;
    });
}

int32_t TS_Descriptor_PrintSmoothingBuffer(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_SMOOTHING_BUFFER, [&] {
        const TS_Descriptor_SmoothingBuffer& d = descriptor->smoothing_buffer;
        std::printf("[D Smoothing buffer] R1:%d SLR:%d R2:%d SS:%d\n", d.reserved1,
                    int32_t(d.sb_leak_rate), d.reserved2, int32_t(d.sb_size));
    });
}

int32_t TS_Descriptor_GetSTD(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_STD, [&](ByteReader& body) {
        uint8_t flags = body.u8();
        // The seven reserved bits stay where they are in the byte.
        descriptor->std.reserved = flags & 0xFE;
        descriptor->std.leak_valid_flag = flags & 1;
    });
}

int32_t TS_Descriptor_PrintSTD(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_STD, [&] {
        const TS_Descriptor_STD& d = descriptor->std;
        std::printf("[D STD] R:%d LVF:%d\n", d.reserved, d.leak_valid_flag);
    });
}
