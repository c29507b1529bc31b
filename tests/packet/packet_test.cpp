#include <gtest/gtest.h>

#include <cstring>

#include "rivulet/ts.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

Bytes withHeader(std::initializer_list<uint8_t> header) {
    Bytes p(188, 0xFF);
    std::copy(header.begin(), header.end(), p.begin());
    return p;
}

}  // namespace

TEST(PacketHeader, DecodesEveryHeaderField) {
    TS_Packet p{};
    Bytes pat = withHeader({0x47, 0x40, 0x00, 0x10});
    ASSERT_EQ(TS_Packet_Get(&p, pat.data()), 0);
    EXPECT_EQ(p.PID, 0);
    EXPECT_EQ(p.payload_unit_start_indicator, 1);
    EXPECT_EQ(p.adaptation_field_control, 1);
    EXPECT_EQ(p.continuity_counter, 0);
    EXPECT_EQ(p.transport_error_indicator, 0);

    Bytes null = withHeader({0x47, 0x1F, 0xFF, 0x10});
    ASSERT_EQ(TS_Packet_Get(&p, null.data()), 0);
    EXPECT_EQ(p.PID, 0x1FFF);
    EXPECT_EQ(p.payload_unit_start_indicator, 0);

    Bytes flags = withHeader({0x47, 0xB2, 0x34, 0xDA});
    ASSERT_EQ(TS_Packet_Get(&p, flags.data()), 0);
    EXPECT_EQ(p.transport_error_indicator, 1);
    EXPECT_EQ(p.payload_unit_start_indicator, 0);
    EXPECT_EQ(p.transport_priority, 1);
    EXPECT_EQ(p.PID, 0x1234);
    EXPECT_EQ(p.transport_scrambling_control, 3);
    EXPECT_EQ(p.adaptation_field_control, 1);
    EXPECT_EQ(p.continuity_counter, 0x0A);
}

TEST(PacketHeader, RefusesMissingSyncAndNullPointers) {
    TS_Packet p{};
    p.PID = 0x55;
    Bytes bad = withHeader({0x46, 0x40, 0x00, 0x10});
    EXPECT_EQ(TS_Packet_Get(&p, bad.data()), -2);
    EXPECT_EQ(p.PID, 0x55);
    EXPECT_EQ(TS_Packet_Get(nullptr, bad.data()), -1);
    EXPECT_EQ(TS_Packet_Get(&p, nullptr), -1);
    TS_AdaptationField f{};
    TS_Packet noField{};
    noField.adaptation_field_control = 1;
    EXPECT_EQ(TS_Packet_GetAdaptationField(&f, &noField, bad.data()), -2);
}

TEST(AdaptationField, ReadsThePCRFromBytesSixToEleven) {
    // PCR bytes 00 00 00 00 80 01: the top bit of the fifth byte is the base's
    // lowest bit, the bottom bit the extension's ninth.
    Bytes p = withHeader({0x47, 0x01, 0x00, 0x30, 7, 0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01});
    TS_Packet h{};
    ASSERT_EQ(TS_Packet_Get(&h, p.data()), 0);
    const TS_AdaptationField& f = h.adaptation_field;
    EXPECT_EQ(f.adaptation_field_length, 7);
    EXPECT_EQ(f.PCR_flag, 1);
    EXPECT_EQ(f.program_clock_reference_base, 1u);
    EXPECT_EQ(f.PCR_reserved, 0);
    EXPECT_EQ(f.program_clock_reference_extension, 1);
    EXPECT_EQ(f.stuffing_length, 0);
}

