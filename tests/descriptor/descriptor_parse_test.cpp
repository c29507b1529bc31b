// Descriptor parsing: every getter against hand-computed bodies, the raw copy
// of unknown tags, wrong-tag and null handling, and bodies cut short by the
// end of their loop. Inputs live in vectors of exactly the bytes given, so
// that a read past them trips the address sanitizer.
#include <gtest/gtest.h>

#include <cstring>

#include "rivulet/ts.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

// Every record starts filled with this byte: a field that still holds it was
// not written.
constexpr uint8_t kFill = 0xA5;
constexpr uint32_t kFill32 = 0xA5A5A5A5;

class DescriptorParse : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&d, kFill, sizeof d); }

    int32_t parse(const Bytes& bytes) {
        return TS_GetDescriptor(&d, bytes.data(), uint32_t(bytes.size()));
    }

    bool untouched() const {
        TS_Descriptor filled;
        std::memset(&filled, kFill, sizeof filled);
        return std::memcmp(&filled, &d, sizeof d) == 0;
    }

    TS_Descriptor d;
};

TEST_F(DescriptorParse, TagsWithoutGetterAreCopiedRaw) {
    for (uint8_t tag : {0x00, 0x01, 0x13, 0x48, 0xFF}) {
        SetUp();
        ASSERT_EQ(parse({tag, 0x03, 0x11, 0x22, 0x33, 0x99}), 0) << int(tag);
        EXPECT_EQ(d.descriptor_tag, tag);
        EXPECT_EQ(d.descriptor_length, 3);
        EXPECT_EQ(d.raw.data[0], 0x11);
        EXPECT_EQ(d.raw.data[1], 0x22);
        EXPECT_EQ(d.raw.data[2], 0x33);
        EXPECT_EQ(d.raw.data[3], kFill) << "byte behind the body was copied";
    }
}

TEST_F(DescriptorParse, RawWithLengthZeroCopiesNothing) {
    ASSERT_EQ(parse({0x52, 0x00}), 0);
    EXPECT_EQ(d.descriptor_tag, 0x52);
    EXPECT_EQ(d.descriptor_length, 0);
    EXPECT_EQ(d.raw.data[0], kFill);
}

TEST_F(DescriptorParse, RawGetterAcceptsAKnownTag) {
    Bytes bytes = {0x09, 0x02, 0x06, 0x04};
    ASSERT_EQ(TS_Descriptor_GetRAW(&d, bytes.data(), uint32_t(bytes.size())), 0);
    EXPECT_EQ(d.descriptor_tag, 0x09);
    EXPECT_EQ(d.raw.data[0], 0x06);
    EXPECT_EQ(d.raw.data[1], 0x04);
}

TEST_F(DescriptorParse, VideoStreamMpeg2WritesAllNineFields) {
    // 0 1001 0 1 0: frame_rate_code 9, constrained; B2 01 1 10101.
    ASSERT_EQ(parse({0x02, 0x03, 0x4A, 0x48, 0x75}), 0);
    const TS_Descriptor_VideoStream& v = d.video_stream;
    EXPECT_EQ(d.descriptor_length, 3);
    EXPECT_EQ(v.multiple_frame_rate_flag, 0);
    EXPECT_EQ(v.frame_rate_code, 9);
    EXPECT_EQ(v.MPEG_1_only_flag, 0);
    EXPECT_EQ(v.constrained_parameter_flag, 1);
    EXPECT_EQ(v.still_picture_flag, 0);
    EXPECT_EQ(v.profile_and_level_indication, 0x48);
    EXPECT_EQ(v.chroma_format, 1);
    EXPECT_EQ(v.frame_rate_extension_flag, 1);
    EXPECT_EQ(v.reserved, 0x15);
}

TEST_F(DescriptorParse, VideoStreamMpeg1WritesOnlyTheFirstByte) {
    // 1 0110 1 0 1.
    ASSERT_EQ(parse({0x02, 0x01, 0xB5}), 0);
    const TS_Descriptor_VideoStream& v = d.video_stream;
    EXPECT_EQ(v.multiple_frame_rate_flag, 1);
    EXPECT_EQ(v.frame_rate_code, 6);
    EXPECT_EQ(v.MPEG_1_only_flag, 1);
    EXPECT_EQ(v.constrained_parameter_flag, 0);
    EXPECT_EQ(v.still_picture_flag, 1);
    EXPECT_EQ(v.profile_and_level_indication, kFill);
    EXPECT_EQ(v.chroma_format, kFill);
    EXPECT_EQ(v.frame_rate_extension_flag, kFill);
    EXPECT_EQ(v.reserved, kFill);
}

