#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "rivulet/ts.h"
#include "tests/support/capture.h"

namespace {

size_t countOf(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

template <typename Record>
std::string printed(int32_t (*printer)(const Record*), const Record& record) {
    int32_t status = 1;
    std::string out = tsb::captureStdout([&] { status = printer(&record); });
    EXPECT_EQ(status, 0);
    return out;
}

TEST(PATPrint, NetworkAndProgramEntries) {
    TS_PAT pat{};
    pat.table_id = 0x00;
    pat.section_syntax_indicator = 1;
    pat.reserved1 = 3;
    pat.section_length = 17;
    pat.transport_stream_id = 0x1234;
    pat.reserved2 = 3;
    pat.version_number = 5;
    pat.current_next_indicator = 1;
    pat.program_count = 2;
    pat.programs[0] = {0, 7, 0x0010};
    pat.programs[1] = {0x0102, 7, 0x0100};
    pat.programs[2] = {9, 7, 0x0999};  // beyond program_count
    pat.CRC_32 = 0xDEADBEEF;
    EXPECT_EQ(printed(TS_PAT_Print, pat),
              "[PAT] TI:0x00(PAT) SSI:1 R1:3 SL:17 TSI:4660 R2:3 VN:5 CNI:1 SN:0 LSN:0\n"
              "  Program:2\n"
              "  PN:0 R3:7 NETPID:0x0010\n"
              "  PN:258 R3:7 PMTPID:0x0100\n"
              "  CRC32:0xDEADBEEF\n");
}

TEST(PATPrint, CountBeyondCapacityStopsAtTheArray) {
    TS_PAT pat{};
    pat.program_count = 100;
    for (auto& program : pat.programs) program = {1, 0, 0x0020};
    std::string out = printed(TS_PAT_Print, pat);
    EXPECT_NE(out.find("  Program:100\n"), std::string::npos);
    EXPECT_EQ(countOf(out, "PMTPID:0x0020\n"), size_t(TS_PAT_MAX_PROGRAMS));
}

class CATPrint : public ::testing::Test {
protected:
    void SetUp() override {
        cat = std::make_unique<TS_CAT>();
        cat->table_id = 0x01;
        cat->section_syntax_indicator = 1;
        cat->reserved1 = 3;
        cat->transport_stream_id = 0xFFFF;
        cat->reserved2 = 3;
        cat->version_number = 2;
        cat->current_next_indicator = 1;
        cat->CRC_32 = 0x01020304;
    }
    std::unique_ptr<TS_CAT> cat;
};

TEST_F(CATPrint, EmptyLineBeforeCRC) {
    cat->section_length = 9;
    EXPECT_EQ(printed(TS_CAT_Print, *cat),
              "[CAT] TI:0x01(CAT) SSI:1 R1:3 SL:9 TSI:65535 R2:3 VN:2 CNI:1 SN:0 LSN:0\n"
              "  DSC:0\n"
              "\n"
              "  CRC32:0x01020304\n");
}

TEST_F(CATPrint, DescriptorsInOrder) {
    cat->section_length = 15;
    cat->descriptor_count = 1;
    TS_Descriptor& ca = cat->descriptors[0];
    ca.descriptor_tag = TS_TAG_CONDITIONAL_ACCESS;
    ca.descriptor_length = 4;
    ca.conditional_access.CA_system_ID = 0x0B00;
    ca.conditional_access.reserved = 7;
    ca.conditional_access.CA_PID = 0x0020;
    EXPECT_EQ(printed(TS_CAT_Print, *cat),
              "[CAT] TI:0x01(CAT) SSI:1 R1:3 SL:15 TSI:65535 R2:3 VN:2 CNI:1 SN:0 LSN:0\n"
              "  DSC:1\n"
              "[D Conditional access] L:4 CASID:B00 R:7 CAPID:0x0020\n"
              "  \n"
              "\n"
              "  CRC32:0x01020304\n");
}

class PMTPrint : public ::testing::Test {
protected:
    void SetUp() override {
        pmt = std::make_unique<TS_PMT>();
        TS_PMT& p = *pmt;
        p.table_id = 0x02;
        p.section_syntax_indicator = 1;
        p.reserved1 = 3;
        p.section_length = 42;
        p.program_number = 1;
        p.reserved2 = 3;
        p.version_number = 2;
        p.current_next_indicator = 1;
        p.PCR_PID = 0x0100;
        p.CRC_32 = 0xCAFEF00D;
    }
    std::unique_ptr<TS_PMT> pmt;
};

TEST_F(PMTPrint, ProgramAndStreamDescriptors) {
    TS_PMT& p = *pmt;
    p.program_info_length = 6;
    p.descriptor_count = 1;
    p.descriptors[0].descriptor_tag = TS_TAG_CONDITIONAL_ACCESS;
    p.descriptors[0].descriptor_length = 4;
    p.descriptors[0].conditional_access.CA_system_ID = 0x0005;
    p.descriptors[0].conditional_access.reserved = 7;
    p.descriptors[0].conditional_access.CA_PID = 0x0200;
    p.stream_count = 2;
    p.streams[0].stream_type = 0x1B;
    p.streams[0].elementary_PID = 0x0100;
    p.streams[1].stream_type = 0x0F;
    p.streams[1].elementary_PID = 0x0101;
    p.streams[1].ES_info_length = 6;
    p.streams[1].descriptor_count = 1;
    p.streams[1].descriptors[0].descriptor_tag = TS_TAG_ISO_639_LANGUAGE;
    p.streams[1].descriptors[0].descriptor_length = 4;
    p.streams[1].descriptors[0].iso639_language.entries[0] = {0x6A706E, 0};  // "jpn"
    EXPECT_EQ(printed(TS_PMT_Print, p),
              "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:42 TSI:1 R2:3 VER:2 CNI:1 SN:0 LSN:0 "
              "PCRPID:0x0100 PIL:6\n"
              "  DSC:1\n"
              "[D Conditional access] L:4 CASID:5 R:7 CAPID:0x0200\n"
              "  \n"
              "  ST:0x1B(ISO/IEC 14496-10 AVC Video) EPID:0x0100 ESIL:0 DSC:0\n"
              "  DSC:0\n"
              "  ST:0x0F(ISO/IEC 13818-7 Audio) EPID:0x0101 ESIL:6 DSC:1\n"
              "  DSC:1\n"
              "[D ISO 639 language]\n"
              "  <0> ILC:6975598 AT:0\n"
              "  CRC32:0xCAFEF00D\n");
}

TEST_F(PMTPrint, NoDescriptorsNoStreams) {
    pmt->section_length = 13;
    EXPECT_EQ(printed(TS_PMT_Print, *pmt),
              "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:13 TSI:1 R2:3 VER:2 CNI:1 SN:0 LSN:0 "
              "PCRPID:0x0100 PIL:0\n"
              "  DSC:0\n"
              "  CRC32:0xCAFEF00D\n");
}

TEST_F(PMTPrint, CountsBeyondCapacityStopAtTheArrays) {
    TS_PMT& p = *pmt;
    p.descriptor_count = 40;
    p.stream_count = 40;
    p.streams[0].descriptor_count = 40;
    std::string out = printed(TS_PMT_Print, p);
    EXPECT_EQ(countOf(out, "  ST:0x00(<ISO/IEC Reserved>)"), size_t(TS_PMT_MAX_STREAMS));
    // Zeroed records carry tag 0 and print raw.
    EXPECT_EQ(countOf(out, "[D ?] T:0x00 L:0\n"), size_t(2 * TS_MAX_DESCRIPTORS));
    EXPECT_EQ(countOf(out, "DSC:40\n"), 3u);  // program line, stream 0's two lines
}

TEST(PCRPrint, ClockTimes) {
    TS_PCR pcr{};
    pcr.leading_byte = 0x10;
    pcr.PCR_reserved = 63;
    pcr.program_clock_reference_extension = 299;
    EXPECT_EQ(printed(TS_PCR_Print, pcr), "[PCR] TI:0x10(?) PB:0(00:00:00.000) R:63 PE:299\n");

    pcr.leading_byte = 0x50;
    pcr.PCR_reserved = 0;
    pcr.program_clock_reference_extension = 0;
    pcr.program_clock_reference_base = 324000000;
    EXPECT_EQ(printed(TS_PCR_Print, pcr),
              "[PCR] TI:0x50(EIT Self Scedule) PB:324000000(01:00:00.000) R:0 PE:0\n");

    pcr.program_clock_reference_base = 8589934591ULL;
    EXPECT_EQ(printed(TS_PCR_Print, pcr),
              "[PCR] TI:0x50(EIT Self Scedule) PB:8589934591(26:30:43.717) R:0 PE:0\n");

    pcr.program_clock_reference_base = 7ULL * 324000000 + 90;
    EXPECT_EQ(printed(TS_PCR_Print, pcr),
              "[PCR] TI:0x50(EIT Self Scedule) PB:2268000090(07:00:00.001) R:0 PE:0\n");

    pcr.program_clock_reference_base = 5400000 + 90000 + 89;  // one tick short of a millisecond
    EXPECT_EQ(printed(TS_PCR_Print, pcr),
              "[PCR] TI:0x50(EIT Self Scedule) PB:5490089(00:01:01.000) R:0 PE:0\n");
}

class PrivatePrint : public ::testing::Test {
protected:
    void SetUp() override {
        section = std::make_unique<TS_Section_Private>();
        section->reserved1 = 3;
    }
    void makeLong(uint8_t tableId, uint16_t length) {
        TS_Section_Private& s = *section;
        s.table_id = tableId;
        s.section_syntax_indicator = 1;
        s.private_indicator = 1;
        s.private_section_length = length;
        s.table_id_extension = 0x0102;
        s.reserved2 = 3;
        s.version_number = 1;
        s.current_next_indicator = 1;
        s.CRC_32 = 0x11223344;
    }
    void makeShort(uint8_t tableId, uint16_t length) {
        section->table_id = tableId;
        section->private_indicator = 1;
        section->private_section_length = length;
    }
    void fillData(uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) section->private_data_byte[i] = uint8_t(i);
    }
    std::unique_ptr<TS_Section_Private> section;
};

TEST_F(PrivatePrint, LongSyntaxDumpsLengthLessNine) {
    makeLong(0x82, 29);
    fillData(24);  // four more than the section holds
    EXPECT_EQ(printed(TS_Section_PrintPrivate, *section),
              "[Private] TI:0x82(ECM ECM-S) SSI:1 PI:1 R1:3 PSL:29 TE:258 R2:3 VN:1 CNI:1 SN:0 LSN:0\n"
              "  0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, "
              "0x0E, 0x0F, \n"
              "  0x10, 0x11, 0x12, 0x13, \n"
              "  CRC32:0x11223344\n");
}

TEST_F(PrivatePrint, ShortSyntaxHasNoExtensionNorCRC) {
    makeShort(0x90, 3);
    section->private_data_byte[0] = 0xAA;
    section->private_data_byte[1] = 0xBB;
    section->private_data_byte[2] = 0xCC;
    EXPECT_EQ(printed(TS_Section_PrintPrivate, *section),
              "[Private] TI:0x90(<Carrier Definition>) SSI:0 PI:1 R1:3 PSL:3\n"
              "  0xAA, 0xBB, 0xCC, \n");
}

TEST_F(PrivatePrint, EmptyShortSection) {
    makeShort(0x80, 0);
    EXPECT_EQ(printed(TS_Section_PrintPrivate, *section), "[Private] TI:0x80(?) SSI:0 PI:1 R1:3 PSL:0\n  \n");
}

TEST_F(PrivatePrint, OverlongLengthStaysInsideTheRecord) {
    makeShort(0x80, 4095);
    std::string out = printed(TS_Section_PrintPrivate, *section);
    size_t values = countOf(out, ", ");
    EXPECT_EQ(values, size_t(TS_Section_PrivateDataLength(section.get())));
    EXPECT_LE(values, size_t(TS_PRIVATE_DATA_SIZE));
}

TEST_F(PrivatePrint, EmmWithOnlyCardId) {
    makeLong(0x84, 15);
    section->private_indicator = 0;
    const uint8_t card[] = {0x00, 0x00, 0x12, 0x34, 0x56, 0x78};
    for (int i = 0; i < 6; ++i) section->private_data_byte[i] = card[i];
    section->private_data_byte[6] = 0xEE;  // beyond the section
    EXPECT_EQ(printed(TS_Section_PrintEMM, *section),
              "[EMM] TI:0x84(EMM EMM-S) SSI:1 PI:0 R1:3 PSL:15 TE:258 R2:3 VN:1 CNI:1 SN:0 LSN:0\n"
              "  CardID:305419896(0x12345678)\n"
              "  \n"
              "  CRC32:0x11223344\n");
}

TEST_F(PrivatePrint, EmmDumpsBytesBehindCardId) {
    makeShort(0x85, 9);
    fillData(9);
    for (int i = 0; i < 6; ++i) section->private_data_byte[i] = uint8_t(i + 1);
    EXPECT_EQ(printed(TS_Section_PrintEMM, *section),
              "[EMM] TI:0x85(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:9\n"
              "  CardID:1108152157446(0x10203040506)\n"
              "  0x06, 0x07, 0x08, \n");
}

TEST_F(PrivatePrint, EmmLargestCardIdAndLineBreakOnDataIndex) {
    makeShort(0x84, 6 + 17);
    fillData(23);
    for (int i = 0; i < 6; ++i) section->private_data_byte[i] = 0xFF;
    EXPECT_EQ(printed(TS_Section_PrintEMM, *section),
              "[EMM] TI:0x84(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:23\n"
              "  CardID:281474976710655(0xffffffffffff)\n"
              "  0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, "
              "0x14, 0x15, \n"
              "  0x16, \n");
}

TEST_F(PrivatePrint, EmmShorterThanCardIdDumpsNothing) {
    makeShort(0x84, 2);
    section->private_data_byte[0] = 0x01;
    EXPECT_EQ(printed(TS_Section_PrintEMM, *section),
              "[EMM] TI:0x84(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:2\n"
              "  CardID:1099511627776(0x10000000000)\n"
              "  \n");
}

TEST(SectionPrint, NullRecordsAreRefusedSilently) {
    std::string out = tsb::captureStdout([] {
        EXPECT_EQ(TS_PAT_Print(nullptr), -1);
        EXPECT_EQ(TS_CAT_Print(nullptr), -1);
        EXPECT_EQ(TS_PMT_Print(nullptr), -1);
        EXPECT_EQ(TS_PCR_Print(nullptr), -1);
        EXPECT_EQ(TS_Section_PrintPrivate(nullptr), -1);
        EXPECT_EQ(TS_Section_PrintEMM(nullptr), -1);
    });
    EXPECT_EQ(out, "");
}

}  // namespace
