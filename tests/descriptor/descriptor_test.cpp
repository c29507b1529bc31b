// Descriptors: bytes in, the parsed record printed out. Each record starts
// filled with 0xA5, so a field the parser should have zeroed prints as 165.
// Inputs are exactly the bytes given: a read past them trips the sanitizer.

#include <cstring>
#include <memory>

#include "tests/support/test.h"

namespace {

std::string parsedAndPrinted(const Bytes& bytes) {
    TS_Descriptor d;
    std::memset(&d, 0xA5, sizeof d);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    EXPECT_EQ(TS_GetDescriptor(&d, exact.get(), uint32_t(bytes.size())), 0) << tsb::hex(bytes);
    Outcome printed = captured([&] { return TS_Descriptor_Print(&d); });
    EXPECT_EQ(printed.status, 0);
    return printed.out;
}

Bytes counting(uint8_t tag, uint8_t length, uint8_t from) {
    Bytes b = {tag, length};
    for (int i = 0; i < length; ++i) b.push_back(uint8_t(from + i));
    return b;
}

// Getter and printer of each tag from 2 to 18.
using Getter = int32_t (*)(TS_Descriptor*, const uint8_t*, uint32_t);
using Printer = int32_t (*)(const TS_Descriptor*);
const std::pair<Getter, Printer> kByTag[] = {
    {TS_Descriptor_GetVideoStream, TS_Descriptor_PrintVideoStream},
    {TS_Descriptor_GetAudioStream, TS_Descriptor_PrintAudioStream},
    {TS_Descriptor_GetHierarchy, TS_Descriptor_PrintHierarchy},
    {TS_Descriptor_GetRegistration, TS_Descriptor_PrintRegistration},
    {TS_Descriptor_GetDataStreamAlignment, TS_Descriptor_PrintDataStreamAlignment},
    {TS_Descriptor_GetTargetBackgroundGrid, TS_Descriptor_PrintTargetBackgroundGrid},
    {TS_Descriptor_GetVideoWindow, TS_Descriptor_PrintVideoWindow},
    {TS_Descriptor_GetConditionalAccess, TS_Descriptor_PrintConditionalAccess},
    {TS_Descriptor_GetISO639Language, TS_Descriptor_PrintISO639Language},
    {TS_Descriptor_GetSystemClock, TS_Descriptor_PrintSystemClock},
    {TS_Descriptor_GetMultiplexBufferUtilization, TS_Descriptor_PrintMultiplexBufferUtilization},
    {TS_Descriptor_GetCopyright, TS_Descriptor_PrintCopyright},
    {TS_Descriptor_GetMaximumBitrate, TS_Descriptor_PrintMaximumBitrate},
    {TS_Descriptor_GetPrivateDataIndicator, TS_Descriptor_PrintPrivateDataIndicator},
    {TS_Descriptor_GetSmoothingBuffer, TS_Descriptor_PrintSmoothingBuffer},
    {TS_Descriptor_GetSTD, TS_Descriptor_PrintSTD},
    {TS_Descriptor_GetIBP, TS_Descriptor_PrintIBP},
};

}  // namespace

