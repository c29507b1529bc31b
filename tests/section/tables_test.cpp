// The PSI records: CRC-32, PAT (parsed and rebuilt), PMT, CAT, private
// sections and PCRs, from sections the builder wrote with its own CRC.
#include <gtest/gtest.h>

#include <cstring>

#include "rivulet/ts.h"
#include "tools/stream_builder.h"

using tsb::Bytes;

namespace {

// A whole section in a slot, as reassembly leaves it.
const TS_PreSection& slotOf(const Bytes& section) {
    static TS_PreSection slot;
    TS_PreSection_Initialise(&slot);
    std::memcpy(slot.body, section.data(), section.size());
    slot.section_total_length = slot.received_length = uint16_t(section.size());
    return slot;
}

TS_PMT pmt;
TS_CAT cat;
TS_Section_Private priv;

}  // namespace

TEST(CRC32, CheckValueAndTable) {
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, check, 9), 0x0376E6E7u);  // the check value of CRC-32/MPEG-2
    EXPECT_EQ(GetCRC32(0x12345678, check, 0), 0x12345678u);
    // Entry i is the register after feeding byte i into zero; the builder's
    // bit-by-bit CRC starts from all ones, which the inverted byte cancels.
    for (uint32_t i = 0; i < 256; ++i) {
        uint8_t byte = uint8_t(i ^ 0xFF);
        EXPECT_EQ(g_lu32CRC32Table[i], tsb::crc32(&byte, 1) ^ 0xFFFFFF00u) << i;
    }
}

TEST(PAT, ParsesHeaderAndEntriesUpToItsCapacity) {
    TS_PAT pat{};
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, &slotOf(tsb::patSection(0x1234, 5, {{0, 0x10}, {0x0102, 0x1FFE}}))), 0);
    EXPECT_EQ(std::vector<int>({pat.table_id, pat.section_syntax_indicator, pat.reserved1, pat.section_length,
                                pat.transport_stream_id, pat.reserved2, pat.version_number,
                                pat.current_next_indicator, pat.program_count, pat.valid}),
              std::vector<int>({0, 1, 3, 17, 0x1234, 3, 5, 1, 2, 1}));
    EXPECT_EQ(std::vector<int>({pat.programs[0].program_number, pat.programs[0].reserved, pat.programs[0].program_map_PID,
                                pat.programs[1].program_number, pat.programs[1].program_map_PID}),
              std::vector<int>({0, 7, 0x10, 0x0102, 0x1FFE}));
    std::vector<tsb::Program> seventy;
    for (uint16_t i = 1; i <= 70; ++i) seventy.push_back({i, uint16_t(0x100 + i)});
    Bytes big = tsb::patSection(1, 0, seventy);
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, &slotOf(big)), 0);
    EXPECT_EQ(pat.program_count, TS_PAT_MAX_PROGRAMS);
    EXPECT_EQ(pat.programs[63].program_number, 64);
    EXPECT_EQ(TS_PAT_DroppedPrograms(&pat), 6u);
    EXPECT_EQ(pat.CRC_32, uint32_t(big[big.size() - 4] << 24 | big[big.size() - 3] << 16 | big[big.size() - 2] << 8 |
                                   big[big.size() - 1]));
}

TEST(PAT, RebuildsTheSingleProgramPacketByteForByte) {
    TS_PAT pat{.section_syntax_indicator = 1, .reserved1 = 3, .section_length = 17, .transport_stream_id = 1,
               .reserved2 = 3, .current_next_indicator = 1, .program_count = 2};
    pat.programs[0] = {0, 7, 0x0010};
    pat.programs[1] = {2, 7, 0x0200};
    TS_Packet header{.sync_byte = 0x47, .payload_unit_start_indicator = 1, .adaptation_field_control = 1,
                     .continuity_counter = 7};
    uint8_t out[188];
    ASSERT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
    Bytes expected = {0x47, 0x40, 0x00, 0x17, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x01, 0xC1, 0x00, 0x00,
                      0x00, 0x00, 0xE0, 0x10, 0x00, 0x02, 0xE2, 0x00, 0xEE, 0x24, 0xCE, 0xCC};
    expected.resize(188, 0xFF);
    EXPECT_EQ(tsb::hex(Bytes(out, out + 188)), tsb::hex(expected));
    header.PID = 0x1234;
    header.transport_error_indicator = 1;
    ASSERT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
    EXPECT_EQ(tsb::hex(Bytes(out, out + 3)), "47 D2 34 ");
    pat.program_count = 43;  // 12 + 4 * 43 + 4 bytes do not fit behind the pointer_field
    EXPECT_EQ(TS_PAT_ToPacket(out, &header, &pat), TS_ERR_PAT_TOO_LARGE);
    pat.program_count = 42;
    EXPECT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
}

