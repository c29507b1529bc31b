// Section reassembly: packets in, whole sections and error statuses out.

#include <algorithm>
#include <tuple>
#include <vector>

#include "tests/support/test.h"

namespace {

using Import = int32_t (*)(TS_PreSection*, TS_Payload*);

// A section of the given section_length whose bytes count up from `fill`.
Bytes sectionOfLength(uint16_t length, uint8_t fill = 0x11) {
    Bytes s = {0x02, uint8_t(0xB0 | (length >> 8)), uint8_t(length & 0xFF)};
    for (uint16_t i = 0; i < length; ++i) s.push_back(uint8_t(fill + i));
    return s;
}

Bytes slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + long(from), b.begin() + long(to)); }

// A packet with payload_unit_start: the pointer_field, the bytes it skips, then `after`.
Bytes start(uint8_t cc, const Bytes& after, const Bytes& before = {}, const Bytes& adaptation = {}) {
    return tsb::packet({.pid = 0x100, .pusi = true, .cc = cc, .hasAdaptation = !adaptation.empty(),
                        .adaptation = adaptation, .payload = tsb::concat({{uint8_t(before.size())}, before, after})});
}

Bytes more(uint8_t cc, const Bytes& bytes, const Bytes& adaptation = {}) {
    return tsb::packet(
        {.pid = 0x100, .cc = cc, .hasAdaptation = !adaptation.empty(), .adaptation = adaptation, .payload = bytes});
}

// The payload of the packet at `p`, as the section readers walk it.
TS_Payload payloadOf(const uint8_t* p) {
    TS_Packet header{};
    EXPECT_EQ(TS_Packet_Get(&header, p), 0);
    TS_Payload payload;
    EXPECT_EQ(TS_Payload_Begin(&payload, &header, p), 0);
    return payload;
}

struct Fed {
    std::vector<Bytes> sections;
    std::vector<int32_t> errors;
};

Fed feed(const std::vector<Bytes>& packets, Import import = TS_PMT_ImportPreSection) {
    static TS_PreSection slot;
    EXPECT_EQ(TS_PreSection_Initialise(&slot), 0);
    Fed fed;
    Bytes stream;  // one buffer, as a stream is read: nothing may be read past a packet
    for (const Bytes& p : packets) tsb::append(stream, p);
    for (size_t at = 0; at < stream.size(); at += 188) {
        TS_Payload payload = payloadOf(stream.data() + at);
        for (int guard = 0; TS_Payload_HasData(&payload); ++guard) {
            EXPECT_LT(guard, 100) << "no progress";
            if (guard >= 100) break;
            int32_t status = import(&slot, &payload);
            if (status == TS_SECTION_COMPLETE) fed.sections.emplace_back(slot.body, slot.body + slot.section_total_length);
            if (status < 0) fed.errors.push_back(status);
        }
    }
    return fed;
}

}  // namespace