TEST(Descriptor, BytesInTextOut) {
    const std::pair<Bytes, std::string> cases[] = {
        {{0x02, 0x03, 0x4A, 0x48, 0xB5}, "[D Video stream] MFRF:0 FRC:9 CPF:1 SPF:0\n  PALI:72 CF:2 FREF:1 R:21\n"},
        {{0x02, 0x01, 0xB5}, "[D Video stream] MFRF:1 FRC:6 CPF:0 SPF:1\n"},  // MPEG-1 only: one byte
        {{0x02, 0x01, 0x4A}, "[D Video stream] MFRF:0 FRC:9 CPF:1 SPF:0\n  PALI:0 CF:0 FREF:0 R:0\n"},
        {{0x03, 0x01, 0xEB}, "[D Audio Stream] FFF:1 I:1 L:2 VRAI:1 R:3\n"},
        {{0x04, 0x04, 0x5A, 0xC3, 0x81, 0x7F}, "[D Hierarchy] R1:5 HT:10 R2:3 HLI:3 R3:2 HELI:1 R4:1 HC:63\n"},
        {{0x04, 0x02, 0x5A, 0xC3}, "[D Hierarchy] R1:5 HT:10 R2:3 HLI:3 R3:0 HELI:0 R4:0 HC:0\n"},
        {{0x05, 0x04, 'C', 'U', 'E', 'I'}, "[D Registration] FI:1129661769\n  \n"},
        {{0x05, 0x06, 'H', 'D', 'M', 'V', 0xFF, 0x1B}, "[D Registration] FI:1212435798\n  0xFF, 0x1B, \n"},
        {{0x05, 0x0A, 'A', 'B', 'C', 'D', 0x01}, "[D Registration] FI:1094861636\n  0x01, \n"},  // length past the loop
        {{0x05, 0x02, 0x12, 0x34}, "[D Registration] FI:305397760\n  \n"},
        {{0x05, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}, "[D Registration] FI:-1\n  \n"},
        {{0x06, 0x01, 0x02}, "[D Data stream alignment] AT:2\n"},
        {{0x07, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}, "[D Target background grid] HS:16383 VS:16383 ARI:15\n"},
        {{0x07, 0x04, 0x00, 0x01, 0x23, 0x40}, "[D Target background grid] HS:0 VS:4660 ARI:0\n"},
        {{0x07, 0x01, 0xFF}, "[D Target background grid] HS:16320 VS:0 ARI:0\n"},
        {{0x08, 0x04, 0x12, 0x34, 0x56, 0x78}, "[D Video window] HO:1165 VO:1383 WP:8\n"},
        {{0x09, 0x04, 0x06, 0x04, 0xE1, 0x23}, "[D Conditional access] L:4 CASID:604 R:7 CAPID:0x0123\n  \n"},
        {tsb::caDescriptor(0x4AE1, 0x1FFE, {0xDE, 0xAD}),
         "[D Conditional access] L:6 CASID:4AE1 R:7 CAPID:0x1FFE\n  0xDE, 0xAD, \n"},
        {{0x09, 0x03, 0x06, 0x04, 0xE1}, "[D Conditional access] L:3 CASID:604 R:7 CAPID:0x0100\n  \n"},
        {{0x09, 0x04}, "[D Conditional access] L:0 CASID:0 R:0 CAPID:0x0000\n  \n"},
        {{0x0A, 0x08, 'j', 'p', 'n', 0, 'e', 'n', 'g', 3},
         "[D ISO 639 language]\n  <0> ILC:6975598 AT:0\n  <1> ILC:6647399 AT:3\n"},
        {{0x0A, 0x08, 'f', 'r', 'a', 2, 'd', 'e'}, "[D ISO 639 language]\n  <0> ILC:6713953 AT:2\n"},
        {{0x0A, 0x00}, "[D ISO 639 language]\n"},
        {{0x0B, 0x02, 0xC5, 0xBF}, "[D System clock] ECRI:1 R1:1 CAI:5 CAE:5 R2:31\n"},
        {{0x0B, 0x00}, "[D System clock] ECRI:0 R1:0 CAI:0 CAE:0 R2:0\n"},
        {{0x0C, 0x04, 0x80, 0x01, 0xFF, 0xFE}, "[D Multiplex buffer utilization] BVF:1 LOLB:1 R:1 LOUB:32766\n"},
        {{0x0C, 0x02, 0x80, 0x01}, "[D Multiplex buffer utilization] BVF:1 LOLB:1 R:0 LOUB:0\n"},
        {{0x0D, 0x05, 0x00, 0x00, 0x00, 0x2A, 0x10}, "[D Copyright] CI:42\n  0x10, \n"},
        {{0x0D, 0x05, 0x80, 0x00, 0x00, 0x00, 0x0C}, "[D Copyright] CI:-2147483648\n  0x0C, \n"},
        {{0x0D, 0x00}, "[D Copyright] CI:0\n  \n"},
        {{0x0E, 0x03, 0xC1, 0x23, 0x45}, "[D Maximum bitrate] R:3 MB:74565\n"},
        {{0x0F, 0x04, 'A', 'C', '-', '3'}, "[D Private data indicator] PD:1094921523\n"},
        {{0x10, 0x06, 0xC0, 0x00, 0x01, 0xC0, 0x00, 0x02}, "[D Smoothing buffer] R1:3 SLR:1 R2:3 SS:2\n"},
        {{0x10, 0x06, 0xC0, 0x12}, "[D Smoothing buffer] R1:3 SLR:4608 R2:0 SS:0\n"},
        {{0x11, 0x01, 0xFF}, "[D STD] R:254 LVF:1\n"},  // reserved bits kept in place
        {{0x11, 0x01, 0xAA}, "[D STD] R:170 LVF:0\n"},
        {{0x12, 0x02, 0x81, 0x02}, "[D IBP] CGF:1 IGF:0 MGL:258\n"},
        {{0x12, 0x02, 0x40, 0x0F}, "[D IBP] CGF:0 IGF:1 MGL:15\n"},
        {{0x12, 0x00}, "[D IBP] CGF:0 IGF:0 MGL:0\n"},
        {{0x00, 0x03, 0x11, 0x22, 0x33, 0x99}, "[D ?] T:0x00 L:3\n  0x11, 0x22, 0x33, \n"},
        {{0x40, 0xFF, 0x01, 0x02, 0x03}, "[D Network Name] T:0x40 L:3\n  0x01, 0x02, 0x03, \n"},
        {{0x13, 0x00}, "[D Carousel Identifier] T:0x13 L:0\n  \n"},
        {counting(0xDF, 16, 0xA0),
         "[D <Tag Extention>] T:0xDF L:16\n  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, "
         "0xAC, 0xAD, 0xAE, 0xAF, \n  \n"},
        {counting(0xFF, 17, 0x00),
         "[D ?] T:0xFF L:17\n  0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, "
         "0x0E, 0x0F, \n  0x10, \n"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(parsedAndPrinted(bytes), text) << tsb::hex(bytes);

    std::string full = parsedAndPrinted(counting(0x0A, 255, 0));  // room for 63 entries and no more
    EXPECT_NE(full.find("  <62> ILC:16316922 AT:251\n"), std::string::npos);
    EXPECT_EQ(full.find("<63>"), std::string::npos);
}

TEST(Descriptor, GettersAndPrintersTakeOnlyTheirOwnTag) {
    for (uint8_t tag = 2; tag <= 18; ++tag) {
        auto [get, print] = kByTag[tag - 2];
        for (uint8_t other : {uint8_t(tag - 1), uint8_t(tag + 1), uint8_t(0x40)}) {
            Bytes bytes = {other, 0x04, 0x01, 0x02, 0x03, 0x04};
            TS_Descriptor d{};
            d.descriptor_tag = other;
            EXPECT_EQ(get(&d, bytes.data(), 6), TS_ERR_WRONG_TAG) << int(tag);
            EXPECT_EQ(d.descriptor_length, 0) << int(tag);
            Outcome printed = captured([&] { return print(&d); });
            EXPECT_EQ(printed.status, TS_ERR_WRONG_TAG) << int(tag);
            EXPECT_EQ(printed.out, "") << int(tag);
        }
        Bytes bytes = {tag, 0x04, 0x01, 0x02, 0x03, 0x04};
        TS_Descriptor d{};
        ASSERT_EQ(get(&d, bytes.data(), 6), 0) << int(tag);
        EXPECT_EQ(captured([&] { return print(&d); }).out, parsedAndPrinted(bytes)) << int(tag);
        EXPECT_EQ(get(&d, bytes.data(), 1), -1) << int(tag);
        EXPECT_EQ(get(nullptr, bytes.data(), 6), -1) << int(tag);
        EXPECT_EQ(print(nullptr), -1) << int(tag);
    }
    TS_Descriptor rawRecord{};
    Bytes raw = {0x80, 0x00};
    EXPECT_EQ(TS_Descriptor_GetRAW(&rawRecord, raw.data(), 1), -1);
    EXPECT_EQ(TS_Descriptor_GetRAW(nullptr, raw.data(), 2), -1);
    TS_Descriptor d{};
    Bytes ca = {0x09, 0x02, 0x06, 0x04};
    ASSERT_EQ(TS_Descriptor_GetRAW(&d, ca.data(), 4), 0);  // any tag, copied raw
    EXPECT_EQ(captured([&] { return TS_Descriptor_PrintRAW(&d); }).out,
              "[D Conditional Access] T:0x09 L:2\n  0x06, 0x04, \n");
    EXPECT_EQ(TS_GetDescriptor(&d, ca.data(), 1), -1);
    EXPECT_EQ(TS_GetDescriptor(&d, nullptr, 4), -1);
    // The longest body, 255 bytes, is kept whole.
    Bytes longest(257, 0x5A);
    longest[0] = 0xFF;
    longest[1] = 0xFF;
    TS_Descriptor longestRecord{};
    ASSERT_EQ(TS_Descriptor_GetRAW(&longestRecord, longest.data(), 257), 0);
    std::string bytes;
    for (int i = 1; i <= 255; ++i) bytes += i % 16 == 0 ? "0x5A, \n  " : "0x5A, ";  // sixteen a line
    EXPECT_EQ(captured([&] { return TS_Descriptor_PrintRAW(&longestRecord); }).out, "[D ?] T:0xFF L:255\n  " + bytes + "\n");
}
