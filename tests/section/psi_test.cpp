// PSI sections, PCRs and their printers: section bytes in (CRC from the
// builder's own bit-by-bit CRC), record parsed, text and answers out.

#include <cstring>
#include <memory>

#include <tuple>

#include "tests/support/test.h"
#include "ts/programs/service_list.h"
#include "ts/section/eit_present.h"

namespace {

std::string crcLine(const Bytes& s) { return "  CRC32:0x" + crcHex(s) + "\n"; }

template <class Record, class... Extra>
std::unique_ptr<Record> parsed(int32_t (*parse)(Record*, const TS_PreSection*, Extra...), const Bytes& s, Extra... extra) {
    auto record = std::make_unique<Record>();
    const TS_PreSection slot = sectionSlot(s);
    EXPECT_EQ(parse(record.get(), &slot, extra...), 0);
    return record;
}

template <class Record>
std::string printed(int32_t (*print)(const Record*), const Record* r) {
    Outcome o = captured([&] { return print(r); });
    EXPECT_EQ(o.status, 0);
    return o.out;
}

size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(PSI, CRC32) {
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, check, 9), 0x0376E6E7u);  // the check value of CRC-32/MPEG-2
    // Entry i is the register after feeding byte i into zero; the builder's
    // CRC starts from all ones, which the inverted byte cancels.
    for (uint32_t i = 0; i < 256; ++i) {
        uint8_t byte = uint8_t(i ^ 0xFF);
        EXPECT_EQ(g_lu32CRC32Table[i], tsb::crc32(&byte, 1) ^ 0xFFFFFF00u) << i;
    }
    // Every length around the eight bytes taken at once, and every offset of
    // the bytes within them, against the builder's bit by bit.
    Bytes bytes(40);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 37 + 11);
    for (size_t start = 0; start < 8; ++start) {
        for (size_t size = 0; start + size <= bytes.size(); ++size) {
            EXPECT_EQ(GetCRC32(0xFFFFFFFF, bytes.data() + start, size), tsb::crc32(bytes.data() + start, size)) << size;
        }
    }
}

TEST(PSI, PAT) {
    Bytes s = tsb::patSection(0x1234, 5, {{0, 0x10}, {0x0102, 0x1FFE}});
    EXPECT_EQ(printed(TS_PAT_Print, parsed(TS_PAT_FromPreSection, s).get()),
              "[PAT] TI:0x00(PAT) SSI:1 R1:3 SL:17 TSI:4660 R2:3 VN:5 CNI:1 SN:0 LSN:0\n  Program:2\n"
              "  PN:0 R3:7 NETPID:0x0010\n  PN:258 R3:7 PMTPID:0x1FFE\n" + crcLine(s));
    auto pat = parsed(TS_PAT_FromPreSection, s);
    pat->program_count = 300;  // a count beyond the array prints the array
    EXPECT_EQ(count(printed(TS_PAT_Print, pat.get()), " R3:"), size_t(TS_PAT_MAX_PROGRAMS));
    // Entries the section lists beyond those the record holds; none for a
    // section too short to list any.
    for (auto [length, held, dropped] : {std::tuple{17, 2, 0}, {9 + 4 * 300, 253, 47}, {5, 0, 0}}) {
        pat->section_length = uint16_t(length);
        pat->program_count = uint16_t(held);
        EXPECT_EQ(TS_PAT_DroppedPrograms(pat.get()), uint32_t(dropped)) << length;
    }
}

