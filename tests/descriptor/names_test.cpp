#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rivulet/ts.h"

namespace {

using NameFunction = int32_t (*)(char*, uint8_t);

std::string nameOf(NameFunction function, uint8_t id) {
    char buffer[256];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(function(buffer, id), 0);
    std::string name(buffer);
    EXPECT_EQ(buffer[name.size() + 1], 'X') << "byte behind the terminator was written";
    return name;
}

size_t longestName(NameFunction function) {
    size_t longest = 0;
    for (int id = 0; id <= 0xFF; ++id) {
        size_t length = nameOf(function, uint8_t(id)).size();
        if (length > longest) longest = length;
    }
    return longest;
}

TEST(TableIdNames, SingleEntriesRangesAndDefault) {
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x00), "PAT");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x01), "CAT");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x02), "maybe PMT");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x03), "?");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x39), "?");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x3A), "DSM-CC Section");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x3F), "DSM-CC Section");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x42), "SDT Self");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x43), "?");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x4F), "EIT Other");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x50), "EIT Self Scedule");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x55), "EIT Self Scedule");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x60), "EIT Other Scedule");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x6F), "EIT Other Scedule");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x72), "ST");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x7F), "SIT");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x80), "?");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x82), "ECM ECM-S");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x83), "ECM ECM-S");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x85), "EMM EMM-S");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x86), "?");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0x90), "<Carrier Definition>");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0xBF), "<Carrier Definition>");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0xC6), "NBIT Reference");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0xC9), "?");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0xD2), "ITT");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0xD3), "?");
    EXPECT_EQ(nameOf(TS_Section_TagToString, 0xFF), "?");
}

TEST(TableIdNames, IsoNaming) {
    EXPECT_EQ(nameOf(TS_Section_TagToString_ISO, 0x00), "program_association_section");
    EXPECT_EQ(nameOf(TS_Section_TagToString_ISO, 0x01), "conditional_access_section");
    EXPECT_EQ(nameOf(TS_Section_TagToString_ISO, 0x02), "TS_program_map_section");
    EXPECT_EQ(nameOf(TS_Section_TagToString_ISO, 0x03), "<reserved>");
    EXPECT_EQ(nameOf(TS_Section_TagToString_ISO, 0x3F), "<reserved>");
    EXPECT_EQ(nameOf(TS_Section_TagToString_ISO, 0x40), "<User private>");
    EXPECT_EQ(nameOf(TS_Section_TagToString_ISO, 0xFE), "<User private>");
    EXPECT_EQ(nameOf(TS_Section_TagToString_ISO, 0xFF), "forbidden");
}

TEST(StreamTypeNames, EntriesAndRanges) {
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x00), "<ISO/IEC Reserved>");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x02), "ISO/IEC 13818-2 Video");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x0F), "ISO/IEC 13818-7 Audio");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x11), "ISO/IEC 14496-3 / AMD 1");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x19),
              "Metadata by ISO/IEC 13818-6 Sync download protocol");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x1B), "ISO/IEC 14496-10 AVC Video");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x20), "IEC 14496-10 MVC Video sub bit");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x21), "<ISO/IEC 13818-1 Reserved>");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x7E), "<ISO/IEC 13818-1 Reserved>");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x7F), "IPMP");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0x80), "<User define>");
    EXPECT_EQ(nameOf(TS_Header_StreamTypeToString, 0xFF), "<User define>");
}

TEST(DescriptorTagNames, EntriesRangeAndDefault) {
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x00), "?");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x02), "?");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x09), "Conditional Access");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x13), "Carousel Identifier");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x15), "Deferred Association tags");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x40), "Network Name");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x45), "?");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x63), "Partial Transport Stream");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x7F), "?");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0x80), "<Carrier Definition>");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xBF), "<Carrier Definition>");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xC0), "Hierarchical Transmission");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xC3), "Partial Transport Stream Time");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xDF), "<Tag Extention>");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xE0), "Service Group");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xE1), "?");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xF6), "?");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xF7), "Carousel Compatible Composite");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xFE), "System Management");
    EXPECT_EQ(nameOf(TS_DescriptorTagToString, 0xFF), "?");
}

TEST(NameTables, TablesWithoutDefaultNameEveryIdentifier) {
    for (int id = 0; id <= 0xFF; ++id) {
        EXPECT_NE(nameOf(TS_Header_StreamTypeToString, uint8_t(id)), "?") << id;
        EXPECT_NE(nameOf(TS_Section_TagToString_ISO, uint8_t(id)), "?") << id;
    }
}

TEST(NameTables, LongestNamesFitTheStatedBuffers) {
    EXPECT_EQ(longestName(TS_Section_TagToString), 20u);
    EXPECT_EQ(longestName(TS_Section_TagToString_ISO), 27u);
    EXPECT_EQ(longestName(TS_Header_StreamTypeToString), 50u);
    EXPECT_EQ(longestName(TS_DescriptorTagToString), 29u);
}

TEST(NameTables, NullBufferIsRefusedForEveryIdentifier) {
    for (int id = 0; id <= 0xFF; ++id) {
        EXPECT_EQ(TS_Section_TagToString(nullptr, uint8_t(id)), -1);
        EXPECT_EQ(TS_Section_TagToString_ISO(nullptr, uint8_t(id)), -1);
        EXPECT_EQ(TS_Header_StreamTypeToString(nullptr, uint8_t(id)), -1);
        EXPECT_EQ(TS_DescriptorTagToString(nullptr, uint8_t(id)), -1);
    }
}

}  // namespace