TEST(PMT, ParsesLoopsMembershipAndCAPID) {
    Bytes programInfo = tsb::concat({tsb::caDescriptor(0x0604, 0x0123), tsb::caDescriptor(0x0500, 0x0456)});
    Bytes esInfo = tsb::concat({tsb::descriptor(0x0A, {'e', 'n', 'g', 1}), tsb::caDescriptor(0x0604, 0x0124)});
    ASSERT_EQ(TS_PMT_FromPreSection(
                  &pmt, &slotOf(tsb::pmtSection(0x42, 0x101, programInfo, {{0x1B, 0x100, {}}, {0x0F, 0x101, esInfo}}, 9)),
                  0x777),
              0);
    EXPECT_EQ(std::vector<int>({pmt.program_number, pmt.version_number, pmt.PCR_PID, pmt.program_info_length,
                                pmt.descriptor_count, pmt.stream_count, pmt.PMT_PID, pmt.valid}),
              std::vector<int>({0x42, 9, 0x101, 12, 2, 2, 0x777, 1}));
    EXPECT_EQ(std::vector<int>({pmt.streams[0].stream_type, pmt.streams[0].elementary_PID, pmt.streams[0].ES_info_length,
                                pmt.streams[1].ES_info_length, pmt.streams[1].descriptor_count,
                                pmt.streams[1].descriptors[1].conditional_access.CA_PID}),
              std::vector<int>({0x1B, 0x100, 0, 12, 2, 0x124}));
    uint16_t ca = 0;
    ASSERT_EQ(TS_GetCAPIDFromPMT(&ca, &pmt), 0);
    EXPECT_EQ(ca, 0x0123);  // the first of the program loop
    EXPECT_EQ(TS_IsStreamPIDOfPMT(&pmt, 0x0100), 1);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(&pmt, 0x0777), 0);

    // A CA descriptor of a stream is no program CA PID; a PCR PID of its own is no stream.
    TS_PMT_FromPreSection(&pmt, &slotOf(tsb::pmtSection(1, 0x200, {}, {{0x02, 0x100, tsb::caDescriptor(1, 0x50)}})), 1);
    ASSERT_EQ(TS_GetCAPIDFromPMT(&ca, &pmt), 0);
    EXPECT_EQ(ca, 0xFFFF);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(&pmt, 0x0200), 0);
}

TEST(PMT, LengthsAndCountsStayInsideTheSectionAndTheRecord) {
    // program_info_length 0xFFF swallows the section; a descriptor claiming
    // 200 bytes of a 4-byte loop is cut to the loop.
    Bytes s = tsb::pmtSection(1, 0x100, tsb::descriptor(0x40, {1, 2}), {{0x1B, 0x101, {}}});
    s[10] = 0xFF;
    s[11] = 0xFF;
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slotOf(s), 0x20), 0);
    EXPECT_EQ(pmt.program_info_length, 0xFFF);
    EXPECT_EQ(pmt.stream_count, 0);
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slotOf(tsb::pmtSection(1, 0x100, {0x40, 200, 1, 2}, {{0x1B, 0x101, {}}})), 1), 0);
    EXPECT_EQ(pmt.descriptors[0].descriptor_length, 2);
    ASSERT_EQ(pmt.stream_count, 1);
    EXPECT_EQ(pmt.streams[0].elementary_PID, 0x101);

    Bytes many;
    for (int d = 0; d < 40; ++d) tsb::append(many, tsb::descriptor(0x52, {uint8_t(d)}));
    std::vector<tsb::Stream> streams;
    for (uint16_t i = 0; i < 40; ++i) streams.push_back({0x06, uint16_t(0x200 + i), i == 0 ? many : Bytes{}});
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slotOf(tsb::pmtSection(1, 0x200, many, streams)), 0x20), 0);
    EXPECT_EQ(pmt.descriptor_count, TS_MAX_DESCRIPTORS);
    EXPECT_EQ(pmt.stream_count, TS_PMT_MAX_STREAMS);
    EXPECT_EQ(pmt.streams[0].descriptor_count, TS_MAX_DESCRIPTORS);
    EXPECT_EQ(pmt.streams[1].elementary_PID, 0x201);  // the dropped descriptors were stepped over
    EXPECT_EQ(pmt.streams[31].elementary_PID, 0x21F);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(&pmt, 0x220), 0);
}

