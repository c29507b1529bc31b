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
    bool operator==(const Published&) const = default;
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

// Each table once it is whole, at the offset of the packet that completed it.
TEST(TableDecoder, PublishesEachWholeTableAtItsLastPacket) {
    const Bytes pat = tsb::patSection(1, 0, {{1, 0x100}});
    const struct {
        const char* what;
        TableKind kind;
        std::vector<Piece> input;
        std::vector<Published> want;
    } cases[] = {
        {"a PAT of two sections, once", TableKind::PAT,
         {{0, tsb::numbered(tsb::patSection(1, 3, {{1, 0x100}}), 0, 1)}, {0, tsb::numbered(tsb::patSection(1, 3, {{2, 0x200}}), 1, 1)}},
         {{TableKind::PAT, 188, 3, 2}}},
        {"each change of the program's PMT", TableKind::PMT,
         {{0, pat}, {0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}, 4)},
          {0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}, 5)}},
         {{TableKind::PMT, 188, 4, 0}, {TableKind::PMT, 376, 5, 0}}},
        {"another table on the SDT's PID", TableKind::SDTActual,
         {{0x11, tsb::section(0x00, 1, 2, {})}, {0x11, sdtSection({{1, "One"}})}},
         {{TableKind::SDTActual, 188, 0, 0}}},
        {"ATSC's guide on the PIDs the MGT names (EIT-1, ETT-0), not elsewhere", TableKind::ATSCGuide,
         {{0x1FFB, tsb::section(0xC7, 0, 0, {0, 0x00, 0x02, 0x01, 0x01, 0xFD, 0x01, 0xE0, 0, 0, 0, 0, 0xF0, 0x00,
                                            0x02, 0x00, 0xFE, 0x00, 0xE0, 0, 0, 0, 0, 0xF0, 0x00, 0xF0, 0x00})},
          {0x1D01, tsb::section(0xCB, 5, 1, {0, 0})}, {0x1D00, tsb::section(0xCB, 5, 2, {0, 0})},
          {0x1E00, tsb::section(0xCC, 0, 3, {0, 0, 5, 0, 6})}},
         {{TableKind::ATSCGuide, 188, 1, 0}, {TableKind::ATSCGuide, 3 * 188, 3, 0}}},
        {"a section across packets", TableKind::PMT,
         {{0, pat}, {0x101}, {0x100, tsb::pmtSection(1, 0x101, tsb::descriptor(0x05, Bytes(200, 0x41)), {{0x02, 0x101, {}}})}},
         {{TableKind::PMT, 3 * 188, 0, 0}}},
    };
    for (const auto& c : cases) {
        Decoder t;
        rivulet::tableSubscribe(t.d, c.kind, record, &t.got);
        t.feed(streamOf(c.input).bytes);
        EXPECT_TRUE(t.got == c.want) << c.what;
    }
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
    t.feed(streamOf({{0x11, sdtSection({{1, "One"}})}, {0x11, damaged}}).bytes);
    EXPECT_EQ(t.got.size(), 2u);
    EXPECT_EQ(every.size(), 2u);
    EXPECT_EQ(rivulet::tableDecoderReassembled(*t.d, TableKind::SDTActual), 1u);
}

}  // namespace
