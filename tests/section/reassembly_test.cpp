#include <gtest/gtest.h>

#include <vector>

#include "rivulet/ts.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

using Import = int32_t (*)(TS_PreSection*, TS_Payload*);

// Feeds one packet to a slot and collects every section it completes, and
// every status the imports returned.
struct Feed {
    std::vector<Bytes> sections;
    std::vector<int32_t> statuses;
};

Feed feed(TS_PreSection& slot, const Bytes& packet, Import import = TS_PMT_ImportPreSection) {
    TS_Packet header{};
    EXPECT_EQ(TS_Packet_Get(&header, packet.data()), 0);
    TS_Payload payload;
    TS_Payload_Begin(&payload, &header, packet.data());
    Feed out;
    int guard = 0;
    while (TS_Payload_HasData(&payload) && ++guard < 100) {
        int32_t status = import(&slot, &payload);
        out.statuses.push_back(status);
        if (status == TS_SECTION_COMPLETE) {
            out.sections.emplace_back(slot.body, slot.body + slot.section_total_length);
        }
    }
    EXPECT_LT(guard, 100) << "import made no progress";
    return out;
}

Bytes sectionOfLength(uint16_t sectionLength, uint8_t fill = 0x11) {
    Bytes s = {0x02, uint8_t(0xB0 | (sectionLength >> 8)), uint8_t(sectionLength & 0xFF)};
    for (uint16_t i = 0; i < sectionLength; ++i) s.push_back(uint8_t(fill + i));
    return s;
}

Bytes startPacket(uint16_t pid, uint8_t cc, const Bytes& payloadAfterPointer, uint8_t pointer = 0,
                  const Bytes& beforePointer = {}) {
    Bytes payload = {pointer};
    tsb::append(payload, beforePointer);
    tsb::append(payload, payloadAfterPointer);
    return tsb::packet({.pid = pid, .pusi = true, .cc = cc, .payload = payload});
}

Bytes continuationPacket(uint16_t pid, uint8_t cc, const Bytes& bytes) {
    return tsb::packet({.pid = pid, .cc = cc, .payload = bytes});
}

Bytes slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

class Reassembly : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TS_PreSection_Initialise(&slot), 0); }
    TS_PreSection slot;
};

}  // namespace

TEST_F(Reassembly, InitialisedSlotIsIdle) {
    EXPECT_EQ(slot.complete, 1);
    EXPECT_EQ(slot.section_total_length, 0);
    EXPECT_EQ(slot.received_length, 0);
    EXPECT_EQ(slot.last_continuity_counter, -1);
    EXPECT_EQ(TS_PreSection_Initialise(nullptr), -1);
}

TEST_F(Reassembly, SectionInOnePacket) {
    Bytes s = sectionOfLength(13);
    Feed f = feed(slot, startPacket(0x100, 7, s));
    ASSERT_EQ(f.sections.size(), 1u);
    EXPECT_EQ(f.sections[0], s);
    EXPECT_EQ(slot.complete, 1);
    EXPECT_EQ(slot.section_total_length, 16);
    EXPECT_EQ(slot.received_length, 16);
}

TEST_F(Reassembly, ContinuationBytesStartAtByteFour) {
    // section_length 181: 184 bytes, 183 in the first packet behind the
    // pointer_field, the last one at byte 4 of the next packet.
    Bytes s = sectionOfLength(181);
    Feed first = feed(slot, startPacket(0x100, 3, slice(s, 0, 183)));
    EXPECT_TRUE(first.sections.empty());
    EXPECT_EQ(slot.complete, 0);
    EXPECT_EQ(slot.received_length, 183);
    EXPECT_EQ(slot.section_total_length, 184);
    Feed second = feed(slot, continuationPacket(0x100, 4, slice(s, 183, 184)));
    ASSERT_EQ(second.sections.size(), 1u);
    EXPECT_EQ(second.sections[0], s);
}