TEST_F(DescriptorParse, VideoStreamMpeg1KeepsFieldsOfThePreviousDescriptor) {
    ASSERT_EQ(parse({0x02, 0x03, 0x4A, 0x48, 0x75}), 0);
    ASSERT_EQ(parse({0x02, 0x01, 0x04}), 0);
    const TS_Descriptor_VideoStream& v = d.video_stream;
    EXPECT_EQ(v.frame_rate_code, 0);
    EXPECT_EQ(v.MPEG_1_only_flag, 1);
    EXPECT_EQ(v.constrained_parameter_flag, 0);
    EXPECT_EQ(v.profile_and_level_indication, 0x48);
    EXPECT_EQ(v.chroma_format, 1);
    EXPECT_EQ(v.frame_rate_extension_flag, 1);
    EXPECT_EQ(v.reserved, 0x15);
}

TEST_F(DescriptorParse, VideoStreamMpeg2WithShortBodyZeroesMissingFields) {
    ASSERT_EQ(parse({0x02, 0x01, 0x4A}), 0);
    EXPECT_EQ(d.video_stream.frame_rate_code, 9);
    EXPECT_EQ(d.video_stream.profile_and_level_indication, 0);
    EXPECT_EQ(d.video_stream.chroma_format, 0);
    EXPECT_EQ(d.video_stream.reserved, 0);
}

TEST_F(DescriptorParse, AudioStreamAndHierarchy) {
    // 1 0 10 1 011.
    ASSERT_EQ(parse({0x03, 0x01, 0xAB}), 0);
    EXPECT_EQ(d.audio_stream.free_format_flag, 1);
    EXPECT_EQ(d.audio_stream.ID, 0);
    EXPECT_EQ(d.audio_stream.layer, 2);
    EXPECT_EQ(d.audio_stream.variable_rate_audio_indicator, 1);
    EXPECT_EQ(d.audio_stream.reserved, 3);

    ASSERT_EQ(parse({0x04, 0x04, 0x5A, 0xC3, 0x81, 0x7F}), 0);
    const TS_Descriptor_Hierarchy& h = d.hierarchy;
    EXPECT_EQ(h.reserved1, 5);
    EXPECT_EQ(h.hierarchy_type, 0x0A);
    EXPECT_EQ(h.reserved2, 3);
    EXPECT_EQ(h.hierarchy_layer_index, 3);
    EXPECT_EQ(h.reserved3, 2);
    EXPECT_EQ(h.hierarchy_embedded_layer_index, 1);
    EXPECT_EQ(h.reserved4, 1);
    EXPECT_EQ(h.hierarchy_channel, 0x3F);
}

TEST_F(DescriptorParse, RegistrationWithAndWithoutAdditionalInfo) {
    ASSERT_EQ(parse({0x05, 0x04, 'C', 'U', 'E', 'I'}), 0);
    EXPECT_EQ(d.registration.format_identifier, 0x43554549u);
    EXPECT_EQ(d.registration.additional_identification_info[0], kFill);

    ASSERT_EQ(parse({0x05, 0x06, 'H', 'D', 'M', 'V', 0xFF, 0x1B}), 0);
    EXPECT_EQ(d.registration.format_identifier, 0x48444D56u);
    EXPECT_EQ(d.registration.additional_identification_info[0], 0xFF);
    EXPECT_EQ(d.registration.additional_identification_info[1], 0x1B);
}

TEST_F(DescriptorParse, DataStreamAlignmentAndPrivateDataIndicator) {
    ASSERT_EQ(parse({0x06, 0x01, 0x02}), 0);
    EXPECT_EQ(d.data_stream_alignment.alignment_type, 2);

    ASSERT_EQ(parse({0x0F, 0x04, 'A', 'C', '-', '3'}), 0);
    EXPECT_EQ(d.private_data_indicator.private_data_indicator, 0x41432D33u);
}

TEST_F(DescriptorParse, TargetBackgroundGridAllOnes) {
    ASSERT_EQ(parse({0x07, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}), 0);
    EXPECT_EQ(d.target_background_grid.horizontal_size, 16383);
    EXPECT_EQ(d.target_background_grid.vertical_size, 16383);
    EXPECT_EQ(d.target_background_grid.aspect_ratio_information, 15);
}

