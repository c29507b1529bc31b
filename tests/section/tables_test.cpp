#include <gtest/gtest.h>

#include <cstring>

#include "rivulet/ts.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

// Puts a whole section into a slot the way reassembly leaves it.
void load(TS_PreSection& slot, const Bytes& section) {
    TS_PreSection_Initialise(&slot);
    ASSERT_LE(section.size(), sizeof slot.body);
    std::memcpy(slot.body, section.data(), section.size());
    slot.section_total_length = uint16_t(section.size());
    slot.received_length = uint16_t(section.size());
}

TS_PreSection slot;
TS_PMT pmt;
TS_CAT cat;
TS_Section_Private priv;

}  // namespace

TEST(CRC32, TableAndKnownValues) {
    EXPECT_EQ(g_lu32CRC32Table[0], 0u);
    EXPECT_EQ(g_lu32CRC32Table[1], 0x04C11DB7u);
    EXPECT_EQ(g_lu32CRC32Table[255], 0xB1F740B4u);
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, check, 9), 0x0376E6E7u);  // CRC-32/MPEG-2 check value
    EXPECT_EQ(GetCRC32(0x12345678, check, 0), 0x12345678u);
    Bytes s = tsb::patSection(7, 3, {{1, 0x100}});
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, s.data(), s.size()), 0u);
}

TEST(PAT, ParsesEntriesAndHeader) {
    load(slot, tsb::patSection(0x1234, 5, {{0, 0x10}, {0x0102, 0x100}}));
    TS_PAT pat{};
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, &slot), 0);
    EXPECT_EQ(pat.table_id, 0);
    EXPECT_EQ(pat.section_syntax_indicator, 1);
    EXPECT_EQ(pat.reserved1, 3);
    EXPECT_EQ(pat.section_length, 17);
    EXPECT_EQ(pat.transport_stream_id, 0x1234);
    EXPECT_EQ(pat.reserved2, 3);
    EXPECT_EQ(pat.version_number, 5);
    EXPECT_EQ(pat.current_next_indicator, 1);
    ASSERT_EQ(pat.program_count, 2);
    EXPECT_EQ(pat.programs[0].program_number, 0);
    EXPECT_EQ(pat.programs[0].program_map_PID, 0x0010);
    EXPECT_EQ(pat.programs[0].reserved, 7);
    EXPECT_EQ(pat.programs[1].program_number, 0x0102);
    EXPECT_EQ(pat.programs[1].program_map_PID, 0x0100);
    EXPECT_EQ(pat.CRC_32, uint32_t(slot.body[16] << 24 | slot.body[17] << 16 | slot.body[18] << 8 | slot.body[19]));
    EXPECT_EQ(pat.valid, 1);

    load(slot, tsb::patSection(1, 0, {}));
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, &slot), 0);
    EXPECT_EQ(pat.program_count, 0);
    EXPECT_EQ(TS_PAT_FromPreSection(nullptr, &slot), -1);
}

TEST(PAT, DropsWhatExceedsItsCapacity) {
    std::vector<tsb::Program> programs;
    for (uint16_t i = 1; i <= 70; ++i) programs.push_back({i, uint16_t(0x100 + i)});
    load(slot, tsb::patSection(1, 0, programs));
    TS_PAT pat{};
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, &slot), 0);
    EXPECT_EQ(pat.program_count, TS_PAT_MAX_PROGRAMS);
    EXPECT_EQ(pat.programs[63].program_number, 64);
    EXPECT_EQ(TS_PAT_DroppedPrograms(&pat), 6u);
}

