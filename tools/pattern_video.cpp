#include "tools/pattern_video.h"

#include <cstdlib>

#include "tools/bit_writer.h"

namespace tsb {
namespace {

constexpr int kMacroblockColumns = kPatternWidth / 16;
constexpr int kMacroblockRows = kPatternHeight / 16;
constexpr int kFramesPerSecond = 25;

// Start codes (the byte after 00 00 01).
constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kExtensionStart = 0xB5;
constexpr uint8_t kGroupStart = 0xB8;
constexpr uint32_t kSequenceExtensionId = 1;
constexpr uint32_t kPictureCodingExtensionId = 8;

constexpr uint32_t kDisplay4to3 = 2;
constexpr uint32_t kFrameRate25 = 3;
constexpr uint32_t kBitRate400bps = 3750;  // 1.5 Mbit/s, far above what DC-only pictures need
constexpr uint32_t kVBVBuffer16kbit = 112;  // the most Main Level allows
constexpr uint32_t kMainProfileMainLevel = 0x48;
constexpr uint32_t kChroma420 = 1;
constexpr uint32_t kIntraPicture = 1;
constexpr uint32_t kVariableVBVDelay = 0xFFFF;
constexpr uint32_t kFramePicture = 3;
// With 8-bit DC precision a DC value is the block's mean sample, and the
// predictors start at 128 in every slice.
constexpr int kDCPredictorReset = 128;

struct Colour {
    int y, cb, cr;
};

// Studio-range YCbCr of an RGB colour with components 0 to 255.
Colour fromRGB(int r, int g, int b) {
    return {16 + (65738 * r + 129057 * g + 25064 * b) / 256 / 1000,
            128 + (-37945 * r - 74494 * g + 112439 * b) / 256 / 1000,
            128 + (112439 * r - 94154 * g - 18285 * b) / 256 / 1000};
}

// 75% colour bars: white, yellow, cyan, green, magenta, red, blue, black.
Colour bar(int index) {
    constexpr int kLevel = 191;
    int r = (index == 0 || index == 1 || index == 4 || index == 5) ? kLevel : 0;
    int g = (index <= 3) ? kLevel : 0;
    int b = (index == 0 || index == 2 || index == 4 || index == 6) ? kLevel : 0;
    return fromRGB(r, g, b);
}

Colour background(int pattern, int column) {
    switch (pattern % 4) {
        case 0: return bar(column * 8 / kMacroblockColumns);
        case 1: return fromRGB(20, 40, 160);   // blue
        case 2: return fromRGB(160, 30, 30);   // red
        default: return fromRGB(30, 130, 50);  // green
    }
}

// Pattern 0 keeps its bars and runs a black block along the bottom; the flat
// patterns run a light bar across the whole height.
Colour colourAt(int pattern, int frame, int column, int row) {
    int moving = frame % kMacroblockColumns;
    if (pattern % 4 == 0) {
        bool block = column == moving && row >= kMacroblockRows - 3;
        return block ? fromRGB(0, 0, 0) : background(pattern, column);
    }
    return column == moving ? fromRGB(235, 235, 200) : background(pattern, column);
}

void sequenceHeader(BitWriter& w) {
    w.startCode(kSequenceHeader);
    w.put(kPatternWidth, 12);
    w.put(kPatternHeight, 12);
    w.put(kDisplay4to3, 4);
    w.put(kFrameRate25, 4);
    w.put(kBitRate400bps, 18);
    w.put(1, 1);  // marker
    w.put(kVBVBuffer16kbit, 10);
    w.put(0, 1);  // constrained_parameters_flag
    w.put(0, 1);  // default intra quantiser matrix
    w.put(0, 1);  // default non-intra quantiser matrix

    w.startCode(kExtensionStart);
    w.put(kSequenceExtensionId, 4);
    w.put(kMainProfileMainLevel, 8);
    w.put(1, 1);  // progressive_sequence
    w.put(kChroma420, 2);
    w.put(0, 2);  // horizontal_size_extension
    w.put(0, 2);  // vertical_size_extension
    w.put(0, 12);  // bit_rate_extension
    w.put(1, 1);  // marker
    w.put(0, 8);  // vbv_buffer_size_extension
    w.put(1, 1);  // low_delay: no B pictures
    w.put(0, 2);  // frame_rate_extension_n
    w.put(0, 5);  // frame_rate_extension_d
}

void groupHeader(BitWriter& w, int frame) {
    int seconds = frame / kFramesPerSecond;
    w.startCode(kGroupStart);
    w.put(0, 1);  // drop_frame_flag
    w.put(uint32_t(seconds / 3600), 5);
    w.put(uint32_t(seconds / 60 % 60), 6);
    w.put(1, 1);  // marker
    w.put(uint32_t(seconds % 60), 6);
    w.put(uint32_t(frame % kFramesPerSecond), 6);
    w.put(1, 1);  // closed_gop: nothing refers across it
    w.put(0, 1);  // broken_link
}

void pictureHeader(BitWriter& w, int frame) {
    w.startCode(kPictureStart);
    w.put(uint32_t(frame % kPatternFramesPerGOP), 10);  // temporal_reference
    w.put(kIntraPicture, 3);
    w.put(kVariableVBVDelay, 16);
    w.put(0, 1);  // extra_bit_picture

    w.startCode(kExtensionStart);
    w.put(kPictureCodingExtensionId, 4);
    w.put(0xFFFF, 16);  // f_codes: unused in intra pictures
    w.put(0, 2);  // intra_dc_precision: 8 bits
    w.put(kFramePicture, 2);
    w.put(0, 1);  // top_field_first
    w.put(1, 1);  // frame_pred_frame_dct: no dct_type in macroblocks
    w.put(0, 1);  // concealment_motion_vectors
    w.put(0, 1);  // q_scale_type
    w.put(0, 1);  // intra_vlc_format: end_of_block is '10'
    w.put(0, 1);  // alternate_scan
    w.put(0, 1);  // repeat_first_field
    w.put(1, 1);  // chroma_420_type, as progressive_frame
    w.put(1, 1);  // progressive_frame
    w.put(0, 1);  // composite_display_flag
}

// dct_dc_size_luminance and dct_dc_size_chrominance codes, by size 0 to 8.
constexpr const char* kLumaDCSize[] = {"100", "00", "01", "101", "110", "1110", "11110", "111110", "1111110"};
constexpr const char* kChromaDCSize[] = {"00", "01", "10", "110", "1110", "11110", "111110", "1111110", "11111110"};

// An intra block whose only coefficient is its DC: the difference from the
// predictor, then end_of_block.
void dcBlock(BitWriter& w, const char* const* sizeCodes, int value, int& predictor) {
    int difference = value - predictor;
    predictor = value;
    int size = 0;
    while ((std::abs(difference) >> size) != 0) ++size;
    w.code(sizeCodes[size]);
    // A negative difference is sent as difference + 2^size - 1.
    if (size > 0) w.put(uint32_t(difference > 0 ? difference : difference + (1 << size) - 1), size);
    w.code("10");  // end_of_block
}

void slice(BitWriter& w, int pattern, int frame, int row) {
    w.startCode(uint8_t(row + 1));  // slice_vertical_position
    w.put(1, 5);  // quantiser_scale_code: unused by DC coefficients, but 0 is forbidden
    w.put(0, 1);  // extra_bit_slice
    int y = kDCPredictorReset, cb = kDCPredictorReset, cr = kDCPredictorReset;
    for (int column = 0; column < kMacroblockColumns; ++column) {
        Colour c = colourAt(pattern, frame, column, row);
        w.code("1");  // macroblock_address_increment 1: every macroblock is coded
        w.code("1");  // macroblock_type: intra
        for (int block = 0; block < 4; ++block) dcBlock(w, kLumaDCSize, c.y, y);
        dcBlock(w, kChromaDCSize, c.cb, cb);
        dcBlock(w, kChromaDCSize, c.cr, cr);
    }
}

}  // namespace

std::vector<uint8_t> patternPicture(int pattern, int frame) {
    BitWriter w;
    if (frame % kPatternFramesPerGOP == 0) {
        sequenceHeader(w);
        groupHeader(w, frame);
    }
    pictureHeader(w, frame);
    for (int row = 0; row < kMacroblockRows; ++row) slice(w, pattern, frame, row);
    w.align();
    return w.bytes();
}

}  // namespace tsb