TEST_F(Reassembly, ThreePacketsWithAnAdaptationFieldInTheMiddle) {
    Bytes s = sectionOfLength(400);  // 403 bytes
    feed(slot, startPacket(0x100, 14, slice(s, 0, 183)));
    // 10 bytes of adaptation field leave 173 payload bytes in the second packet.
    Bytes af = {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes second = tsb::packet({.pid = 0x100, .cc = 15, .hasAdaptation = true, .adaptation = af,
                                .payload = slice(s, 183, 183 + 173)});
    EXPECT_TRUE(feed(slot, second).sections.empty());
    Feed third = feed(slot, continuationPacket(0x100, 0, slice(s, 356, 403)));
    ASSERT_EQ(third.sections.size(), 1u);
    EXPECT_EQ(third.sections[0], s);
}

TEST_F(Reassembly, PointerFieldEndsThePendingSectionAndStartsTheNext) {
    Bytes a = sectionOfLength(200, 0x20);  // 203 bytes: 183 + 20
    Bytes b = sectionOfLength(13, 0x40);
    Bytes c = sectionOfLength(9, 0x60);
    feed(slot, startPacket(0x100, 0, slice(a, 0, 183)));
    Bytes tail = slice(a, 183, 203);
    Bytes next = b;
    tsb::append(next, c);  // two sections behind the pointer, then stuffing
    Feed f = feed(slot, startPacket(0x100, 1, next, uint8_t(tail.size()), tail));
    ASSERT_EQ(f.sections.size(), 3u);
    EXPECT_EQ(f.sections[0], a);
    EXPECT_EQ(f.sections[1], b);
    EXPECT_EQ(f.sections[2], c);
    EXPECT_EQ(slot.complete, 1);
}

TEST_F(Reassembly, IdleSlotSkipsBytesBeforeThePointer) {
    // The tail of a section that began before we joined is not a start.
    Bytes b = sectionOfLength(13);
    Feed f = feed(slot, startPacket(0x100, 5, b, 4, {0xAA, 0xBB, 0xCC, 0xDD}));
    ASSERT_EQ(f.sections.size(), 1u);
    EXPECT_EQ(f.sections[0], b);
    // An idle slot never takes a packet without payload_unit_start as a start.
    TS_PreSection_Initialise(&slot);
    Feed g = feed(slot, continuationPacket(0x100, 6, sectionOfLength(13)));
    EXPECT_TRUE(g.sections.empty());
    EXPECT_EQ(slot.complete, 1);
}

TEST_F(Reassembly, SectionWhoseHeaderSpansPackets) {
    // Only table_id and half the length field fit in the first packet.
    Bytes s = sectionOfLength(30);
    Bytes filler = sectionOfLength(179);  // 182 bytes: leaves 1 byte of the packet
    Bytes first = filler;
    first.push_back(s[0]);
    Feed f = feed(slot, startPacket(0x100, 2, first));
    ASSERT_EQ(f.sections.size(), 1u);
    EXPECT_EQ(slot.complete, 0);
    Feed g = feed(slot, continuationPacket(0x100, 3, slice(s, 1, s.size())));
    ASSERT_EQ(g.sections.size(), 1u);
    EXPECT_EQ(g.sections[0], s);
}

TEST_F(Reassembly, ExactlyTwoFullPieces) {
    // section_length 363 (366 bytes): 183 + 183 across two packets.
    Bytes s = sectionOfLength(363);
    feed(slot, startPacket(0x100, 0, slice(s, 0, 183)));
    Bytes rest = slice(s, 183, 366);
    Feed f = feed(slot, continuationPacket(0x100, 1, rest));
    ASSERT_EQ(f.sections.size(), 1u);
    EXPECT_EQ(f.sections[0], s);
}

TEST_F(Reassembly, ContinuityErrorsDropThePendingSection) {
    Bytes s = sectionOfLength(300);
    // Wrap: after 15 only 0 continues.
    feed(slot, startPacket(0x100, 15, slice(s, 0, 183)));
    Feed wrap = feed(slot, continuationPacket(0x100, 1, slice(s, 183, 303)));
    EXPECT_EQ(wrap.statuses.front(), TS_ERR_CONTINUITY_WRAP);
    EXPECT_EQ(slot.complete, 1);
    EXPECT_EQ(slot.received_length, 0);
    // A skipped counter, and a repeated one.
    feed(slot, startPacket(0x100, 3, slice(s, 0, 183)));
    EXPECT_EQ(feed(slot, continuationPacket(0x100, 5, slice(s, 183, 303))).statuses.front(), TS_ERR_CONTINUITY);
    feed(slot, startPacket(0x100, 3, slice(s, 0, 183)));
    EXPECT_EQ(feed(slot, continuationPacket(0x100, 3, slice(s, 183, 303))).statuses.front(), TS_ERR_CONTINUITY);
    // With 15 then 0 the section completes.
    feed(slot, startPacket(0x100, 15, slice(s, 0, 183)));
    EXPECT_EQ(feed(slot, continuationPacket(0x100, 0, slice(s, 183, 303))).sections.size(), 1u);
}

TEST_F(Reassembly, ContinuityErrorInAStartPacketStillTakesTheNewSection) {
    Bytes a = sectionOfLength(300);
    Bytes b = sectionOfLength(13);
    feed(slot, startPacket(0x100, 0, slice(a, 0, 183)));
    Feed f = feed(slot, startPacket(0x100, 9, b, 5, {1, 2, 3, 4, 5}));
    EXPECT_EQ(f.statuses.front(), TS_ERR_CONTINUITY);
    ASSERT_EQ(f.sections.size(), 1u);
    EXPECT_EQ(f.sections[0], b);
}

TEST_F(Reassembly, NewStartBeforeThePendingSectionEnded) {
    Bytes a = sectionOfLength(300);
    Bytes b = sectionOfLength(13);
    feed(slot, startPacket(0x100, 0, slice(a, 0, 183)));
    Feed f = feed(slot, startPacket(0x100, 1, b));  // pointer 0: nothing finishes a
    EXPECT_EQ(f.statuses.front(), TS_ERR_SECTION_TRUNCATED);
    ASSERT_EQ(f.sections.size(), 1u);
    EXPECT_EQ(f.sections[0], b);
}

TEST_F(Reassembly, LengthLimitsOfEachVariant) {
    Feed shortPSI = feed(slot, startPacket(0, 0, sectionOfLength(8)), TS_PAT_ImportPreSection);
    EXPECT_EQ(shortPSI.statuses.front(), TS_ERR_SECTION_SHORT);
    EXPECT_TRUE(shortPSI.sections.empty());
    EXPECT_EQ(feed(slot, startPacket(1, 0, sectionOfLength(8)), TS_CAT_ImportPreSection).statuses.front(),
              TS_ERR_SECTION_SHORT);
    EXPECT_EQ(feed(slot, startPacket(0x30, 0, sectionOfLength(12)), TS_Section_ImportPreSection).statuses.front(),
              TS_ERR_SECTION_SHORT);
    EXPECT_EQ(feed(slot, startPacket(0x30, 0, sectionOfLength(13)), TS_Section_ImportPreSection).sections.size(), 1u);
    // 2926 + 3 bytes would not fit the 2928-byte body: refused, slot reset.
    Bytes tooLong = {0x02, 0xBB, 0x6E};  // section_length 0xB6E = 2926
    tooLong.resize(183, 0x00);
    Feed f = feed(slot, startPacket(0x100, 0, tooLong));
    EXPECT_EQ(f.statuses.front(), TS_ERR_SECTION_LONG);
    EXPECT_EQ(slot.complete, 1);
    EXPECT_EQ(slot.received_length, 0);
}

TEST_F(Reassembly, LongestSectionThatFits) {
    Bytes s = sectionOfLength(2925);  // 2928 bytes over 17 packets
    uint8_t cc = 0;
    std::vector<Bytes> packets = tsb::packetize(0x100, s, cc);
    ASSERT_EQ(packets.size(), 16u);
    std::vector<Bytes> done;
    for (const Bytes& p : packets) {
        for (Bytes& sec : feed(slot, p).sections) done.push_back(sec);
    }
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], s);
}

