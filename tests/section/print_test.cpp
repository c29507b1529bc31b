// The printers of packets, PSI sections and PCRs: bytes in, parsed, text out.
// CRC values come from the builder's own bit-by-bit CRC.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "rivulet/ts.h"
#include "tests/support/run.h"
#include "tools/stream_builder.h"

using tsb::Bytes;

namespace {

const TS_PreSection* slotOf(const Bytes& section) {
    static TS_PreSection slot;
    TS_PreSection_Initialise(&slot);
    std::memcpy(slot.body, section.data(), section.size());
    slot.section_total_length = slot.received_length = uint16_t(section.size());
    return &slot;
}

std::string crcLine(const Bytes& s) {
    char line[32];
    std::snprintf(line, sizeof line, "  CRC32:0x%02X%02X%02X%02X\n", s[s.size() - 4], s[s.size() - 3], s[s.size() - 2],
                  s[s.size() - 1]);
    return line;
}

template <class Record>
std::string printed(int32_t (*parse)(Record*, const TS_PreSection*), int32_t (*print)(const Record*), const Bytes& s) {
    auto record = std::make_unique<Record>();
    EXPECT_EQ(parse(record.get(), slotOf(s)), 0);
    Outcome o = captured([&] { return print(record.get()); });
    EXPECT_EQ(o.status, 0);
    return o.out;
}

std::string pmtPrinted(const Bytes& s) {
    auto pmt = std::make_unique<TS_PMT>();
    EXPECT_EQ(TS_PMT_FromPreSection(pmt.get(), slotOf(s), 0x100), 0);
    return captured([&] { return TS_PMT_Print(pmt.get()); }).out;
}

std::string pcrPrinted(uint8_t leading, uint64_t base, uint16_t extension) {
    Bytes bytes = tsb::pcrAdaptation(base, extension);
    bytes[0] = leading;
    TS_PCR pcr{};
    EXPECT_EQ(TS_PCR_Import(&pcr, bytes.data()), 0);
    return captured([&] { return TS_PCR_Print(&pcr); }).out;
}

}  // namespace

TEST(Print, Sections) {
    const Bytes pat = tsb::patSection(0x1234, 5, {{0, 0x10}, {0x0102, 0x100}});
    const Bytes cat = tsb::catSection(tsb::caDescriptor(0x0B00, 0x20), 2), emptyCAT = tsb::catSection({}, 2);
    const Bytes pmt = tsb::pmtSection(1, 0x100, tsb::caDescriptor(0x0005, 0x200),
                                      {{0x1B, 0x100, {}}, {0x0F, 0x101, tsb::descriptor(0x0A, {'j', 'p', 'n', 0})}}, 2);
    const Bytes pmtAlone = tsb::pmtSection(1, 0x100, {}, {}, 2);
    EXPECT_EQ(printed(TS_PAT_FromPreSection, TS_PAT_Print, pat),
              "[PAT] TI:0x00(PAT) SSI:1 R1:3 SL:17 TSI:4660 R2:3 VN:5 CNI:1 SN:0 LSN:0\n  Program:2\n"
              "  PN:0 R3:7 NETPID:0x0010\n  PN:258 R3:7 PMTPID:0x0100\n" + crcLine(pat));
    EXPECT_EQ(printed(TS_CAT_FromPreSection, TS_CAT_Print, cat),
              "[CAT] TI:0x01(CAT) SSI:1 R1:3 SL:15 TSI:65535 R2:3 VN:2 CNI:1 SN:0 LSN:0\n  DSC:1\n"
              "[D Conditional access] L:4 CASID:B00 R:7 CAPID:0x0020\n  \n\n" + crcLine(cat));
    EXPECT_EQ(printed(TS_CAT_FromPreSection, TS_CAT_Print, emptyCAT),
              "[CAT] TI:0x01(CAT) SSI:1 R1:3 SL:9 TSI:65535 R2:3 VN:2 CNI:1 SN:0 LSN:0\n  DSC:0\n\n" + crcLine(emptyCAT));
    EXPECT_EQ(pmtPrinted(pmt),
              "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:35 TSI:1 R2:3 VER:2 CNI:1 SN:0 LSN:0 PCRPID:0x0100 PIL:6\n"
              "  DSC:1\n[D Conditional access] L:4 CASID:5 R:7 CAPID:0x0200\n  \n"
              "  ST:0x1B(ISO/IEC 14496-10 AVC Video) EPID:0x0100 ESIL:0 DSC:0\n  DSC:0\n"
              "  ST:0x0F(ISO/IEC 13818-7 Audio) EPID:0x0101 ESIL:6 DSC:1\n  DSC:1\n"
              "[D ISO 639 language]\n  <0> ILC:6975598 AT:0\n" + crcLine(pmt));
    EXPECT_EQ(pmtPrinted(pmtAlone),
              "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:13 TSI:1 R2:3 VER:2 CNI:1 SN:0 LSN:0 PCRPID:0x0100 PIL:0\n"
              "  DSC:0\n" + crcLine(pmtAlone));
}

