#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "rivulet/ts.h"
#include "tests/support/capture.h"

namespace {

std::string pidName(int pid) {
    char buffer[256];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(TS_Header_PIDToString(buffer, pid), 0);
    std::string name(buffer);
    EXPECT_EQ(buffer[name.size() + 1], 'X') << "byte behind the terminator was written";
    return name;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TS_Packet header(uint8_t tei, uint8_t pusi, uint8_t tp, uint16_t pid, uint8_t tsc, uint8_t afc,
                 uint8_t cc) {
    TS_Packet p{};
    p.sync_byte = 0x47;
    p.transport_error_indicator = tei;
    p.payload_unit_start_indicator = pusi;
    p.transport_priority = tp;
    p.PID = pid;
    p.transport_scrambling_control = tsc;
    p.adaptation_field_control = afc;
    p.continuity_counter = cc;
    return p;
}

TEST(PIDNames, NamesFollowTheAssignedRanges) {
    EXPECT_EQ(pidName(0x0000), "Program Association Table");
    EXPECT_EQ(pidName(0x0001), "Conditional Access Table");
    EXPECT_EQ(pidName(0x0002), "<reserved>");
    EXPECT_EQ(pidName(0x000F), "<reserved>");
    EXPECT_EQ(pidName(0x0010), "<assigned>");
    EXPECT_EQ(pidName(0x1FFE), "<assigned>");
    EXPECT_EQ(pidName(0x1FFF), "Null packet");
    EXPECT_EQ(pidName(0x2000), "?");
    EXPECT_EQ(pidName(0xFFFF), "?");
}

TEST(PIDNames, NullBufferIsRefused) { EXPECT_EQ(TS_Header_PIDToString(nullptr, 0), -1); }

TEST(PacketHeaderPrint, PrintsOneLabelledLine) {
    TS_Packet p = header(1, 0, 1, 0x0100, 2, 3, 15);
    int32_t status = 1;
    std::string out = tsb::captureStdout([&] { status = TS_Packet_PrintHeader(&p); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "[TS Packet Header] TEI:1 PUSI:0 TP:1 PID:0x0100(<assigned>) TSC:2 AFC:3 CN:15\n");
}

TEST(PacketHeaderPrint, PacketLineNamesPID) {
    TS_Packet p = header(0, 1, 0, 0x0000, 0, 1, 0);
    std::string out = tsb::captureStdout([&] { TS_Packet_Print(&p); });
    EXPECT_EQ(out, "[TS Packet] TEI:0 PUSI:1 TP:0 PID:0x0000(Program Association Table) TSC:0 AFC:1 CN:0\n");
}

TEST(PacketHeaderPrint, AdaptationFieldAddsNothing) {
    TS_Packet p = header(0, 0, 0, 0x1FFF, 0, 3, 7);
    p.adaptation_field.adaptation_field_length = 7;
    p.adaptation_field.PCR_flag = 1;
    std::string out = tsb::captureStdout([&] { EXPECT_EQ(TS_Packet_Print(&p), 0); });
    EXPECT_EQ(out, "[TS Packet] TEI:0 PUSI:0 TP:0 PID:0x1FFF(Null packet) TSC:0 AFC:3 CN:7\n");
    std::string silent =
        tsb::captureStdout([&] { TS_Packet_PrintAdaptationField(&p.adaptation_field); });
    EXPECT_EQ(silent, "");
}

TEST(PacketHeaderPrint, NullPacketPrintsNothing) {
    std::string out = tsb::captureStdout([&] {
        EXPECT_EQ(TS_Packet_PrintHeader(nullptr), -1);
        EXPECT_EQ(TS_Packet_Print(nullptr), -1);
        EXPECT_EQ(TS_Packet_Print_RAW(nullptr), -1);
    });
    EXPECT_EQ(out, "");
}

class RawPacketPrint : public ::testing::Test {
protected:
    void SetUp() override {
        // Byte i holds i, so every value names its own position.
        for (uint32_t i = 0; i < TS_PACKET_SIZE; ++i) packet[i] = uint8_t(i);
        packet[0] = 0x47;
        out = tsb::captureStdout([&] { status = TS_Packet_Print_RAW(packet); });
        lines = splitLines(out);
    }

    uint8_t packet[TS_PACKET_SIZE];
    int32_t status = 1;
    std::string out;
    std::vector<std::string> lines;
};

TEST_F(RawPacketPrint, HasFifteenLines) {
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 15u);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
}

TEST_F(RawPacketPrint, HeaderAndFirstSectionLines) {
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], "[TS Packet]");
    EXPECT_EQ(lines[1], "  Header: 0x47, 0x01, 0x02, 0x03, 0x04, ");
    EXPECT_EQ(lines[2], "  Section:");
    EXPECT_EQ(lines[3], "  0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, ");
    EXPECT_EQ(lines[4],
              "  0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, "
              "0x1D, 0x1E, 0x1F, ");
}

TEST_F(RawPacketPrint, LastLinesBreakOnPacketIndex) {
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[13],
              "  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, "
              "0xAD, 0xAE, 0xAF, ");
    EXPECT_EQ(lines[14],
              "  0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, ");
}

TEST_F(RawPacketPrint, FullLinesHoldSixteenValues) {
    ASSERT_EQ(lines.size(), 15u);
    // Two blanks, then six characters ("0xNN, ") per value.
    EXPECT_EQ(lines[3].size(), 2u + 11u * 6u);
    for (size_t i = 4; i <= 13; ++i) {
        EXPECT_EQ(lines[i].size(), 2u + 16u * 6u) << "line " << i;
        EXPECT_EQ(lines[i].substr(0, 4), "  0x") << "line " << i;
    }
    EXPECT_EQ(lines[14].size(), 2u + 12u * 6u);
}

}  // namespace