TEST(PAT, WritesTheSingleProgramPacketOfTheWorkedExample) {
    TS_PAT pat{};
    pat.table_id = 0;
    pat.section_syntax_indicator = 1;
    pat.reserved1 = 3;
    pat.section_length = 17;
    pat.transport_stream_id = 1;
    pat.reserved2 = 3;
    pat.current_next_indicator = 1;
    pat.program_count = 2;
    pat.programs[0] = {0, 7, 0x0010};
    pat.programs[1] = {2, 7, 0x0200};
    TS_Packet header{};
    header.sync_byte = 0x47;
    header.payload_unit_start_indicator = 1;
    header.adaptation_field_control = 1;
    header.continuity_counter = 7;
    uint8_t out[188];
    ASSERT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
    const uint8_t expected[] = {0x47, 0x40, 0x00, 0x17, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x01, 0xC1, 0x00, 0x00,
                                0x00, 0x00, 0xE0, 0x10, 0x00, 0x02, 0xE2, 0x00, 0xEE, 0x24, 0xCE, 0xCC};
    EXPECT_EQ(Bytes(out, out + 25), Bytes(expected, expected + 25));
    for (int i = 25; i < 188; ++i) ASSERT_EQ(out[i], 0xFF) << i;
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, out + 5, 20), 0u);

    header.PID = 0x1234;
    header.transport_error_indicator = 1;
    ASSERT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
    EXPECT_EQ(out[1], 0xC0 | 0x12);
    EXPECT_EQ(out[2], 0x34);

    pat.program_count = 43;  // 13 + 4 * 43 + 4 > 188
    EXPECT_EQ(TS_PAT_ToPacket(out, &header, &pat), TS_ERR_PAT_TOO_LARGE);
    pat.program_count = 42;
    EXPECT_EQ(TS_PAT_ToPacket(out, &header, &pat), 0);
    EXPECT_EQ(TS_PAT_ToPacket(nullptr, &header, &pat), -1);
}

TEST(PMT, ParsesLoopsAndAnswersMembership) {
    Bytes programInfo = tsb::concat({tsb::caDescriptor(0x0604, 0x0123), tsb::caDescriptor(0x0500, 0x0456)});
    load(slot, tsb::pmtSection(0x0042, 0x0101, programInfo,
                               {{0x1B, 0x0100, {}},
                                {0x0F, 0x0101, tsb::concat({tsb::descriptor(0x0A, {'e', 'n', 'g', 1}),
                                                            tsb::caDescriptor(0x0604, 0x0124)})}},
                               9));
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slot, 0x0777), 0);
    EXPECT_EQ(pmt.program_number, 0x42);
    EXPECT_EQ(pmt.version_number, 9);
    EXPECT_EQ(pmt.PCR_PID, 0x0101);
    EXPECT_EQ(pmt.program_info_length, 12);
    EXPECT_EQ(pmt.descriptor_count, 2);
    ASSERT_EQ(pmt.stream_count, 2);
    EXPECT_EQ(pmt.streams[0].stream_type, 0x1B);
    EXPECT_EQ(pmt.streams[0].elementary_PID, 0x0100);
    EXPECT_EQ(pmt.streams[0].ES_info_length, 0);
    EXPECT_EQ(pmt.streams[1].descriptor_count, 2);
    EXPECT_EQ(pmt.streams[1].descriptors[1].conditional_access.CA_PID, 0x0124);
    EXPECT_EQ(pmt.PMT_PID, 0x0777);
    EXPECT_EQ(pmt.valid, 1);

    uint16_t ca = 0;
    ASSERT_EQ(TS_GetCAPIDFromPMT(&ca, &pmt), 0);
    EXPECT_EQ(ca, 0x0123);  // the first program-level one
    EXPECT_EQ(TS_IsStreamPIDOfPMT(&pmt, 0x0100), 1);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(&pmt, 0x0777), 0);

    // Only a stream-level CA descriptor: no program CA PID.
    load(slot, tsb::pmtSection(1, 0x0200, {}, {{0x02, 0x0100, tsb::caDescriptor(1, 0x50)}}));
    TS_PMT_FromPreSection(&pmt, &slot, 0x30);
    ASSERT_EQ(TS_GetCAPIDFromPMT(&ca, &pmt), 0);
    EXPECT_EQ(ca, 0xFFFF);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(&pmt, 0x0200), 0);  // a PCR of its own is no stream
    EXPECT_EQ(TS_GetCAPIDFromPMT(nullptr, &pmt), -1);
}