TEST(Reassembly, PacketsInSectionsOut) {
    const Bytes s13 = sectionOfLength(13);
    const Bytes s181 = sectionOfLength(181);
    const Bytes s300 = sectionOfLength(300);
    const Bytes s400 = sectionOfLength(400);
    const Bytes s363 = sectionOfLength(363);
    const Bytes s30 = sectionOfLength(30);
    const Bytes a = sectionOfLength(200, 0x20);
    const Bytes b = sectionOfLength(13, 0x40);
    const Bytes c = sectionOfLength(9, 0x60);
    const Bytes filler = sectionOfLength(179);  // 182 bytes: one byte of the packet is left
    const Bytes head300 = slice(s300, 0, 183);
    const Bytes tail300 = slice(s300, 183, 303);
    const Bytes afOnly =
        tsb::packet({.pid = 0x100, .cc = 4, .hasAdaptation = true, .hasPayload = false, .adaptation = Bytes(183, 0xFF)});
    uint8_t cc = 0;
    std::vector<Bytes> longest = tsb::packetize(0x100, sectionOfLength(2925), cc);  // 2928 bytes, 16 packets
    Bytes tooLong = {0x02, 0xBB, 0x6E};  // section_length 2926: three bytes more than a slot holds
    tooLong.resize(183, 0x00);
    const struct {
        const char* name;
        std::vector<Bytes> packets;
        std::vector<Bytes> sections;
        std::vector<int32_t> errors;
        Import import = TS_PMT_ImportPreSection;
    } cases[] = {
        {"one packet", {start(7, s13)}, {s13}},
        {"behind an adaptation field", {start(7, s13, {}, {0x00, 0xFF, 0xFF})}, {s13}},
        {"continuation at byte 4", {start(3, slice(s181, 0, 183)), more(4, slice(s181, 183, 184))}, {s181}},
        {"two full pieces", {start(0, slice(s363, 0, 183)), more(1, slice(s363, 183, 366))}, {s363}},
        {"adaptation field mid-section",
         {start(14, slice(s400, 0, 183)), more(15, slice(s400, 183, 356), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
          more(0, slice(s400, 356, 403))},
         {s400}},
        {"pointer ends one, two follow",
         {start(0, slice(a, 0, 183)), start(1, tsb::concat({b, c}), slice(a, 183, 203))},
         {a, b, c}},
        {"to the packet's last byte, then bytes a pointer skips",
         {start(0, sectionOfLength(180)), start(1, s13, {0xAA, 0xBB})},
         {sectionOfLength(180), s13}},
        {"header split over packets",
         {start(2, tsb::concat({filler, {s30[0]}})), more(3, slice(s30, 1, 33))},
         {filler, s30}},
        {"idle slot skips what the pointer skips", {start(5, b, {0xAA, 0xBB, 0xCC, 0xDD})}, {b}},
        {"idle slot takes no continuation as a start", {more(6, s13)}, {}},
        {"packet without payload carries nothing", {start(4, head300), afOnly, more(5, tail300)}, {s300}},
        {"continuity: 15 then 0 continues", {start(15, head300), more(0, tail300)}, {s300}},
        {"continuity: wrap, skip, repeat",
         {start(15, head300), more(1, tail300), start(3, head300), more(5, tail300), start(3, head300), more(3, tail300)},
         {},
         {TS_ERR_CONTINUITY_WRAP, TS_ERR_CONTINUITY, TS_ERR_CONTINUITY}},
        {"continuity error in a start packet", {start(0, head300), start(9, b, {1, 2, 3, 4, 5})}, {b}, {TS_ERR_CONTINUITY}},
        {"new start before the end", {start(0, head300), start(1, b)}, {b}, {TS_ERR_SECTION_TRUNCATED}},
        {"longest that fits", longest, {sectionOfLength(2925)}},
        {"longer than a slot", {start(0, tooLong)}, {}, {TS_ERR_SECTION_LONG}},
        {"PAT below 9", {start(0, sectionOfLength(8))}, {}, {TS_ERR_SECTION_SHORT}, TS_PAT_ImportPreSection},
        {"CAT below 9", {start(0, sectionOfLength(8))}, {}, {TS_ERR_SECTION_SHORT}, TS_CAT_ImportPreSection},
        {"PMT of 9", {start(0, sectionOfLength(9))}, {sectionOfLength(9)}, {}, TS_PMT_ImportPreSection},
        {"private below 13", {start(0, sectionOfLength(12))}, {}, {TS_ERR_SECTION_SHORT}, TS_Section_ImportPreSection},
        {"private of 13", {start(0, s13)}, {s13}, {}, TS_Section_ImportPreSection},
        {"SI below 5", {start(0, sectionOfLength(4))}, {}, {TS_ERR_SECTION_SHORT}, TS_SI_ImportPreSection},
        {"SI of 5, a TDT", {start(0, sectionOfLength(5))}, {sectionOfLength(5)}, {}, TS_SI_ImportPreSection},
    };
    for (const auto& c : cases) {
        Fed fed = feed(c.packets, c.import);
        EXPECT_EQ(fed.sections, c.sections) << c.name;
        EXPECT_EQ(fed.errors, c.errors) << c.name;
    }
}

TEST(Reassembly, VerifyChecksCompletenessTableIdAndCRC) {
    static TS_PreSection slot;
    auto load = [&](const Bytes& packet) {
        TS_PreSection_Initialise(&slot);
        TS_Payload payload = payloadOf(packet.data());
        while (TS_Payload_HasData(&payload)) TS_PAT_ImportPreSection(&slot, &payload);
        return &slot;
    };
    Bytes pat = tsb::patSection(1, 0, {{0, 0x10}, {1, 0x100}});
    EXPECT_EQ(TS_PreSection_Verify(load(tsb::psiPacket(0, 0, pat)), 0x00), 0);
    // The codes as the header documents them: other table_id -3, CRC -4, incomplete -2.
    EXPECT_EQ(TS_PreSection_Verify(&slot, 0x02), -3);
    pat[9] ^= 0x01;
    EXPECT_EQ(TS_PreSection_Verify(load(tsb::psiPacket(0, 0, pat)), 0x00), -4);
    EXPECT_EQ(TS_PreSection_Verify(load(start(0, slice(sectionOfLength(300), 0, 183))), 0x00), -2);
    TS_PreSection_Initialise(&slot);
    EXPECT_EQ(TS_PreSection_Verify(&slot, 0x00), -2) << "an empty slot";
    uint16_t extension = 0;
    // table_id_extension is known once its second byte, the section's fifth, is in.
    const Bytes s30 = sectionOfLength(30);
    EXPECT_EQ(TS_PreSection_TableIdExtension(load(start(0, tsb::concat({sectionOfLength(176), slice(s30, 0, 4)}))), &extension),
              TS_ERR_NOT_COMPLETE);
    EXPECT_EQ(TS_PreSection_TableIdExtension(load(start(0, tsb::concat({sectionOfLength(175), slice(s30, 0, 5)}))), &extension), 0);
    EXPECT_EQ(extension, 0x1112);
}

TEST(Reassembly, ContinuesTellsWhetherAPacketCarriesOnThePendingSection) {
    static TS_PreSection slot;
    slot.body[7] = 0x5A;
    TS_PreSection_Initialise(&slot);
    EXPECT_EQ(std::count(std::begin(slot.body), std::end(slot.body), 0), long(sizeof slot.body));
    const Bytes s300 = sectionOfLength(300);
    const Bytes b13 = sectionOfLength(13);
    const Bytes head = slice(s300, 0, 183);
    const Bytes tail = slice(s300, 183, 303);
    auto continues = [&](const Bytes& packet) {
        TS_Payload payload = payloadOf(packet.data());
        return TS_PreSection_Continues(&slot, &payload);
    };
    EXPECT_EQ(continues(more(0, tail)), 0) << "idle slot";
    const Bytes first = start(4, head);
    TS_Payload payload = payloadOf(first.data());
    while (TS_Payload_HasData(&payload)) TS_PMT_ImportPreSection(&slot, &payload);
    const std::tuple<const char*, Bytes, int32_t> cases[] = {  // what the packet is; whether it carries on the section
        {"next counter", more(5, tail), 1},
        {"counter skips", more(6, tail), 0},
        {"counter repeats", more(4, tail), 0},
        {"pointer bytes end it", start(5, b13, tail), 1},
        {"pointer skips nothing", start(5, b13), 0},
    };
    for (const auto& [name, packet, expected] : cases) EXPECT_EQ(continues(packet), expected) << name;
    TS_PreSection_Initialise(&slot);
    EXPECT_EQ(continues(more(5, tail)), 0) << "emptied";
}