TEST(Print, PrivateSectionsAndEMMs) {
    Bytes data;
    for (uint8_t i = 0; i < 23; ++i) data.push_back(i);
    const Bytes ff6 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes longECM = tsb::concat({{0x82, 0xF0, 29, 0x01, 0x02, 0xC3, 0, 0}, Bytes(data.begin(), data.begin() + 20),
                                       {0x11, 0x22, 0x33, 0x44}});
    const Bytes longEMM = {0x84, 0xB0, 15, 0x01, 0x02, 0xC3, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x11, 0x22, 0x33, 0x44};
    const auto priv = TS_Section_PrintPrivate;
    const auto emm = TS_Section_PrintEMM;
    const struct {
        int32_t (*print)(const TS_Section_Private*);
        Bytes section;
        std::string text;
    } cases[] = {
        {priv, longECM,
         "[Private] TI:0x82(ECM ECM-S) SSI:1 PI:1 R1:3 PSL:29 TE:258 R2:3 VN:1 CNI:1 SN:0 LSN:0\n"
         "  0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, \n"
         "  0x10, 0x11, 0x12, 0x13, \n  CRC32:0x11223344\n"},
        {priv, {0x90, 0x70, 3, 0xAA, 0xBB, 0xCC}, "[Private] TI:0x90(<Carrier Definition>) SSI:0 PI:1 R1:3 PSL:3\n  0xAA, 0xBB, 0xCC, \n"},
        {priv, {0x80, 0x70, 0}, "[Private] TI:0x80(?) SSI:0 PI:1 R1:3 PSL:0\n  \n"},
        {emm, longEMM,
         "[EMM] TI:0x84(EMM EMM-S) SSI:1 PI:0 R1:3 PSL:15 TE:258 R2:3 VN:1 CNI:1 SN:0 LSN:0\n"
         "  CardID:305419896(0x12345678)\n  \n  CRC32:0x11223344\n"},
        {emm, {0x85, 0x70, 9, 1, 2, 3, 4, 5, 6, 6, 7, 8},
         "[EMM] TI:0x85(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:9\n  CardID:1108152157446(0x10203040506)\n  0x06, 0x07, 0x08, \n"},
        {emm, tsb::concat({{0x84, 0x70, 23}, ff6, Bytes(data.begin() + 6, data.end())}),
         "[EMM] TI:0x84(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:23\n  CardID:281474976710655(0xffffffffffff)\n"
         "  0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, \n  0x16, \n"},
        {emm, {0x84, 0x70, 2, 0x01, 0x00}, "[EMM] TI:0x84(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:2\n  CardID:1099511627776(0x10000000000)\n  \n"},
    };
    for (const auto& c : cases) EXPECT_EQ(printed(TS_Section_PrivateFromPreSection, c.print, c.section), c.text) << tsb::hex(c.section);
}

TEST(Print, PCRsAsClockTimes) {
    EXPECT_EQ(pcrPrinted(0x10, 0, 299), "[PCR] TI:0x10(?) PB:0(00:00:00.000) R:63 PE:299\n");
    EXPECT_EQ(pcrPrinted(0x50, 324000000, 0), "[PCR] TI:0x50(EIT Self Scedule) PB:324000000(01:00:00.000) R:63 PE:0\n");
    EXPECT_EQ(pcrPrinted(0x10, 8589934591ull, 0), "[PCR] TI:0x10(?) PB:8589934591(26:30:43.717) R:63 PE:0\n");
    EXPECT_EQ(pcrPrinted(0x10, 7ull * 324000000 + 90, 0), "[PCR] TI:0x10(?) PB:2268000090(07:00:00.001) R:63 PE:0\n");
    EXPECT_EQ(pcrPrinted(0x10, 5490089, 0), "[PCR] TI:0x10(?) PB:5490089(00:01:01.000) R:63 PE:0\n");  // a tick short
}

