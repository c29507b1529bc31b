// Name tables, by their properties: every identifier gets a name that fits
// the 256-byte buffers of every call site, assigned ranges share one name,
// and identifiers nobody assigned fall back to the table's default.

#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "tests/support/test.h"

namespace {

using NameOf = int32_t (*)(char*, uint8_t);

std::string nameOf(NameOf table, int id) {
    char buffer[256];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(table(buffer, uint8_t(id)), 0);
    std::string name(buffer, strnlen(buffer, sizeof buffer));
    EXPECT_LT(name.size(), 64u);
    EXPECT_EQ(buffer[name.size() + 1], 'X') << "written behind the terminator";
    return name;
}

}  // namespace

TEST(NameTables, EveryIdentifierHasANameAndRangesShareOne) {
    const struct {
        const char* table;
        NameOf nameOf;
        bool hasDefault;  // "?" for identifiers nobody assigned
        std::vector<std::pair<int, int>> ranges;
        std::vector<int> unassigned;
        std::vector<std::pair<int, int>> distinct;  // stretches of identifiers each with a name of its own
    } tables[] = {
        {"table_id", TS_Section_TagToString, true, {{0x3A, 0x3F}, {0x50, 0x5F}, {0x60, 0x6F}, {0x82, 0x83}, {0x84, 0x85}, {0x90, 0xBF}},
         {0x03, 0x39, 0x43, 0x47, 0x4B, 0x80, 0x86, 0xC9, 0xD3, 0xFF}, {{0x40, 0x42}, {0x46, 0x46}, {0x4A, 0x4A}, {0x4E, 0x4F}, {0x70, 0x74}, {0xC0, 0xC8}, {0xD0, 0xD2}}},
        {"table_id ISO", TS_Section_TagToString_ISO, false, {{0x03, 0x3F}, {0x40, 0xFE}}, {}, {{0x00, 0x03}}},
        {"stream_type", TS_Header_StreamTypeToString, false, {{0x21, 0x7E}, {0x80, 0xFF}}, {}, {{0x00, 0x21}}},
        {"descriptor tag", TS_DescriptorTagToString, true, {{0x80, 0xBF}},
         {0x00, 0x02, 0x45, 0x7F, 0xE1, 0xF6, 0xFF}, {{0x40, 0x44}, {0x47, 0x55}, {0xC0, 0xE0}, {0xF7, 0xFE}}},
    };
    for (const auto& t : tables) {
        for (int id = 0; id <= 0xFF; ++id) {
            std::string name = nameOf(t.nameOf, id);
            EXPECT_FALSE(name.empty()) << t.table << " " << id;
            EXPECT_TRUE(t.hasDefault || name != "?") << t.table << " " << id;
            EXPECT_EQ(t.nameOf(nullptr, uint8_t(id)), -1);
        }
        for (auto [first, last] : t.ranges) {
            for (int id = first; id <= last; ++id) EXPECT_EQ(nameOf(t.nameOf, id), nameOf(t.nameOf, first)) << t.table << id;
            EXPECT_NE(nameOf(t.nameOf, first - 1), nameOf(t.nameOf, first)) << t.table << " " << first;
            EXPECT_TRUE(last == 0xFF || nameOf(t.nameOf, last + 1) != nameOf(t.nameOf, last)) << t.table << " " << last;
        }
        for (int id : t.unassigned) EXPECT_EQ(nameOf(t.nameOf, id), "?") << t.table << " " << id;
        for (auto [first, last] : t.distinct) {
            std::set<std::string> names;
            for (int id = first; id <= last; ++id) names.insert(nameOf(t.nameOf, id));
            EXPECT_EQ(names.size(), size_t(last - first + 1)) << t.table << " " << first;
            EXPECT_EQ(names.count("?"), 0u) << t.table << " " << first;
        }
    }
}

// A few names by hand, from the tables of ISO/IEC 13818-1, ETSI EN 300 468
// and ARIB STD-B10, across the tables' stretches of single entries.
TEST(NameTables, NamesOfSingleIdentifiers) {
    const std::tuple<NameOf, int, const char*> cases[] = {
        {TS_Section_TagToString, 0x42, "SDT Self"}, {TS_Section_TagToString, 0x4E, "EIT Self"},
        {TS_Section_TagToString, 0xC0, "DCT"}, {TS_Section_TagToString, 0xC3, "SDTT"},
        {TS_Section_TagToString, 0xC8, "CDT"}, {TS_Section_TagToString, 0xD0, "LIT"},
        {TS_Header_StreamTypeToString, 0x0F, "ISO/IEC 13818-7 Audio"},
        {TS_Header_StreamTypeToString, 0x1B, "ISO/IEC 14496-10 AVC Video"},
        {TS_DescriptorTagToString, 0x1C, "MPEG-4 Audio"}, {TS_DescriptorTagToString, 0x28, "AVC Video"},
        {TS_DescriptorTagToString, 0x2A, "AVC timing and HRD"},
        {TS_DescriptorTagToString, 0x48, "Service"}, {TS_DescriptorTagToString, 0x54, "Content"},
        {TS_DescriptorTagToString, 0xC2, "Network Identification"}, {TS_DescriptorTagToString, 0xC7, "Data Content"},
        {TS_DescriptorTagToString, 0xD2, "Node Relation"}, {TS_DescriptorTagToString, 0xD4, "STC Reference"},
    };
    for (const auto& [table, id, name] : cases) EXPECT_EQ(nameOf(table, id), name) << id;
}

TEST(NameTables, PIDsByTheirAssignedRanges) {
    char name[256];
    for (auto [pid, expected] : {std::pair{0x0002, "<reserved>"}, {0x000F, "<reserved>"}, {0x0010, "<assigned>"},
                                 {0x1FFE, "<assigned>"}, {0x2000, "?"}, {0xFFFF, "?"}}) {
        ASSERT_EQ(TS_Header_PIDToString(name, pid), 0);
        EXPECT_STREQ(name, expected) << pid;
    }
    EXPECT_EQ(TS_Header_PIDToString(nullptr, 0), -1);
}