TEST_F(Reassembly, PacketsWithoutPayloadCarryNothing) {
    Bytes s = sectionOfLength(300);
    feed(slot, startPacket(0x100, 4, slice(s, 0, 183)));
    // An adaptation-only packet repeats the counter and touches nothing.
    Bytes afOnly = tsb::packet({.pid = 0x100, .cc = 4, .hasAdaptation = true, .hasPayload = false,
                                .adaptation = Bytes(183, 0xFF)});
    Feed f = feed(slot, afOnly);
    EXPECT_TRUE(f.statuses.empty());
    EXPECT_EQ(slot.received_length, 183);
    EXPECT_EQ(feed(slot, continuationPacket(0x100, 5, slice(s, 183, 303))).sections.size(), 1u);
}

TEST_F(Reassembly, NullArgumentsAndBadCounter) {
    TS_Payload payload{};
    EXPECT_EQ(TS_PAT_ImportPreSection(&slot, nullptr), -1);
    Bytes p = startPacket(0, 0, sectionOfLength(13));
    TS_Packet h{};
    TS_Packet_Get(&h, p.data());
    TS_Payload_Begin(&payload, &h, p.data());
    EXPECT_EQ(TS_PAT_ImportPreSection(nullptr, &payload), -1);
    EXPECT_EQ(TS_Payload_HasData(&payload), 0);
    TS_Payload_Begin(&payload, &h, p.data());
    payload.continuity_counter = 16;
    EXPECT_EQ(TS_PAT_ImportPreSection(&slot, &payload), -1);
    EXPECT_EQ(slot.complete, 1);
    EXPECT_EQ(slot.last_continuity_counter, -1);
}

TEST_F(Reassembly, VerifyChecksTableIdAndCRC) {
    Bytes pat = tsb::patSection(1, 0, {{0, 0x10}, {1, 0x100}});
    feed(slot, startPacket(0, 0, pat), TS_PAT_ImportPreSection);
    EXPECT_EQ(TS_PreSection_Verify(&slot, 0x00), 0);
    EXPECT_EQ(TS_PreSection_Verify(&slot, 0x02), TS_ERR_TABLE_ID);
    pat[9] ^= 0x01;
    feed(slot, startPacket(0, 1, pat), TS_PAT_ImportPreSection);
    EXPECT_EQ(TS_PreSection_Verify(&slot, 0x00), TS_ERR_CRC);
    feed(slot, startPacket(0, 2, slice(sectionOfLength(300), 0, 183)), TS_PAT_ImportPreSection);
    EXPECT_EQ(TS_PreSection_Verify(&slot, 0x00), TS_ERR_NOT_COMPLETE);
}