TEST(Print, Packets) {
    auto header = [](std::initializer_list<uint8_t> head) {
        static uint8_t bytes[188];
        std::memset(bytes, 0, sizeof bytes);
        std::copy(head.begin(), head.end(), bytes);
        static TS_Packet packet;
        EXPECT_EQ(TS_Packet_Get(&packet, bytes), 0);
        return &packet;
    };
    EXPECT_EQ(captured([&] { return TS_Packet_PrintHeader(header({0x47, 0xA1, 0x00, 0xBF})); }).out,
              "[TS Packet Header] TEI:1 PUSI:0 TP:1 PID:0x0100(<assigned>) TSC:2 AFC:3 CN:15\n");
    EXPECT_EQ(captured([&] { return TS_Packet_Print(header({0x47, 0x40, 0x00, 0x10})); }).out,
              "[TS Packet] TEI:0 PUSI:1 TP:0 PID:0x0000(Program Association Table) TSC:0 AFC:1 CN:0\n");
    const TS_Packet* null = header({0x47, 0x1F, 0xFF, 0x37, 7, 0x10});
    EXPECT_EQ(captured([&] { return TS_Packet_Print(null); }).out,
              "[TS Packet] TEI:0 PUSI:0 TP:0 PID:0x1FFF(Null packet) TSC:0 AFC:3 CN:7\n");
    EXPECT_EQ(captured([&] { TS_Packet_PrintAdaptationField(&null->adaptation_field); return 0; }).out, "");

    // Byte i holds i: sixteen values to a line, lines breaking on the packet index.
    uint8_t raw[188];
    for (int i = 0; i < 188; ++i) raw[i] = uint8_t(i);
    raw[0] = 0x47;
    std::string expected = "[TS Packet]\n  Header: 0x47, 0x01, 0x02, 0x03, 0x04, \n  Section:\n  ";
    char item[8];
    for (int i = 5; i < 188; ++i) {
        std::snprintf(item, sizeof item, "0x%02X, ", i);
        expected += item + std::string(i % 16 == 15 ? "\n  " : "");
    }
    EXPECT_EQ(captured([&] { return TS_Packet_Print_RAW(raw); }).out, expected + "\n");
}

TEST(Print, CountsBeyondCapacityStopAtTheArraysAndNullIsRefused) {
    auto pat = std::make_unique<TS_PAT>();
    pat->program_count = 100;
    for (auto& program : pat->programs) program = {1, 0, 0x0020};
    std::string out = captured([&] { return TS_PAT_Print(pat.get()); }).out;
    EXPECT_NE(out.find("  Program:100\n"), std::string::npos);
    auto count = [](const std::string& text, const std::string& needle) {
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(out, "PMTPID:0x0020\n"), size_t(TS_PAT_MAX_PROGRAMS));
    auto pmt = std::make_unique<TS_PMT>();
    pmt->descriptor_count = pmt->stream_count = pmt->streams[0].descriptor_count = 40;
    out = captured([&] { return TS_PMT_Print(pmt.get()); }).out;
    EXPECT_EQ(count(out, "  ST:0x00("), size_t(TS_PMT_MAX_STREAMS));
    EXPECT_EQ(count(out, "[D ?] T:0x00 L:0\n"), size_t(2 * TS_MAX_DESCRIPTORS));

    Outcome none = captured([] {
        return TS_PAT_Print(nullptr) + TS_CAT_Print(nullptr) + TS_PMT_Print(nullptr) + TS_PCR_Print(nullptr) +
               TS_Section_PrintPrivate(nullptr) + TS_Section_PrintEMM(nullptr) + TS_Packet_Print(nullptr) +
               TS_Packet_PrintHeader(nullptr) + TS_Packet_Print_RAW(nullptr) + TS_Descriptor_Print(nullptr) +
               TS_Descriptor_PrintRAW(nullptr);
    });
    EXPECT_EQ(none.status, -11);
    EXPECT_EQ(none.out, "");
}
