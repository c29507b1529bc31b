// Packet headers and adaptation fields, from bytes written out by hand.

#include <cstdio>

#include "tests/support/test.h"

namespace {

Bytes withHeader(const Bytes& head) {
    Bytes p(188, 0xFF);
    std::copy(head.begin(), head.end(), p.begin());
    return p;
}

TS_Packet parsed(const Bytes& head) {
    TS_Packet h{};
    EXPECT_EQ(TS_Packet_Get(&h, withHeader(head).data()), 0) << tsb::hex(head);
    return h;
}

}  // namespace

TEST(Packet, HeaderFieldsAsPrinted) {
    const std::pair<Bytes, std::string> cases[] = {
        {{0x47, 0x40, 0x00, 0x10}, "TEI:0 PUSI:1 TP:0 PID:0x0000(Program Association Table) TSC:0 AFC:1 CN:0\n"},
        {{0x47, 0xA1, 0x00, 0xBF, 0}, "TEI:1 PUSI:0 TP:1 PID:0x0100(<assigned>) TSC:2 AFC:3 CN:15\n"},
        {{0x47, 0x1F, 0xFF, 0x67, 7, 0x10}, "TEI:0 PUSI:0 TP:0 PID:0x1FFF(Null packet) TSC:1 AFC:2 CN:7\n"},
        {{0x47, 0x12, 0x34, 0xDA}, "TEI:0 PUSI:0 TP:0 PID:0x1234(<assigned>) TSC:3 AFC:1 CN:10\n"},
    };
    for (const auto& [head, text] : cases) {
        TS_Packet h = parsed(head);
        EXPECT_EQ(h.sync_byte, 0x47);
        Outcome whole = captured([&] { return TS_Packet_Print(&h); });
        Outcome header = captured([&] { return TS_Packet_PrintHeader(&h); });
        EXPECT_EQ(whole.out, "[TS Packet] " + text);
        EXPECT_EQ(header.out, "[TS Packet Header] " + text);
        EXPECT_EQ(whole.status, 0);
        EXPECT_EQ(header.status, 0);
        EXPECT_EQ(captured([&] { TS_Packet_PrintAdaptationField(&h.adaptation_field); return 0; }).out, "");
    }
    TS_Packet h{};
    // The codes callers rely on, by value.
    EXPECT_EQ(TS_Packet_Get(&h, withHeader({0x46, 0x40, 0x00, 0x10}).data()), -2);
    EXPECT_EQ(h.PID, 0);
    h.adaptation_field_control = 1;
    EXPECT_EQ(TS_Packet_GetAdaptationField(&h.adaptation_field, &h, withHeader({0x47}).data()), -2);

    // Byte i holds i: sixteen values to a line, lines breaking on the packet index.
    Bytes raw;
    for (int i = 0; i < 188; ++i) raw.push_back(uint8_t(i ? i : 0x47));
    std::string expected = "[TS Packet]\n  Header: 0x47, 0x01, 0x02, 0x03, 0x04, \n  Section:\n  ";
    for (int i = 5; i < 188; ++i) {
        char item[8];
        std::snprintf(item, sizeof item, "0x%02X, ", i);
        expected += item + std::string(i % 16 == 15 ? "\n  " : "");
    }
    EXPECT_EQ(captured([&] { return TS_Packet_Print_RAW(raw.data()); }).out, expected + "\n");
}

