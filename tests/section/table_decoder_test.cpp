// The table decoder: sections in as packets, each table published once,
// whole, checked, with the offset of the packet that completed it.

#include <vector>

#include "tests/support/test.h"
#include "ts/tables/table_decoder.h"

namespace {

using rivulet::TableKind;
using rivulet::TableSection;

struct Published {
    TableKind kind;
    uint64_t offset;
    uint8_t version;
    uint16_t entries;  // of a whole PAT
};

void record(void* user, const TableSection& s) {
    uint16_t entries = s.pPAT ? s.pPAT->program_count : 0;
    uint8_t version = uint8_t((s.pSlot->body[5] >> 1) & 0x1F);
    static_cast<std::vector<Published>*>(user)->push_back({s.eKind, s.u64Offset, version, entries});
}

struct Decoder {
    Decoder() : d(rivulet::tableDecoderCreate()) {}
    ~Decoder() { rivulet::tableDecoderDestroy(d); }
    void feed(const Bytes& stream) {
        for (size_t at = 0; at < stream.size(); at += 188) {
            TS_Packet header{};
            TS_Packet_GetHeader(&header, stream.data() + at);
            rivulet::tableDecoderFeed(d, stream.data() + at, header, at);
        }
    }
    rivulet::TableDecoder* d;
    std::vector<Published> got;
};

TEST(TableDecoder, PATOfTwoSectionsPublishesOnceWhole) {
    Decoder t;
    rivulet::tableSubscribe(t.d, TableKind::PAT, record, &t.got);
    tsb::Stream188 s;
    s.section(0, tsb::numbered(tsb::patSection(1, 3, {{1, 0x100}}), 0, 1));
    s.section(0, tsb::numbered(tsb::patSection(1, 3, {{2, 0x200}}), 1, 1));
    t.feed(s.bytes);
    ASSERT_EQ(t.got.size(), 1u);
    EXPECT_EQ(t.got[0].entries, 2);
    EXPECT_EQ(t.got[0].offset, 188u);
}

TEST(TableDecoder, PMTOfTheProgramPublishesEachChange) {
    Decoder t;
    rivulet::tableSubscribe(t.d, TableKind::PMT, record, &t.got);
    tsb::Stream188 s;
    s.pat({{1, 0x100}});
    s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}, 4));
    s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}, 5));
    t.feed(s.bytes);
    ASSERT_EQ(t.got.size(), 2u);
    EXPECT_EQ(t.got[0].version, 4);
    EXPECT_EQ(t.got[1].version, 5);
}

// Two subscribers of one kind: one reassembly, and a section whose CRC_32
// fails reaches only a subscriber of every section.
TEST(TableDecoder, SectionIsCheckedOnceAndADamagedOneIsNotPublished) {
    Decoder t;
    std::vector<Published> every;
    rivulet::tableSubscribe(t.d, TableKind::SDTActual, record, &t.got);
    rivulet::tableSubscribe(t.d, TableKind::SDTActual, record, &t.got);
    rivulet::tableSubscribeEvery(t.d, TableKind::SDTActual, record, &every);
    Bytes damaged = sdtSection({{1, "One"}});
    damaged.back() ^= 1;
    tsb::Stream188 s;
    s.section(0x11, sdtSection({{1, "One"}}));
    s.section(0x11, damaged);
    t.feed(s.bytes);
    EXPECT_EQ(t.got.size(), 2u);
    EXPECT_EQ(every.size(), 2u);
    EXPECT_EQ(rivulet::tableDecoderReassembled(*t.d, TableKind::SDTActual), 1u);
}

TEST(TableDecoder, SectionAcrossPacketsCarriesTheOffsetOfItsLastPacket) {
    Decoder t;
    rivulet::tableSubscribe(t.d, TableKind::PMT, record, &t.got);
    tsb::Stream188 s;
    s.pat({{1, 0x100}});
    s.es(0x101);
    s.section(0x100, tsb::pmtSection(1, 0x101, tsb::descriptor(0x05, Bytes(200, 0x41)), {{0x02, 0x101, {}}}));
    t.feed(s.bytes);
    ASSERT_EQ(s.count(), 4u);
    ASSERT_EQ(t.got.size(), 1u);
    EXPECT_EQ(t.got[0].offset, 3u * 188);
}

}  // namespace