TEST_F(DescriptorParse, TargetBackgroundGridVerticalAcrossThreeBytes) {
    ASSERT_EQ(parse({0x07, 0x04, 0x00, 0x01, 0x23, 0x40}), 0);
    EXPECT_EQ(d.target_background_grid.horizontal_size, 0);
    EXPECT_EQ(d.target_background_grid.vertical_size, 0x1234);
    EXPECT_EQ(d.target_background_grid.aspect_ratio_information, 0);
}

TEST_F(DescriptorParse, VideoWindowSharesTheGridLayout) {
    // 00010010 001101|00 01010110 0111|1000.
    ASSERT_EQ(parse({0x08, 0x04, 0x12, 0x34, 0x56, 0x78}), 0);
    EXPECT_EQ(d.video_window.horizontal_offset, 0x048D);
    EXPECT_EQ(d.video_window.vertical_offset, 0x0567);
    EXPECT_EQ(d.video_window.window_priority, 8);
}

TEST_F(DescriptorParse, ConditionalAccess) {
    ASSERT_EQ(parse({0x09, 0x04, 0x06, 0x04, 0xE1, 0x23}), 0);
    EXPECT_EQ(d.conditional_access.CA_system_ID, 0x0604);
    EXPECT_EQ(d.conditional_access.reserved, 7);
    EXPECT_EQ(d.conditional_access.CA_PID, 0x0123);
    EXPECT_EQ(d.conditional_access.private_data_byte[0], kFill);

    ASSERT_EQ(parse(tsb::caDescriptor(0x4AE1, 0x1FFE, {0xDE, 0xAD})), 0);
    EXPECT_EQ(d.descriptor_length, 6);
    EXPECT_EQ(d.conditional_access.CA_system_ID, 0x4AE1);
    EXPECT_EQ(d.conditional_access.CA_PID, 0x1FFE);
    EXPECT_EQ(d.conditional_access.private_data_byte[0], 0xDE);
    EXPECT_EQ(d.conditional_access.private_data_byte[1], 0xAD);
    EXPECT_EQ(d.conditional_access.private_data_byte[2], kFill);
}

TEST_F(DescriptorParse, Iso639OneEntry) {
    ASSERT_EQ(parse({0x0A, 0x04, 0x65, 0x6E, 0x67, 0x01}), 0);
    EXPECT_EQ(d.iso639_language.entries[0].ISO_639_language_code, 0x656E67u);
    EXPECT_EQ(d.iso639_language.entries[0].audio_type, 1);
    EXPECT_EQ(d.iso639_language.entries[1].ISO_639_language_code, kFill32);
}

TEST_F(DescriptorParse, Iso639LengthZeroAndEight) {
    ASSERT_EQ(parse({0x0A, 0x00}), 0);
    EXPECT_EQ(d.descriptor_length, 0);
    EXPECT_EQ(d.iso639_language.entries[0].ISO_639_language_code, kFill32);

    ASSERT_EQ(parse({0x0A, 0x08, 'j', 'p', 'n', 0x00, 'e', 'n', 'g', 0x03}), 0);
    EXPECT_EQ(d.iso639_language.entries[0].ISO_639_language_code, 0x6A706Eu);
    EXPECT_EQ(d.iso639_language.entries[0].audio_type, 0);
    EXPECT_EQ(d.iso639_language.entries[1].ISO_639_language_code, 0x656E67u);
    EXPECT_EQ(d.iso639_language.entries[1].audio_type, 3);
    EXPECT_EQ(d.iso639_language.entries[2].audio_type, kFill);
}

TEST_F(DescriptorParse, Iso639Length255HoldsSixtyThreeEntries) {
    Bytes body(255);
    for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i);
    ASSERT_EQ(parse(tsb::descriptor(0x0A, body)), 0);
    EXPECT_EQ(d.descriptor_length, 255);
    EXPECT_EQ(d.iso639_language.entries[0].ISO_639_language_code, 0x000102u);
    EXPECT_EQ(d.iso639_language.entries[0].audio_type, 0x03);
    EXPECT_EQ(d.iso639_language.entries[62].ISO_639_language_code, 0xF8F9FAu);
    EXPECT_EQ(d.iso639_language.entries[62].audio_type, 0xFB);
}