TEST(PSI, RebuiltPATPacketByteForByte) {
    TS_PAT pat{.section_syntax_indicator = 1, .reserved1 = 3, .section_length = 17, .transport_stream_id = 1,
               .reserved2 = 3, .version_number = 0, .current_next_indicator = 1, .program_count = 2};
    pat.programs[0] = {0, 7, 0x0010};
    pat.programs[1] = {2, 7, 0x0200};
    TS_Packet header{
        .sync_byte = 0x47, .payload_unit_start_indicator = 1, .adaptation_field_control = 1, .continuity_counter = 7};
    uint8_t out[188];
    ASSERT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
    Bytes expected = {0x47, 0x40, 0x00, 0x17, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x01, 0xC1, 0x00, 0x00,
                      0x00, 0x00, 0xE0, 0x10, 0x00, 0x02, 0xE2, 0x00, 0xEE, 0x24, 0xCE, 0xCC};
    expected.resize(188, 0xFF);
    EXPECT_EQ(tsb::hex(Bytes(out, out + 188)), tsb::hex(expected));
    header.PID = 0x1335;
    header.transport_error_indicator = header.transport_priority = 1;
    header.transport_scrambling_control = 2;
    pat.version_number = 31;
    ASSERT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
    EXPECT_EQ(tsb::hex(Bytes(out, out + 11)), "47 F3 35 97 00 00 B0 11 00 01 FF ");
    pat.program_count = 43;  // 12 + 4 * 43 + 4 bytes do not fit behind the pointer_field
    EXPECT_EQ(TS_PAT_ToPacket(out, &header, &pat), TS_ERR_PAT_TOO_LARGE);
    pat.program_count = 42;
    EXPECT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
}

TEST(PSI, PMT) {
    Bytes s = tsb::pmtSection(1, 0x100, tsb::concat({tsb::caDescriptor(0x0005, 0x200), tsb::caDescriptor(0x0500, 0x456)}),
                              {{0x1B, 0x100, {}}, {0x0F, 0x1FFE, tsb::descriptor(0x0A, {'j', 'p', 'n', 0})}}, 2);
    auto pmt = parsed(TS_PMT_FromPreSection, s, uint16_t(0x777));
    EXPECT_EQ(printed(TS_PMT_Print, pmt.get()),
              "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:41 TSI:1 R2:3 VER:2 CNI:1 SN:0 LSN:0 PCRPID:0x0100 PIL:12\n"
              "  DSC:2\n[D Conditional access] L:4 CASID:5 R:7 CAPID:0x0200\n  \n[D Conditional access] L:4 CASID:500 R:7 "
              "CAPID:0x0456\n  \n"
              "  ST:0x1B(ISO/IEC 14496-10 AVC Video) EPID:0x0100 ESIL:0 DSC:0\n  DSC:0\n"
              "  ST:0x0F(ISO/IEC 13818-7 Audio) EPID:0x1FFE ESIL:6 DSC:1\n  DSC:1\n"
              "[D ISO 639 language]\n  <0> ILC:6975598 AT:0\n" +
                  crcLine(s));
    uint16_t ca = 0;
    ASSERT_EQ(TS_GetCAPIDFromPMT(&ca, pmt.get()), 0);
    EXPECT_EQ(ca, 0x0200);  // the first of the program loop
    // Only the descriptors the record counts are read.
    pmt->descriptor_count = 1;
    pmt->descriptors[0].descriptor_tag = 0x05;
    ASSERT_EQ(TS_GetCAPIDFromPMT(&ca, pmt.get()), 0);
    EXPECT_EQ(ca, 0xFFFF);
    EXPECT_EQ(pmt->PMT_PID, 0x777);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x1FFE), 1);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x777), 0);
    // A CA descriptor of a stream is no program CA PID; a PCR PID of its own is no stream.
    pmt = parsed(TS_PMT_FromPreSection, tsb::pmtSection(1, 0x200, {}, {{0x02, 0x100, tsb::caDescriptor(1, 0x50)}}),
                 uint16_t(1));
    ASSERT_EQ(TS_GetCAPIDFromPMT(&ca, pmt.get()), 0);
    EXPECT_EQ(ca, 0xFFFF);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x0200), 0);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x0000), 0);  // what lies past its one stream is no stream
    // The record keeps 32 descriptors in each loop and 32 streams; one more marks it truncated.
    for (auto [program, stream, streams] : {std::tuple{32, 33, 1}, {33, 32, 1}, {32, 32, 1}, {0, 0, 33}}) {
        std::vector<tsb::Stream> loop(size_t(streams), tsb::Stream{0x02, 0x100, Bytes(2 * stream, 0)});
        pmt = parsed(TS_PMT_FromPreSection, tsb::pmtSection(1, 0x100, Bytes(2 * program, 0), loop), uint16_t(1));
        EXPECT_EQ((std::vector<int>{pmt->descriptor_count, pmt->streams[0].descriptor_count, pmt->stream_count}),
                  (std::vector<int>{std::min(program, 32), std::min(stream, 32), std::min(streams, 32)}));
        EXPECT_EQ(pmt->truncated, program > 32 || stream > 32 || streams > 32) << program << " " << stream << " " << streams;
    }
    // A stray byte behind the last descriptor is no descriptor.
    pmt = parsed(TS_PMT_FromPreSection, tsb::pmtSection(1, 0x100, Bytes(3, 0), {}), uint16_t(1));
    EXPECT_EQ(pmt->descriptor_count, 1);
    // One stream entry read alone: H.264 on PID 0x1234 with a descriptor of two bytes.
    const uint8_t entry[] = {0x1B, 0xF2, 0x34, 0xF0, 0x04, 0x52, 0x02, 0x01, 0x00};
    TS_PMT_StreamInfo stream{};
    ASSERT_EQ(TS_PMT_GetStreamInfo(&stream, entry, sizeof entry), 0);
    EXPECT_EQ((std::vector<int>{stream.stream_type, stream.elementary_PID, stream.ES_info_length, stream.descriptor_count}),
              (std::vector<int>{0x1B, 0x1234, 4, 1}));
}