TEST(Packet, AdaptationFields) {
    // PCR 00 00 00 00 80 01: the fifth byte's top bit is the base's lowest,
    // the sixth byte's lowest the extension's ninth.
    TS_AdaptationField f = parsed({0x47, 0x01, 0x00, 0x30, 7, 0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01}).adaptation_field;
    EXPECT_EQ(std::vector<uint64_t>(
                  {f.program_clock_reference_base, f.PCR_reserved, f.program_clock_reference_extension, f.stuffing_length}),
              std::vector<uint64_t>({1, 0, 1, 0}));
    f = parsed({0x47, 0x01, 0x00, 0x20, 183, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x5A}).adaptation_field;
    EXPECT_EQ(std::vector<uint64_t>({f.program_clock_reference_base, f.PCR_reserved, f.program_clock_reference_extension,
                                     f.stuffing_length, f.stuffing_byte[0], f.stuffing_byte[175]}),
              std::vector<uint64_t>({0x1FFFFFFFF, 0x3F, 0x1FF, 176, 0x5A, 0xFF}));

    Bytes optional = {0x0F,                                // OPCR, splicing point, private data, extension
                      0x00, 0x00, 0x00, 0x01, 0x00, 0x02,  // OPCR base 2, extension 2
                      0xFB,                                // splice_countdown
                      0x02, 0xAB, 0xCD,                    // private data
                      11,   0xE0,                          // extension: ltw, piecewise rate, seamless splice
                      0xC1, 0x23,                          // ltw valid, offset 0x4123
                      0xC1, 0x23, 0x45,                    // reserved 3, rate 0x12345
                      0x2B, 0x00, 0x05, 0x00, 0x03,        // splice type 2, DTS_next_AU 5 << 30 | 2 << 15 | 1
                      0xEE, 0xEE};
    TS_Packet h{};
    ASSERT_EQ(TS_Packet_Get(&h, tsb::packet({.pid = 0x100, .hasAdaptation = true, .adaptation = optional}).data()), 0);
    f = h.adaptation_field;
    EXPECT_EQ(std::vector<uint64_t>({f.original_program_clock_reference_base, f.original_program_clock_reference_extension,
                                     f.splice_countdown, f.transport_private_data_length, f.private_data_byte[1],
                                     f.adaptation_field_extension_length, f.ltw_valid_flag, f.ltw_offset,
                                     f.piecewise_rate_reserved, f.piecewise_rate, f.splice_type, f.DTS_next_AU,
                                     uint64_t(f.marker_bit_1 + f.marker_bit_2 + f.marker_bit_3), f.stuffing_length}),
              std::vector<uint64_t>({2, 2, 0xFB, 2, 0xCD, 11, 1, 0x4123, 3, 0x12345, 2, (5ull << 30) | (2ull << 15) | 1, 3, 2}));

    // Each flag from its own bit: discontinuity, random access and priority, OPCR alone, then
    // piecewise rate alone in the extension.
    for (const auto& [flags, expected] : {std::pair{uint8_t(0x40), std::vector<uint64_t>{0, 1, 0}}, {uint8_t(0xA0), {1, 0, 1}}}) {
        f = parsed({0x47, 0x01, 0x00, 0x20, 1, flags}).adaptation_field;
        EXPECT_EQ(std::vector<uint64_t>({f.discontinuity_indicator, f.random_access_indicator,
                                         f.elementary_stream_priority_indicator}),
                  expected);
    }
    f = parsed({0x47, 0x01, 0x00, 0x20, 7, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x03}).adaptation_field;
    EXPECT_EQ(std::vector<uint64_t>({f.PCR_flag, f.OPCR_flag, f.splicing_point_flag, f.transport_private_data_flag,
                                     f.original_program_clock_reference_base, f.original_program_clock_reference_extension}),
              std::vector<uint64_t>({0, 1, 0, 0, 1, 3}));
    ASSERT_EQ(TS_Packet_Get(&h, tsb::packet({.pid = 0x100, .hasAdaptation = true,
                                             .adaptation = {0x01, 4, 0x40, 0xC1, 0x23, 0x45}}).data()), 0);
    f = h.adaptation_field;
    EXPECT_EQ(std::vector<uint64_t>({f.ltw_flag, f.piecewise_rate_flag, f.seamless_splice_flag, f.piecewise_rate}),
              std::vector<uint64_t>({0, 1, 0, 0x12345}));

    // Lengths 0 to 255 with every flag set: the sanitizer build sees any read past the packet.
    for (int length = 0; length <= 255; ++length) {
        EXPECT_LE(parsed({0x47, 0x00, 0x64, 0x30, uint8_t(length), 0xFF}).adaptation_field.stuffing_length, 183) << length;
    }
    EXPECT_EQ(parsed({0x47, 0x00, 0x64, 0x30, 0, 0x10}).adaptation_field.PCR_flag, 0);  // one stuffing byte, no flags
}

// A stream context keeps its unconsumed bytes at the front of its buffer and
// appends behind them, up to the buffer's size.
TEST(StreamContext, AppendsBehindTheUnconsumedBytes) {
    static TS_Data data;
    static TS_SimpleData simple;
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    data.tPAT.valid = data.tCAT.valid = data.tECM.valid = data.tEMM.valid = 1;
    simple.tPAT.valid = simple.tPMT.valid = simple.tSection.valid = 1;
    ASSERT_EQ(TS_Initialise(&data), 0);
    ASSERT_EQ(TS_InitialiseSimple(&simple), 0);
    EXPECT_EQ(data.u64Size + data.u64Pos + data.u16PIDCount, 0u);
    EXPECT_EQ(data.tPAT.valid + data.tCAT.valid + data.tECM.valid + data.tEMM.valid, 0);
    EXPECT_EQ(simple.tPAT.valid + simple.tPMT.valid + simple.tSection.valid, 0);
    ASSERT_EQ(TS_AddStream(&data, bytes, 10), 0);
    data.u64Pos = 4;
    ASSERT_EQ(TS_AddStream(&data, bytes, 3), 0);
    EXPECT_EQ(Bytes(data.lu8Buffer, data.lu8Buffer + data.u64Size), (Bytes{5, 6, 7, 8, 9, 10, 1, 2, 3}));
    EXPECT_EQ(data.u64Pos, 0u);
    static uint8_t full[TS_STREAM_BUFFER_SIZE];
    EXPECT_EQ(TS_AddStreamSimple(&simple, full, TS_STREAM_BUFFER_SIZE), 0);
    simple.u64Pos = 1;
    EXPECT_EQ(TS_AddStreamSimple(&simple, full, 2), -2);
    EXPECT_EQ(TS_AddStreamSimple(&simple, full, 1), 0);
}
