#include <gtest/gtest.h>

#include <string>

#include "rivulet/ts.h"
#include "tests/support/capture.h"

namespace {

using Printer = int32_t (*)(const TS_Descriptor*);

TS_Descriptor record(uint8_t tag, uint8_t length) {
    TS_Descriptor d{};
    d.descriptor_tag = tag;
    d.descriptor_length = length;
    return d;
}

std::string printed(Printer printer, const TS_Descriptor& d, int32_t expectedStatus = 0) {
    int32_t status = 1;
    std::string out = tsb::captureStdout([&] { status = printer(&d); });
    EXPECT_EQ(status, expectedStatus);
    return out;
}

size_t countOf(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

TEST(RawDescriptorPrint, NamesTagAndListsBytes) {
    TS_Descriptor d = record(0x40, 3);
    d.raw.data[0] = 0x01;
    d.raw.data[1] = 0x02;
    d.raw.data[2] = 0x03;
    EXPECT_EQ(printed(TS_Descriptor_PrintRAW, d), "[D Network Name] T:0x40 L:3\n  0x01, 0x02, 0x03, \n");
}

TEST(RawDescriptorPrint, EmptyBodyLeavesAnIndentedEmptyLine) {
    EXPECT_EQ(printed(TS_Descriptor_PrintRAW, record(0x40, 0)), "[D Network Name] T:0x40 L:0\n  \n");
    EXPECT_EQ(printed(TS_Descriptor_PrintRAW, record(0x13, 0)),
              "[D Carousel Identifier] T:0x13 L:0\n  \n");
    EXPECT_EQ(printed(TS_Descriptor_PrintRAW, record(0x01, 0)), "[D ?] T:0x01 L:0\n  \n");
}

TEST(RawDescriptorPrint, SixteenBytesFillOneLine) {
    TS_Descriptor d = record(0xDF, 16);
    for (uint8_t i = 0; i < 16; ++i) d.raw.data[i] = uint8_t(0xA0 + i);
    EXPECT_EQ(printed(TS_Descriptor_PrintRAW, d),
              "[D <Tag Extention>] T:0xDF L:16\n"
              "  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, "
              "0xAE, 0xAF, \n"
              "  \n");
}

TEST(RawDescriptorPrint, SeventeenthByteStandsAlone) {
    TS_Descriptor d = record(0xFF, 17);
    for (uint8_t i = 0; i < 17; ++i) d.raw.data[i] = i;
    EXPECT_EQ(printed(TS_Descriptor_PrintRAW, d),
              "[D ?] T:0xFF L:17\n"
              "  0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, "
              "0x0E, 0x0F, \n"
              "  0x10, \n");
}

TEST(RawDescriptorPrint, FullLengthBody) {
    TS_Descriptor d = record(0x80, 255);
    for (int i = 0; i < 255; ++i) d.raw.data[i] = 0x5A;
    std::string out = printed(TS_Descriptor_PrintRAW, d);
    EXPECT_EQ(out.rfind("[D <Carrier Definition>] T:0x80 L:255\n  ", 0), 0u);
    EXPECT_EQ(countOf(out, "0x5A, "), 255u);
    EXPECT_EQ(countOf(out, "\n"), 17u);  // header, 15 full lines, the last 15 bytes
}

TEST(StreamDescriptorPrint, VideoStreamOfMpeg1PrintsOneLine) {
    TS_Descriptor d = record(TS_TAG_VIDEO_STREAM, 1);
    d.video_stream.multiple_frame_rate_flag = 1;
    d.video_stream.frame_rate_code = 3;
    d.video_stream.MPEG_1_only_flag = 1;
    d.video_stream.constrained_parameter_flag = 1;
    d.video_stream.still_picture_flag = 0;
    d.video_stream.profile_and_level_indication = 0x48;
    EXPECT_EQ(printed(TS_Descriptor_PrintVideoStream, d), "[D Video stream] MFRF:1 FRC:3 CPF:1 SPF:0\n");
}

TEST(StreamDescriptorPrint, VideoStreamOfMpeg2PrintsSecondLine) {
    TS_Descriptor d = record(TS_TAG_VIDEO_STREAM, 3);
    d.video_stream.frame_rate_code = 4;
    d.video_stream.still_picture_flag = 1;
    d.video_stream.profile_and_level_indication = 0x48;
    d.video_stream.chroma_format = 1;
    d.video_stream.frame_rate_extension_flag = 0;
    d.video_stream.reserved = 31;
    EXPECT_EQ(printed(TS_Descriptor_PrintVideoStream, d),
              "[D Video stream] MFRF:0 FRC:4 CPF:0 SPF:1\n  PALI:72 CF:1 FREF:0 R:31\n");
}

TEST(StreamDescriptorPrint, AudioHierarchyAlignment) {
    TS_Descriptor audio = record(TS_TAG_AUDIO_STREAM, 1);
    audio.audio_stream = {1, 1, 2, 0, 7};
    EXPECT_EQ(printed(TS_Descriptor_PrintAudioStream, audio),
              "[D Audio Stream] FFF:1 I:1 L:2 VRAI:0 R:7\n");

    TS_Descriptor hierarchy = record(TS_TAG_HIERARCHY, 4);
    hierarchy.hierarchy = {15, 3, 3, 63, 2, 1, 1, 40};
    EXPECT_EQ(printed(TS_Descriptor_PrintHierarchy, hierarchy),
              "[D Hierarchy] R1:15 HT:3 R2:3 HLI:63 R3:2 HELI:1 R4:1 HC:40\n");

    TS_Descriptor alignment = record(TS_TAG_DATA_STREAM_ALIGNMENT, 1);
    alignment.data_stream_alignment.alignment_type = 0xFF;
    EXPECT_EQ(printed(TS_Descriptor_PrintDataStreamAlignment, alignment),
              "[D Data stream alignment] AT:255\n");
}

TEST(DisplayDescriptorPrint, GridAndWindow) {
    TS_Descriptor grid = record(TS_TAG_TARGET_BACKGROUND_GRID, 4);
    grid.target_background_grid = {16383, 0x1234, 15};
    EXPECT_EQ(printed(TS_Descriptor_PrintTargetBackgroundGrid, grid),
              "[D Target background grid] HS:16383 VS:4660 ARI:15\n");

    TS_Descriptor window = record(TS_TAG_VIDEO_WINDOW, 4);
    window.video_window = {720, 576, 1};
    EXPECT_EQ(printed(TS_Descriptor_PrintVideoWindow, window), "[D Video window] HO:720 VO:576 WP:1\n");
}

TEST(IdentifierDescriptorPrint, RegistrationIdentifierPrintsSigned) {
    TS_Descriptor d = record(TS_TAG_REGISTRATION, 4);
    d.registration.format_identifier = 0xFFFFFFFF;
    EXPECT_EQ(printed(TS_Descriptor_PrintRegistration, d), "[D Registration] FI:-1\n  \n");
}

TEST(IdentifierDescriptorPrint, RegistrationTail) {
    TS_Descriptor d = record(TS_TAG_REGISTRATION, 6);
    d.registration.format_identifier = 0x48455643;  // "HEVC"
    d.registration.additional_identification_info[0] = 0x01;
    d.registration.additional_identification_info[1] = 0xFE;
    d.registration.additional_identification_info[2] = 0x77;  // beyond the length
    EXPECT_EQ(printed(TS_Descriptor_PrintRegistration, d),
              "[D Registration] FI:1212503619\n  0x01, 0xFE, \n");
}

TEST(IdentifierDescriptorPrint, ShortRegistrationHasNoTail) {
    TS_Descriptor d = record(TS_TAG_REGISTRATION, 2);
    d.registration.additional_identification_info[0] = 0x01;
    EXPECT_EQ(printed(TS_Descriptor_PrintRegistration, d), "[D Registration] FI:0\n  \n");
}

TEST(IdentifierDescriptorPrint, ConditionalAccessSystemIdWithoutLeadingZeros) {
    TS_Descriptor d = record(TS_TAG_CONDITIONAL_ACCESS, 6);
    d.conditional_access.CA_system_ID = 0x0B00;
    d.conditional_access.reserved = 7;
    d.conditional_access.CA_PID = 0x0101;
    d.conditional_access.private_data_byte[0] = 0xAA;
    d.conditional_access.private_data_byte[1] = 0xBB;
    EXPECT_EQ(printed(TS_Descriptor_PrintConditionalAccess, d),
              "[D Conditional access] L:6 CASID:B00 R:7 CAPID:0x0101\n  0xAA, 0xBB, \n");
}

TEST(IdentifierDescriptorPrint, ShortConditionalAccessHasNoTail) {
    TS_Descriptor d = record(TS_TAG_CONDITIONAL_ACCESS, 3);
    d.conditional_access.CA_system_ID = 0xFFFF;
    d.conditional_access.CA_PID = 0x1FFF;
    d.conditional_access.private_data_byte[0] = 0xAA;
    EXPECT_EQ(printed(TS_Descriptor_PrintConditionalAccess, d),
              "[D Conditional access] L:3 CASID:FFFF R:0 CAPID:0x1FFF\n  \n");
}

TEST(IdentifierDescriptorPrint, CopyrightAndPrivateDataIndicator) {
    TS_Descriptor copyright = record(TS_TAG_COPYRIGHT, 5);
    copyright.copyright.copyright_identifier = 0x80000000;
    copyright.copyright.additional_copyright_info[0] = 0x0C;
    EXPECT_EQ(printed(TS_Descriptor_PrintCopyright, copyright),
              "[D Copyright] CI:-2147483648\n  0x0C, \n");

    TS_Descriptor indicator = record(TS_TAG_PRIVATE_DATA_INDICATOR, 4);
    indicator.private_data_indicator.private_data_indicator = 0x7FFFFFFF;
    EXPECT_EQ(printed(TS_Descriptor_PrintPrivateDataIndicator, indicator),
              "[D Private data indicator] PD:2147483647\n");
}

TEST(LanguageDescriptorPrint, TwoEntries) {
    TS_Descriptor d = record(TS_TAG_ISO_639_LANGUAGE, 8);
    d.iso639_language.entries[0] = {0x656E67, 1};  // "eng"
    d.iso639_language.entries[1] = {0x646575, 0};  // "deu"
    d.iso639_language.entries[2] = {0x6A706E, 3};  // beyond the length
    EXPECT_EQ(printed(TS_Descriptor_PrintISO639Language, d),
              "[D ISO 639 language]\n  <0> ILC:6647399 AT:1\n  <1> ILC:6579573 AT:0\n");
}

TEST(LanguageDescriptorPrint, EntryCountRoundsDown) {
    TS_Descriptor empty = record(TS_TAG_ISO_639_LANGUAGE, 0);
    empty.iso639_language.entries[0] = {0x656E67, 1};
    EXPECT_EQ(printed(TS_Descriptor_PrintISO639Language, empty), "[D ISO 639 language]\n");

    TS_Descriptor partial = record(TS_TAG_ISO_639_LANGUAGE, 7);
    partial.iso639_language.entries[0] = {0x6A706E, 2};
    EXPECT_EQ(printed(TS_Descriptor_PrintISO639Language, partial),
              "[D ISO 639 language]\n  <0> ILC:6975598 AT:2\n");

    TS_Descriptor full = record(TS_TAG_ISO_639_LANGUAGE, 255);
    std::string out = printed(TS_Descriptor_PrintISO639Language, full);
    EXPECT_EQ(countOf(out, " ILC:0 AT:0\n"), 63u);
    EXPECT_NE(out.find("  <62> ILC:0 AT:0\n"), std::string::npos);
    EXPECT_EQ(out.find("<63>"), std::string::npos);
}

TEST(TimingDescriptorPrint, ClockAndBuffers) {
    TS_Descriptor clock = record(TS_TAG_SYSTEM_CLOCK, 2);
    clock.system_clock = {1, 1, 63, 7, 31};
    EXPECT_EQ(printed(TS_Descriptor_PrintSystemClock, clock),
              "[D System clock] ECRI:1 R1:1 CAI:63 CAE:7 R2:31\n");

    TS_Descriptor multiplex = record(TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, 4);
    multiplex.multiplex_buffer_utilization = {1, 32767, 1, 256};
    EXPECT_EQ(printed(TS_Descriptor_PrintMultiplexBufferUtilization, multiplex),
              "[D Multiplex buffer utilization] BVF:1 LOLB:32767 R:1 LOUB:256\n");

    TS_Descriptor smoothing = record(TS_TAG_SMOOTHING_BUFFER, 6);
    smoothing.smoothing_buffer = {3, 1, 3, 2};
    EXPECT_EQ(printed(TS_Descriptor_PrintSmoothingBuffer, smoothing),
              "[D Smoothing buffer] R1:3 SLR:1 R2:3 SS:2\n");
}

TEST(TimingDescriptorPrint, RatesAndGop) {
    TS_Descriptor bitrate = record(TS_TAG_MAXIMUM_BITRATE, 3);
    bitrate.maximum_bitrate = {3, 0x3FFFFF};
    EXPECT_EQ(printed(TS_Descriptor_PrintMaximumBitrate, bitrate),
              "[D Maximum bitrate] R:3 MB:4194303\n");

    TS_Descriptor stdRecord = record(TS_TAG_STD, 1);
    stdRecord.std = {254, 1};
    EXPECT_EQ(printed(TS_Descriptor_PrintSTD, stdRecord), "[D STD] R:254 LVF:1\n");

    TS_Descriptor ibp = record(TS_TAG_IBP, 2);
    ibp.ibp = {1, 0, 16383};
    EXPECT_EQ(printed(TS_Descriptor_PrintIBP, ibp), "[D IBP] CGF:1 IGF:0 MGL:16383\n");
}

struct OwnedPrinter {
    Printer printer;
    uint8_t tag;
    const char* label;
};

const OwnedPrinter kPrinters[] = {
    {TS_Descriptor_PrintVideoStream, 2, "[D Video stream]"},
    {TS_Descriptor_PrintAudioStream, 3, "[D Audio Stream]"},
    {TS_Descriptor_PrintHierarchy, 4, "[D Hierarchy]"},
    {TS_Descriptor_PrintRegistration, 5, "[D Registration]"},
    {TS_Descriptor_PrintDataStreamAlignment, 6, "[D Data stream alignment]"},
    {TS_Descriptor_PrintTargetBackgroundGrid, 7, "[D Target background grid]"},
    {TS_Descriptor_PrintVideoWindow, 8, "[D Video window]"},
    {TS_Descriptor_PrintConditionalAccess, 9, "[D Conditional access]"},
    {TS_Descriptor_PrintISO639Language, 10, "[D ISO 639 language]"},
    {TS_Descriptor_PrintSystemClock, 11, "[D System clock]"},
    {TS_Descriptor_PrintMultiplexBufferUtilization, 12, "[D Multiplex buffer utilization]"},
    {TS_Descriptor_PrintCopyright, 13, "[D Copyright]"},
    {TS_Descriptor_PrintMaximumBitrate, 14, "[D Maximum bitrate]"},
    {TS_Descriptor_PrintPrivateDataIndicator, 15, "[D Private data indicator]"},
    {TS_Descriptor_PrintSmoothingBuffer, 16, "[D Smoothing buffer]"},
    {TS_Descriptor_PrintSTD, 17, "[D STD]"},
    {TS_Descriptor_PrintIBP, 18, "[D IBP]"},
};

TEST(DescriptorPrinters, WrongTagIsRefusedSilently) {
    for (const OwnedPrinter& p : kPrinters) {
        uint8_t otherTag = p.tag == 18 ? 2 : uint8_t(p.tag + 1);
        EXPECT_EQ(printed(p.printer, record(otherTag, 4), TS_ERR_WRONG_TAG), "") << int(p.tag);
        EXPECT_EQ(printed(p.printer, record(0x40, 4), TS_ERR_WRONG_TAG), "") << int(p.tag);
    }
}

TEST(DescriptorPrinters, NullRecordIsRefusedSilently) {
    std::string out = tsb::captureStdout([] {
        for (const OwnedPrinter& p : kPrinters) EXPECT_EQ(p.printer(nullptr), -1) << int(p.tag);
        EXPECT_EQ(TS_Descriptor_PrintRAW(nullptr), -1);
        EXPECT_EQ(TS_Descriptor_Print(nullptr), -1);
    });
    EXPECT_EQ(out, "");
}

TEST(DescriptorDispatch, KnownTagsReachTheirPrinter) {
    for (const OwnedPrinter& p : kPrinters) {
        TS_Descriptor d = record(p.tag, 4);
        std::string viaDispatch = printed(TS_Descriptor_Print, d);
        EXPECT_EQ(viaDispatch.rfind(p.label, 0), 0u) << int(p.tag);
        EXPECT_EQ(viaDispatch, printed(p.printer, d)) << int(p.tag);
    }
}

TEST(DescriptorDispatch, OtherTagsGoRaw) {
    EXPECT_EQ(printed(TS_Descriptor_Print, record(0x00, 0)), "[D ?] T:0x00 L:0\n  \n");
    EXPECT_EQ(printed(TS_Descriptor_Print, record(0x01, 0)), "[D ?] T:0x01 L:0\n  \n");
    EXPECT_EQ(printed(TS_Descriptor_Print, record(0x13, 0)), "[D Carousel Identifier] T:0x13 L:0\n  \n");
    TS_Descriptor d = record(0xFE, 1);
    d.raw.data[0] = 0x9C;
    EXPECT_EQ(printed(TS_Descriptor_Print, d), "[D System Management] T:0xFE L:1\n  0x9C, \n");
}

}  // namespace