TEST(PSI, CAPIDOfAnEmptyCAT) {
    Bytes empty = tsb::catSection({});
    auto cat = parsed(TS_CAT_FromPreSection, empty);
    EXPECT_EQ(printed(TS_CAT_Print, cat.get()),
              "[CAT] TI:0x01(CAT) SSI:1 R1:3 SL:9 TSI:65535 R2:3 VN:0 CNI:1 SN:0 LSN:0\n  DSC:0\n\n" + crcLine(empty));
    uint16_t ca = 0;
    ASSERT_EQ(TS_GetCAPIDFromCAT(&ca, cat.get()), 0);
    EXPECT_EQ(ca, 0xFFFF);
}

TEST(PSI, PrivateSectionsAndEMMs) {
    Bytes data;
    for (uint8_t i = 0; i < 23; ++i) data.push_back(i);
    const auto priv = TS_Section_PrintPrivate;
    const auto emm = TS_Section_PrintEMM;
    const struct {
        int32_t (*print)(const TS_Section_Private*);
        Bytes section;
        uint32_t dataLength;
        std::string text;
    } cases[] = {
        {priv,
         {0x90, 0x70, 3, 0xAA, 0xBB, 0xCC},
         3,
         "[Private] TI:0x90(<Carrier Definition>) SSI:0 PI:1 R1:3 PSL:3\n  0xAA, 0xBB, 0xCC, \n"},
        {emm,
         {0x85, 0x70, 9, 1, 2, 3, 4, 5, 6, 6, 7, 8},
         9,
         "[EMM] TI:0x85(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:9\n  CardID:1108152157446(0x10203040506)\n  0x06, 0x07, 0x08, \n"},
        {emm, {0x85, 0x70, 6, 1, 2, 3, 4, 5, 6}, 6,  // the card ID alone
         "[EMM] TI:0x85(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:6\n  CardID:1108152157446(0x10203040506)\n  \n"},
        {emm, tsb::concat({{0x84, 0x70, 23}, Bytes(6, 0xFF), Bytes(data.begin() + 6, data.end())}), 23,
         "[EMM] TI:0x84(EMM EMM-S) SSI:0 PI:1 R1:3 PSL:23\n  CardID:281474976710655(0xffffffffffff)\n"
         "  0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, \n  0x16, \n"},
    };
    for (const auto& c : cases) {
        auto section = parsed(TS_Section_PrivateFromPreSection, c.section);
        EXPECT_EQ(printed(c.print, section.get()), c.text) << tsb::hex(c.section);
        EXPECT_EQ(TS_Section_PrivateDataLength(section.get()), c.dataLength) << tsb::hex(c.section);
    }
    uint64_t card = 0;
    ASSERT_EQ(TS_Section_GetCardIdFromEMM(&card, parsed(TS_Section_PrivateFromPreSection, cases[1].section).get()), 0);
    EXPECT_EQ(card, 0x10203040506u);
    // 16 bytes received of a section that claims 4000: nothing comes from beyond them.
    Bytes cut = {0x80, 0x0F, 0xA0};
    cut.resize(16, 0x77);
    TS_PreSection slot = sectionSlot(cut);
    std::memset(slot.body + 16, 0x99, 64);  // stale bytes of an earlier section
    auto section = std::make_unique<TS_Section_Private>();
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), &slot), 0);
    EXPECT_EQ(TS_Section_PrivateDataLength(section.get()), 2925u);  // the record's room, less the header
    EXPECT_EQ(section->private_data_byte[12], 0x77);
    EXPECT_EQ(section->private_data_byte[13], 0x00);
}

