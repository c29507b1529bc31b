// Packet headers and adaptation fields, decoded from bytes written out by hand.
#include <gtest/gtest.h>

#include "rivulet/ts.h"
#include "tools/stream_builder.h"

using tsb::Bytes;

namespace {

Bytes withHeader(std::initializer_list<uint8_t> head) {
    Bytes p(188, 0xFF);
    std::copy(head.begin(), head.end(), p.begin());
    return p;
}

}  // namespace

TEST(PacketHeader, DecodesEveryField) {
    const struct {
        Bytes head;
        int tei, pusi, priority, pid, scrambling, afc, cc;
    } cases[] = {
        {{0x47, 0x40, 0x00, 0x10}, 0, 1, 0, 0x0000, 0, 1, 0},
        {{0x47, 0x1F, 0xFF, 0x1F}, 0, 0, 0, 0x1FFF, 0, 1, 15},
        {{0x47, 0xB2, 0x34, 0xDA}, 1, 0, 1, 0x1234, 3, 1, 10},
        {{0x47, 0x01, 0x00, 0x60, 0}, 0, 0, 0, 0x0100, 1, 2, 0},
    };
    for (const auto& c : cases) {
        Bytes p = withHeader({});
        std::copy(c.head.begin(), c.head.end(), p.begin());
        TS_Packet h{};
        ASSERT_EQ(TS_Packet_Get(&h, p.data()), 0);
        EXPECT_EQ(std::vector<int>({h.transport_error_indicator, h.payload_unit_start_indicator, h.transport_priority,
                                    h.PID, h.transport_scrambling_control, h.adaptation_field_control,
                                    h.continuity_counter}),
                  std::vector<int>({c.tei, c.pusi, c.priority, c.pid, c.scrambling, c.afc, c.cc}))
            << tsb::hex(c.head);
    }
    TS_Packet h{};
    h.PID = 0x55;
    EXPECT_EQ(TS_Packet_Get(&h, withHeader({0x46, 0x40, 0x00, 0x10}).data()), TS_ERR_NO_SYNC);
    EXPECT_EQ(h.PID, 0x55);
    EXPECT_EQ(TS_Packet_Get(nullptr, withHeader({0x47}).data()), -1);
    h.adaptation_field_control = 1;
    TS_AdaptationField f;
    EXPECT_EQ(TS_Packet_GetAdaptationField(&f, &h, withHeader({0x47}).data()), TS_ERR_NO_ADAPTATION_FIELD);
}

TEST(AdaptationField, PCRBitsAndStuffing) {
    // PCR 00 00 00 00 80 01: the fifth byte's top bit is the base's lowest,
    // the bottom bit of the sixth-but-one the extension's ninth.
    Bytes p = withHeader({0x47, 0x01, 0x00, 0x30, 7, 0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01});
    TS_Packet h{};
    ASSERT_EQ(TS_Packet_Get(&h, p.data()), 0);
    EXPECT_EQ(h.adaptation_field.program_clock_reference_base, 1u);
    EXPECT_EQ(h.adaptation_field.PCR_reserved, 0);
    EXPECT_EQ(h.adaptation_field.program_clock_reference_extension, 1);
    EXPECT_EQ(h.adaptation_field.stuffing_length, 0);

    p = withHeader({0x47, 0x01, 0x00, 0x20, 183, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x5A});
    p[187] = 0xA5;
    ASSERT_EQ(TS_Packet_Get(&h, p.data()), 0);
    EXPECT_EQ(h.adaptation_field.program_clock_reference_base, 0x1FFFFFFFFull);
    EXPECT_EQ(h.adaptation_field.PCR_reserved, 0x3F);
    EXPECT_EQ(h.adaptation_field.program_clock_reference_extension, 0x1FF);
    EXPECT_EQ(h.adaptation_field.stuffing_length, 176);
    EXPECT_EQ(h.adaptation_field.stuffing_byte[0], 0x5A);
    EXPECT_EQ(h.adaptation_field.stuffing_byte[175], 0xA5);
}

TEST(AdaptationField, OptionalFieldsInOrder) {
    Bytes af = {0x0F,                                // OPCR, splicing point, private data, extension
                0x00, 0x00, 0x00, 0x01, 0x00, 0x02,  // OPCR base 2, extension 2
                0xFB,                                // splice_countdown
                0x02, 0xAB, 0xCD,                    // private data
                11,   0xE0,                          // extension: ltw, piecewise rate, seamless splice
                0x81, 0x23,                          // ltw valid, offset 0x123
                0xC1, 0x23, 0x45,                    // reserved 3, rate 0x12345
                0x2B, 0x00, 0x01, 0x00, 0x03,        // splice type 2, DTS_next_AU 5 << 30 | 1
                0xEE, 0xEE};
    Bytes p = tsb::packet({.pid = 0x100, .hasAdaptation = true, .adaptation = af});
    TS_Packet h{};
    ASSERT_EQ(TS_Packet_Get(&h, p.data()), 0);
    const TS_AdaptationField& f = h.adaptation_field;
    EXPECT_EQ(f.original_program_clock_reference_base, 2u);
    EXPECT_EQ(f.original_program_clock_reference_extension, 2);
    EXPECT_EQ(f.splice_countdown, 0xFB);
    EXPECT_EQ(f.transport_private_data_length, 2);
    EXPECT_EQ(f.private_data_byte[1], 0xCD);
    EXPECT_EQ(f.adaptation_field_extension_length, 11);
    EXPECT_EQ(f.ltw_offset, 0x0123);
    EXPECT_EQ(f.piecewise_rate_reserved, 3);
    EXPECT_EQ(f.piecewise_rate, 0x012345u);
    EXPECT_EQ(f.splice_type, 2);
    EXPECT_EQ(f.DTS_next_AU, (5ull << 30) | 1u);
    EXPECT_EQ(f.marker_bit_1 + f.marker_bit_2 + f.marker_bit_3, 3);
    EXPECT_EQ(f.stuffing_length, 2);
}

// Lengths 0 to 255 with every flag set: the sanitizer build sees any read
// past the 188 bytes.
TEST(AdaptationField, EveryLengthStaysInsideThePacket) {
    for (int length = 0; length <= 255; ++length) {
        Bytes p = withHeader({0x47, 0x00, 0x64, 0x30, uint8_t(length), 0xFF});
        TS_Packet h{};
        ASSERT_EQ(TS_Packet_Get(&h, p.data()), 0);
        EXPECT_LE(h.adaptation_field.stuffing_length, 183) << length;
    }
    Bytes zero = withHeader({0x47, 0x00, 0x64, 0x30, 0, 0x10});  // one stuffing byte, no flags
    TS_Packet h{};
    ASSERT_EQ(TS_Packet_Get(&h, zero.data()), 0);
    EXPECT_EQ(h.adaptation_field.PCR_flag, 0);
}