TEST(PMT, StreamEntryOfTheWorkedExample) {
    const uint8_t entry[] = {0x1B, 0xE1, 0x00, 0xF0, 0x00};
    TS_PMT_StreamInfo info{};
    ASSERT_EQ(TS_PMT_GetStreamInfo(&info, entry, sizeof entry), 0);
    EXPECT_EQ(info.stream_type, 0x1B);
    EXPECT_EQ(info.elementary_PID, 0x0100);
    EXPECT_EQ(info.ES_info_length, 0);
    EXPECT_EQ(info.descriptor_count, 0);
    load(slot, tsb::pmtSection(1, 0x1FFF, {}, {}));
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slot, 0x20), 0);
    EXPECT_EQ(pmt.section_length, 13);
    EXPECT_EQ(pmt.descriptor_count, 0);
    EXPECT_EQ(pmt.stream_count, 0);
}

TEST(PMT, LengthsPointingPastTheSectionStayInside) {
    // program_info_length 0xFFF and ES_info_length 0xFFF in a short section;
    // the sanitizer build checks no read leaves the slot.
    Bytes s = tsb::pmtSection(1, 0x100, tsb::descriptor(0x40, {1, 2}), {{0x1B, 0x101, {}}});
    s[10] = 0xFF;
    s[11] = 0xFF;
    load(slot, s);
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slot, 0x20), 0);
    EXPECT_EQ(pmt.program_info_length, 0xFFF);
    EXPECT_EQ(pmt.stream_count, 0);  // the loop swallowed the section
    // A descriptor claiming 200 bytes inside a 4-byte loop is cut to the loop.
    Bytes t = tsb::pmtSection(1, 0x100, {0x40, 200, 1, 2}, {{0x1B, 0x101, {}}});
    load(slot, t);
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slot, 0x20), 0);
    ASSERT_EQ(pmt.descriptor_count, 1);
    EXPECT_EQ(pmt.descriptors[0].descriptor_length, 2);
    ASSERT_EQ(pmt.stream_count, 1);
    EXPECT_EQ(pmt.streams[0].elementary_PID, 0x101);
}

TEST(PMT, CapacitiesAreNeverExceeded) {
    std::vector<tsb::Stream> streams;
    Bytes many;
    for (int d = 0; d < 40; ++d) tsb::append(many, tsb::descriptor(0x52, {uint8_t(d)}));
    for (uint16_t i = 0; i < 40; ++i) streams.push_back({0x06, uint16_t(0x200 + i), i == 0 ? many : Bytes{}});
    load(slot, tsb::pmtSection(1, 0x200, many, streams));
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slot, 0x20), 0);
    EXPECT_EQ(pmt.descriptor_count, TS_MAX_DESCRIPTORS);
    EXPECT_EQ(pmt.stream_count, TS_PMT_MAX_STREAMS);
    EXPECT_EQ(pmt.streams[0].descriptor_count, TS_MAX_DESCRIPTORS);
    // Skipping the dropped descriptors, the stream loop starts in the right place.
    EXPECT_EQ(pmt.streams[1].elementary_PID, 0x201);
    EXPECT_EQ(pmt.streams[31].elementary_PID, 0x21F);
}

TEST(CAT, DescriptorsAndCAPID) {
    load(slot, tsb::catSection({}));
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, &slot), 0);
    EXPECT_EQ(cat.section_length, 9);
    EXPECT_EQ(cat.descriptor_count, 0);
    uint16_t ca = 0;
    ASSERT_EQ(TS_GetCAPIDFromCAT(&ca, &cat), 0);
    EXPECT_EQ(ca, 0xFFFF);

    load(slot, tsb::catSection(tsb::concat({tsb::descriptor(0x40, {}), {0x09, 0x04, 0x00, 0x01, 0xE0, 0x20}})));
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, &slot), 0);
    EXPECT_EQ(cat.descriptor_count, 2);
    EXPECT_EQ(cat.transport_stream_id, 0xFFFF);
    ASSERT_EQ(TS_GetCAPIDFromCAT(&ca, &cat), 0);
    EXPECT_EQ(ca, 0x0020);
    EXPECT_EQ(cat.valid, 1);
}