TEST(PSI, PCRsAsClockTimes) {
    TS_AdaptationField field{};
    for (uint8_t* flag : {&field.discontinuity_indicator, &field.random_access_indicator, &field.elementary_stream_priority_indicator,
                          &field.PCR_flag, &field.OPCR_flag, &field.splicing_point_flag, &field.transport_private_data_flag,
                          &field.adaptation_field_extension_flag}) *flag = 1;
    TS_PCR fromField{};
    ASSERT_EQ(TS_PCR_FromAdaptationField(&fromField, &field), 0);
    EXPECT_EQ(fromField.leading_byte, 0xFF);  // each flag its own bit
    const std::pair<uint64_t, std::string> cases[] = {
        {0, "0(00:00:00.000)"}, {324000000, "324000000(01:00:00.000)"}, {5490089, "5490089(00:01:01.000)"}, // 1 tick short
    };
    for (const auto& [base, text] : cases) {
        TS_PCR pcr{};
        ASSERT_EQ(TS_PCR_Import(&pcr, tsb::pcrAdaptation(base, 299).data()), 0);
        EXPECT_EQ(printed(TS_PCR_Print, &pcr), "[PCR] TI:0x10(?) PB:" + text + " R:63 PE:299\n");
    }
}

// Event starts from a Modified Julian Date and BCD time; the dates worked by hand.
TEST(PSI, EventStartsAsDatesOrNothing) {
    const std::tuple<uint16_t, uint8_t, uint8_t, std::string> cases[] = {
        {45218, 0x12, 0x45, "19820906-1245"}, {60369, 0x00, 0x00, "20240229-0000"}, {60370, 0x23, 0x59, "20240301-2359"},
        {45218, 0x24, 0x00, ""}, {45218, 0x23, 0x60, ""}, {45218, 0x1A, 0x00, ""}, {45218, 0x00, 0x0A, ""},
        {0xFFFF, 0x00, 0x00, ""},
    };
    for (const auto& [mjd, hours, minutes, text] : cases) {
        char out[16];
        rivulet::formatEventStart(out, mjd, hours, minutes);
        EXPECT_EQ(out, text) << mjd << " " << int(hours) << " " << int(minutes);
    }
    // Ends: start (BCD hhmmss) plus duration (BCD hhmmss), across midnight
    // and a leap day; durations up to 99 hours.
    const std::tuple<uint16_t, uint32_t, uint32_t, std::string, std::string> ends[] = {
        {60369, 0x000000, 0x005959, "20240229-0059", "0059"}, {60369, 0x233000, 0x010000, "20240301-0030", "0100"},
        {60369, 0x120000, 0x995900, "20240304-1559", "9959"},  {60369, 0x120000, 0x006000, "", ""},
        {0xFFFF, 0x120000, 0x013000, "", "0130"},            {60369, 0x240000, 0x013000, "", "0130"},
    };
    for (const auto& [mjd, start, duration, end, length] : ends) {
        char endText[16];
        char lengthText[8];
        rivulet::formatEventEnd(endText, lengthText, mjd, start, duration);
        EXPECT_EQ(endText, end) << std::hex << start << " " << duration;
        EXPECT_EQ(lengthText, length) << std::hex << start << " " << duration;
    }
}

// ARIB's networks: the BS and CS satellites' and the terrestrial areas' ids;
// their neighbours are not.
TEST(PSI, ISDBNetworksByTheirIds) {
    const std::pair<uint16_t, bool> cases[] = {
        {0x0004, true},  {0x0006, true},  {0x0007, true},  {0x000A, true},  {0x7880, true},  {0x7FEF, true},
        {0x0003, false}, {0x0005, false}, {0x0008, false}, {0x000B, false}, {0x787F, false}, {0x7FF0, false},
    };
    for (const auto& [network, isdb] : cases) EXPECT_EQ(rivulet::isISDBNetwork(network), isdb) << std::hex << network;
}