TEST_F(DescriptorParse, SystemClockAndMultiplexBufferUtilization) {
    ASSERT_EQ(parse({0x0B, 0x02, 0xC5, 0xBF}), 0);
    EXPECT_EQ(d.system_clock.external_clock_reference_indicator, 1);
    EXPECT_EQ(d.system_clock.reserved1, 1);
    EXPECT_EQ(d.system_clock.clock_accuracy_integer, 5);
    EXPECT_EQ(d.system_clock.clock_accuracy_exponent, 5);
    EXPECT_EQ(d.system_clock.reserved2, 0x1F);

    ASSERT_EQ(parse({0x0C, 0x04, 0x80, 0x01, 0xFF, 0xFE}), 0);
    EXPECT_EQ(d.multiplex_buffer_utilization.bound_valid_flag, 1);
    EXPECT_EQ(d.multiplex_buffer_utilization.LTW_offset_lower_bound, 1);
    EXPECT_EQ(d.multiplex_buffer_utilization.reserved, 1);
    EXPECT_EQ(d.multiplex_buffer_utilization.LTW_offset_upper_bound, 0x7FFE);
}

TEST_F(DescriptorParse, CopyrightAndMaximumBitrate) {
    ASSERT_EQ(parse({0x0D, 0x05, 0x00, 0x00, 0x00, 0x2A, 0x10}), 0);
    EXPECT_EQ(d.copyright.copyright_identifier, 42u);
    EXPECT_EQ(d.copyright.additional_copyright_info[0], 0x10);
    EXPECT_EQ(d.copyright.additional_copyright_info[1], kFill);

    ASSERT_EQ(parse({0x0E, 0x03, 0xC1, 0x23, 0x45}), 0);
    EXPECT_EQ(d.maximum_bitrate.reserved, 3);
    EXPECT_EQ(d.maximum_bitrate.maximum_bitrate, 0x012345u);
}

TEST_F(DescriptorParse, SmoothingBuffer) {
    ASSERT_EQ(parse({0x10, 0x06, 0xC0, 0x00, 0x01, 0xC0, 0x00, 0x02}), 0);
    EXPECT_EQ(d.smoothing_buffer.reserved1, 3);
    EXPECT_EQ(d.smoothing_buffer.sb_leak_rate, 1u);
    EXPECT_EQ(d.smoothing_buffer.reserved2, 3);
    EXPECT_EQ(d.smoothing_buffer.sb_size, 2u);
}

TEST_F(DescriptorParse, StdKeepsReservedBitsInPlace) {
    ASSERT_EQ(parse({0x11, 0x01, 0xFF}), 0);
    EXPECT_EQ(d.std.reserved, 254);
    EXPECT_EQ(d.std.leak_valid_flag, 1);

    ASSERT_EQ(parse({0x11, 0x01, 0xAA}), 0);
    EXPECT_EQ(d.std.reserved, 0xAA);
    EXPECT_EQ(d.std.leak_valid_flag, 0);
}

TEST_F(DescriptorParse, Ibp) {
    ASSERT_EQ(parse({0x12, 0x02, 0x81, 0x02}), 0);
    EXPECT_EQ(d.ibp.closed_gop_flag, 1);
    EXPECT_EQ(d.ibp.identical_gop_flag, 0);
    EXPECT_EQ(d.ibp.max_gop_length, 0x0102);

    ASSERT_EQ(parse({0x12, 0x02, 0x40, 0x0F}), 0);
    EXPECT_EQ(d.ibp.closed_gop_flag, 0);
    EXPECT_EQ(d.ibp.identical_gop_flag, 1);
    EXPECT_EQ(d.ibp.max_gop_length, 0x000F);
}

using Getter = int32_t (*)(TS_Descriptor*, const uint8_t*, uint32_t);

struct GetterOfTag {
    Getter getter;
    uint8_t tag;
};