TEST(AdaptationField, CountsStuffingToTheFieldsEnd) {
    Bytes p = withHeader({0x47, 0x01, 0x00, 0x20, 183, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    p[12] = 0x5A;
    p[187] = 0xA5;
    TS_Packet h{};
    ASSERT_EQ(TS_Packet_Get(&h, p.data()), 0);
    const TS_AdaptationField& f = h.adaptation_field;
    EXPECT_EQ(f.program_clock_reference_base, 0x1FFFFFFFFull);
    EXPECT_EQ(f.PCR_reserved, 0x3F);
    EXPECT_EQ(f.program_clock_reference_extension, 0x1FF);
    EXPECT_EQ(f.stuffing_length, 176);
    EXPECT_EQ(f.stuffing_byte[0], 0x5A);
    EXPECT_EQ(f.stuffing_byte[175], 0xA5);
}

TEST(AdaptationField, OptionalFieldsInOrder) {
    // OPCR, splice countdown, 2 private bytes, extension with ltw,
    // piecewise rate and seamless splice, then 2 stuffing bytes.
    Bytes af = {0x0F,                                // OPCR, splicing, private, extension
                0x00, 0x00, 0x00, 0x01, 0x00, 0x02,  // OPCR base 2, extension 2
                0xFB,                                // splice_countdown
                0x02, 0xAB, 0xCD,                    // private data
                11,   0xE0,                          // extension length, ltw/piecewise/seamless
                0x81, 0x23,                          // ltw valid, offset 0x0123
                0xC1, 0x23, 0x45,                    // reserved 3, rate 0x012345
                0x2B, 0x00, 0x01, 0x00, 0x03,        // splice type 2, DTS_next_AU
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
    EXPECT_EQ(f.ltw_valid_flag, 1);
    EXPECT_EQ(f.ltw_offset, 0x0123);
    EXPECT_EQ(f.piecewise_rate_reserved, 3);
    EXPECT_EQ(f.piecewise_rate, 0x012345u);
    EXPECT_EQ(f.splice_type, 2);
    // DTS bits: (0x2B>>1)&7 = 5 -> bits 32..30; 0x0000>>1; 0x0003>>1 = 1.
    EXPECT_EQ(f.DTS_next_AU, (5ull << 30) | 1u);
    EXPECT_EQ(f.marker_bit_1, 1);
    EXPECT_EQ(f.marker_bit_2, 1);
    EXPECT_EQ(f.marker_bit_3, 1);
    EXPECT_EQ(f.extension_reserved_length, 0);
    EXPECT_EQ(f.stuffing_length, 2);
}

TEST(AdaptationField, EveryLengthStaysInsideThePacket) {
    // Lengths 0 to 255 with every flag set: nothing may be read past byte 187
    // (the sanitizer build checks the reads against a 188-byte buffer).
    for (int length = 0; length <= 255; ++length) {
        std::vector<uint8_t> p(188, 0xFF);
        p[0] = 0x47;
        p[3] = 0x30;
        p[4] = uint8_t(length);
        p[5] = 0xFF;
        TS_Packet h{};
        ASSERT_EQ(TS_Packet_Get(&h, p.data()), 0);
        EXPECT_LE(h.adaptation_field.stuffing_length, 183) << length;
        EXPECT_LE(h.adaptation_field.transport_private_data_length + 0u, 255u);
    }
    // A zero-length field is one stuffing byte: no flags byte, no PCR.
    Bytes zero = withHeader({0x47, 0x00, 0x64, 0x30, 0, 0x10});
    TS_Packet h{};
    ASSERT_EQ(TS_Packet_Get(&h, zero.data()), 0);
    EXPECT_EQ(h.adaptation_field.PCR_flag, 0);
    EXPECT_EQ(h.adaptation_field.stuffing_length, 0);
}

TEST(AdaptationField, KeptFromThePreviousPacketWhenAbsent) {
    Bytes withPCR = tsb::packet({.pid = 0x100, .hasAdaptation = true, .adaptation = tsb::pcrAdaptation(1234, 5)});
    Bytes plain = tsb::packet({.pid = 0x100, .cc = 1});
    TS_Packet h{};
    ASSERT_EQ(TS_Packet_Get(&h, withPCR.data()), 0);
    ASSERT_EQ(TS_Packet_Get(&h, plain.data()), 0);
    EXPECT_EQ(h.adaptation_field_control, 1);
    EXPECT_EQ(h.adaptation_field.program_clock_reference_base, 1234u);
}