TEST(CAT, DescriptorsAndCAPID) {
    uint16_t ca = 0;
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, &slotOf(tsb::catSection({}))), 0);
    EXPECT_EQ(cat.descriptor_count, 0);
    ASSERT_EQ(TS_GetCAPIDFromCAT(&ca, &cat), 0);
    EXPECT_EQ(ca, 0xFFFF);
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, &slotOf(tsb::catSection({0x40, 0x00, 0x09, 0x04, 0x00, 0x01, 0xE0, 0x20}))), 0);
    EXPECT_EQ(std::vector<int>({cat.section_length, cat.transport_stream_id, cat.descriptor_count, cat.valid}),
              std::vector<int>({17, 0xFFFF, 2, 1}));
    ASSERT_EQ(TS_GetCAPIDFromCAT(&ca, &cat), 0);
    EXPECT_EQ(ca, 0x0020);
}

TEST(PrivateSection, LongAndShortSyntaxAndTheEMMCardId) {
    ASSERT_EQ(TS_Section_PrivateFromPreSection(
                  &priv, &slotOf({0x82, 0xB0, 13, 0x01, 0x02, 0xC3, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4})),
              0);
    EXPECT_EQ(std::vector<int>({priv.table_id, priv.section_syntax_indicator, priv.private_section_length,
                                priv.table_id_extension, priv.version_number, int(TS_Section_PrivateDataLength(&priv)),
                                priv.private_data_byte[0], priv.private_data_byte[3]}),
              std::vector<int>({0x82, 1, 13, 0x0102, 1, 4, 0xDE, 0xEF}));
    EXPECT_EQ(priv.CRC_32, 0x01020304u);

    ASSERT_EQ(TS_Section_PrivateFromPreSection(
                  &priv, &slotOf({0x84, 0x70, 13, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 9, 10, 11, 12, 13, 14, 15})),
              0);
    EXPECT_EQ(std::vector<int>({priv.section_syntax_indicator, priv.private_indicator, priv.reserved1,
                                int(TS_Section_PrivateDataLength(&priv)), priv.private_data_byte[12]}),
              std::vector<int>({0, 1, 3, 13, 15}));
    uint64_t card = 0;
    ASSERT_EQ(TS_Section_GetCardIdFromEMM(&card, &priv), 0);
    EXPECT_EQ(card, 0x12345678u);

    // 16 bytes received of a section that claims 4000: nothing comes from beyond them.
    Bytes cut = {0x80, 0x0F, 0xA0};
    cut.resize(16, 0x77);
    TS_PreSection slot = slotOf(cut);
    std::memset(slot.body + 16, 0x99, 64);  // stale bytes of an earlier section
    ASSERT_EQ(TS_Section_PrivateFromPreSection(&priv, &slot), 0);
    EXPECT_LE(TS_Section_PrivateDataLength(&priv), sizeof priv.private_data_byte);
    EXPECT_EQ(priv.private_data_byte[12], 0x77);
    EXPECT_EQ(priv.private_data_byte[13], 0x00);
}

TEST(PCR, FromBytesAndFromAnAdaptationField) {
    const uint8_t bytes[] = {0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01};
    TS_PCR pcr{};
    ASSERT_EQ(TS_PCR_Import(&pcr, bytes), 0);
    EXPECT_EQ(std::vector<uint64_t>({pcr.leading_byte, pcr.program_clock_reference_base, pcr.PCR_reserved,
                                     pcr.program_clock_reference_extension}),
              std::vector<uint64_t>({0x10, 1, 0, 1}));
    Bytes p = tsb::packet({.pid = 0x100, .hasAdaptation = true, .adaptation = tsb::pcrAdaptation(8589934591ull, 299)});
    TS_Packet h{};
    TS_Packet_Get(&h, p.data());
    ASSERT_EQ(TS_PCR_FromAdaptationField(&pcr, &h.adaptation_field), 0);
    EXPECT_EQ(std::vector<uint64_t>({pcr.leading_byte, pcr.program_clock_reference_base, pcr.PCR_reserved,
                                     pcr.program_clock_reference_extension}),
              std::vector<uint64_t>({0x10, 8589934591ull, 0x3F, 299}));
}