constexpr GetterOfTag kGetters[] = {
    {TS_Descriptor_GetVideoStream, 2},
    {TS_Descriptor_GetAudioStream, 3},
    {TS_Descriptor_GetHierarchy, 4},
    {TS_Descriptor_GetRegistration, 5},
    {TS_Descriptor_GetDataStreamAlignment, 6},
    {TS_Descriptor_GetTargetBackgroundGrid, 7},
    {TS_Descriptor_GetVideoWindow, 8},
    {TS_Descriptor_GetConditionalAccess, 9},
    {TS_Descriptor_GetISO639Language, 10},
    {TS_Descriptor_GetSystemClock, 11},
    {TS_Descriptor_GetMultiplexBufferUtilization, 12},
    {TS_Descriptor_GetCopyright, 13},
    {TS_Descriptor_GetMaximumBitrate, 14},
    {TS_Descriptor_GetPrivateDataIndicator, 15},
    {TS_Descriptor_GetSmoothingBuffer, 16},
    {TS_Descriptor_GetSTD, 17},
    {TS_Descriptor_GetIBP, 18},
};

TEST_F(DescriptorParse, AudioGetterRefusesVideoDescriptor) {
    Bytes video = {0x02, 0x03, 0x4A, 0x48, 0x75};
    EXPECT_EQ(TS_Descriptor_GetAudioStream(&d, video.data(), uint32_t(video.size())),
              TS_ERR_WRONG_TAG);
    EXPECT_TRUE(untouched());
}

TEST_F(DescriptorParse, EveryGetterRefusesOtherTagsAndTakesItsOwn) {
    for (const GetterOfTag& g : kGetters) {
        Bytes other = {uint8_t(g.tag + 1), 0x04, 0x01, 0x02, 0x03, 0x04};
        SetUp();
        EXPECT_EQ(g.getter(&d, other.data(), uint32_t(other.size())), TS_ERR_WRONG_TAG) << int(g.tag);
        EXPECT_TRUE(untouched()) << int(g.tag);

        Bytes own = {g.tag, 0x04, 0x01, 0x02, 0x03, 0x04};
        EXPECT_EQ(g.getter(&d, own.data(), uint32_t(own.size())), 0) << int(g.tag);
        EXPECT_EQ(d.descriptor_tag, g.tag);
        EXPECT_EQ(d.descriptor_length, 4);
    }
}

TEST_F(DescriptorParse, NullPointersAndShortInputAreRefused) {
    Bytes bytes = {0x09, 0x00};
    EXPECT_EQ(TS_GetDescriptor(nullptr, bytes.data(), 2), -1);
    EXPECT_EQ(TS_GetDescriptor(&d, nullptr, 2), -1);
    EXPECT_EQ(TS_GetDescriptor(&d, bytes.data(), 1), -1);
    EXPECT_EQ(TS_GetDescriptor(&d, bytes.data(), 0), -1);
    EXPECT_EQ(TS_Descriptor_GetRAW(&d, bytes.data(), 1), -1);
    EXPECT_EQ(TS_Descriptor_GetRAW(nullptr, bytes.data(), 2), -1);
    for (const GetterOfTag& g : kGetters) {
        EXPECT_EQ(g.getter(&d, nullptr, 2), -1) << int(g.tag);
        EXPECT_EQ(g.getter(nullptr, bytes.data(), 2), -1) << int(g.tag);
        EXPECT_EQ(g.getter(&d, bytes.data(), 1), -1) << int(g.tag);
    }
    EXPECT_TRUE(untouched());
}

TEST_F(DescriptorParse, DeclaredLengthPastTheLoopIsClamped) {
    ASSERT_EQ(parse({0x40, 0xFF, 0x01, 0x02, 0x03}), 0);
    EXPECT_EQ(d.descriptor_length, 3);
    EXPECT_EQ(d.raw.data[2], 0x03);
    EXPECT_EQ(d.raw.data[3], kFill);

    ASSERT_EQ(parse({0x05, 0x0A, 'A', 'B', 'C', 'D', 0x01}), 0);
    EXPECT_EQ(d.descriptor_length, 5);
    EXPECT_EQ(d.registration.format_identifier, 0x41424344u);
    EXPECT_EQ(d.registration.additional_identification_info[0], 0x01);
    EXPECT_EQ(d.registration.additional_identification_info[1], kFill);

    ASSERT_EQ(parse({0x0A, 0x08, 'f', 'r', 'a', 0x02, 'd', 'e'}), 0);
    EXPECT_EQ(d.descriptor_length, 6);
    EXPECT_EQ(d.iso639_language.entries[0].ISO_639_language_code, 0x667261u);
    EXPECT_EQ(d.iso639_language.entries[1].ISO_639_language_code, kFill32);

    ASSERT_EQ(parse({0x10, 0x06, 0xC0, 0x12}), 0);
    EXPECT_EQ(d.descriptor_length, 2);
    EXPECT_EQ(d.smoothing_buffer.reserved1, 3);
    EXPECT_EQ(d.smoothing_buffer.sb_leak_rate, 0x001200u);
    EXPECT_EQ(d.smoothing_buffer.reserved2, 0);
    EXPECT_EQ(d.smoothing_buffer.sb_size, 0u);
}