TEST(PrivateSection, LongAndShortSyntax) {
    // Long syntax, private_section_length 13: 4 data bytes.
    Bytes longSection = {0x82, 0xB0, 13, 0x01, 0x02, 0xC3, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};
    load(slot, longSection);
    ASSERT_EQ(TS_Section_PrivateFromPreSection(&priv, &slot), 0);
    EXPECT_EQ(priv.table_id, 0x82);
    EXPECT_EQ(priv.section_syntax_indicator, 1);
    EXPECT_EQ(priv.private_section_length, 13);
    EXPECT_EQ(priv.table_id_extension, 0x0102);
    EXPECT_EQ(priv.version_number, 1);
    EXPECT_EQ(TS_Section_PrivateDataLength(&priv), 4u);
    EXPECT_EQ(priv.private_data_byte[0], 0xDE);
    EXPECT_EQ(priv.private_data_byte[3], 0xEF);
    EXPECT_EQ(priv.CRC_32, 0x01020304u);

    // Short syntax: everything behind the length field is data.
    Bytes shortSection = {0x84, 0x70, 13, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 9, 10, 11, 12, 13, 14, 15};
    load(slot, shortSection);
    ASSERT_EQ(TS_Section_PrivateFromPreSection(&priv, &slot), 0);
    EXPECT_EQ(priv.section_syntax_indicator, 0);
    EXPECT_EQ(priv.private_indicator, 1);
    EXPECT_EQ(priv.reserved1, 3);
    EXPECT_EQ(TS_Section_PrivateDataLength(&priv), 13u);
    EXPECT_EQ(priv.private_data_byte[12], 15);
    uint64_t card = 0;
    ASSERT_EQ(TS_Section_GetCardIdFromEMM(&card, &priv), 0);
    EXPECT_EQ(card, 0x12345678u);
    EXPECT_EQ(TS_Section_GetCardIdFromEMM(nullptr, &priv), -1);
}

TEST(PrivateSection, DataNeverComesFromBeyondTheSlot) {
    // A slot holding 16 bytes of a section that claims 4000: the data past
    // what was received reads as zero, and the count stays inside the array.
    Bytes s(16, 0x77);
    s[0] = 0x80;
    s[1] = 0x0F;
    s[2] = 0xA0;
    load(slot, s);
    std::memset(slot.body + 16, 0x99, 64);  // stale bytes of an earlier section
    slot.received_length = 16;
    ASSERT_EQ(TS_Section_PrivateFromPreSection(&priv, &slot), 0);
    EXPECT_EQ(priv.private_section_length, 0xFA0);
    EXPECT_LE(TS_Section_PrivateDataLength(&priv), sizeof priv.private_data_byte);
    EXPECT_EQ(priv.private_data_byte[12], 0x77);
    EXPECT_EQ(priv.private_data_byte[13], 0x00);
}

TEST(PCR, ImportFromBytesAndFromAField) {
    const uint8_t bytes[] = {0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01};
    TS_PCR pcr{};
    ASSERT_EQ(TS_PCR_Import(&pcr, bytes), 0);
    EXPECT_EQ(pcr.leading_byte, 0x10);
    EXPECT_EQ(pcr.program_clock_reference_base, 1u);
    EXPECT_EQ(pcr.PCR_reserved, 0);
    EXPECT_EQ(pcr.program_clock_reference_extension, 1u);
    EXPECT_EQ(TS_PCR_Import(nullptr, bytes), -1);

    Bytes p = tsb::packet({.pid = 0x100, .hasAdaptation = true, .adaptation = tsb::pcrAdaptation(8589934591ull, 299)});
    TS_Packet h{};
    TS_Packet_Get(&h, p.data());
    ASSERT_EQ(TS_PCR_FromAdaptationField(&pcr, &h.adaptation_field), 0);
    EXPECT_EQ(pcr.leading_byte, 0x10);
    EXPECT_EQ(pcr.program_clock_reference_base, 8589934591ull);
    EXPECT_EQ(pcr.PCR_reserved, 0x3F);
    EXPECT_EQ(pcr.program_clock_reference_extension, 299u);
}