TEST_F(DescriptorParse, HeaderOnlyInputHasAnEmptyBody) {
    ASSERT_EQ(parse({0x09, 0x04}), 0);
    EXPECT_EQ(d.descriptor_length, 0);
    EXPECT_EQ(d.conditional_access.CA_system_ID, 0);
    EXPECT_EQ(d.conditional_access.CA_PID, 0);
    EXPECT_EQ(d.conditional_access.private_data_byte[0], kFill);
}

TEST_F(DescriptorParse, SteppingByLengthWalksALoopToItsEnd) {
    Bytes loop = tsb::concat({tsb::descriptor(0x0E, {0xC0, 0x00, 0x10}),
                              tsb::descriptor(0x52, {0x07}), Bytes{0x0A, 0x09, 'e', 'n'}});
    uint32_t pos = 0;
    uint8_t tags[3] = {};
    int count = 0;
    while (pos + 2 <= loop.size() && count < 3) {
        ASSERT_EQ(TS_GetDescriptor(&d, loop.data() + pos, uint32_t(loop.size() - pos)), 0);
        tags[count++] = d.descriptor_tag;
        pos += 2u + d.descriptor_length;
    }
    EXPECT_EQ(count, 3);
    EXPECT_EQ(pos, loop.size());
    EXPECT_EQ(tags[0], 0x0E);
    EXPECT_EQ(tags[1], 0x52);
    EXPECT_EQ(tags[2], 0x0A);
}

TEST_F(DescriptorParse, MissingFixedFieldsReadAsZero) {
    ASSERT_EQ(parse({0x04, 0x02, 0x5A, 0xC3}), 0);
    EXPECT_EQ(d.hierarchy.hierarchy_layer_index, 3);
    EXPECT_EQ(d.hierarchy.reserved3, 0);
    EXPECT_EQ(d.hierarchy.hierarchy_embedded_layer_index, 0);
    EXPECT_EQ(d.hierarchy.hierarchy_channel, 0);

    ASSERT_EQ(parse({0x0B, 0x00}), 0);
    EXPECT_EQ(d.system_clock.external_clock_reference_indicator, 0);
    EXPECT_EQ(d.system_clock.clock_accuracy_exponent, 0);

    ASSERT_EQ(parse({0x0C, 0x02, 0x80, 0x01}), 0);
    EXPECT_EQ(d.multiplex_buffer_utilization.LTW_offset_lower_bound, 1);
    EXPECT_EQ(d.multiplex_buffer_utilization.LTW_offset_upper_bound, 0);

    ASSERT_EQ(parse({0x07, 0x01, 0xFF}), 0);
    EXPECT_EQ(d.target_background_grid.horizontal_size, 0x3FC0);
    EXPECT_EQ(d.target_background_grid.vertical_size, 0);

    ASSERT_EQ(parse({0x12, 0x00}), 0);
    EXPECT_EQ(d.ibp.closed_gop_flag, 0);
    EXPECT_EQ(d.ibp.max_gop_length, 0);
}

TEST_F(DescriptorParse, TailDescriptorsBelowFourBytesCopyNoTail) {
    ASSERT_EQ(parse({0x05, 0x02, 0x12, 0x34}), 0);
    EXPECT_EQ(d.registration.format_identifier, 0x12340000u);
    EXPECT_EQ(d.registration.additional_identification_info[0], kFill);

    ASSERT_EQ(parse({0x0D, 0x00}), 0);
    EXPECT_EQ(d.copyright.copyright_identifier, 0u);
    EXPECT_EQ(d.copyright.additional_copyright_info[0], kFill);

    ASSERT_EQ(parse({0x09, 0x03, 0x06, 0x04, 0xE1}), 0);
    EXPECT_EQ(d.conditional_access.CA_system_ID, 0x0604);
    EXPECT_EQ(d.conditional_access.reserved, 7);
    EXPECT_EQ(d.conditional_access.CA_PID, 0x0100);
    EXPECT_EQ(d.conditional_access.private_data_byte[0], kFill);
}

}  // namespace
