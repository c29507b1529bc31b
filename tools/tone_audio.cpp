#include "tools/tone_audio.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/bit_writer.h"

namespace tsb {
namespace {

constexpr int kBitRate = 64000;
constexpr int kFrameBytes = 144 * kBitRate / kToneSampleRate;  // no padding ever needed at 48 kHz
constexpr uint32_t kSyncword = 0xFFF;
constexpr uint32_t kMPEG1 = 1;
constexpr uint32_t kLayerII = 2;
constexpr uint32_t kBitRate64Index = 4;
constexpr uint32_t kSampleRate48Index = 1;
constexpr uint32_t kSingleChannel = 3;

// The bit allocation table that 48 kHz at 64 kbit/s a channel selects: the
// width of each of its 27 subbands' allocation fields.
constexpr int kSubbands = 27;
int allocationBits(int subband) { return subband < 11 ? 4 : subband < 23 ? 3 : 2; }

// The tone lives in subband 0 (0 to 750 Hz), whose samples run at 1/32 of
// the output rate: 12 granules of 3 samples a frame.
constexpr int kSubbandSamplesPerFrame = kToneSamplesPerFrame / 32;
constexpr double kSubbandRate = kToneSampleRate / 32.0;
// Allocation 4 of subband 0: 31 levels, 5 bits a sample, not grouped.
constexpr uint32_t kToneAllocation = 4;
constexpr int kToneLevels = 31;
constexpr int kToneSampleBits = 5;
// Scalefactor index 9 scales samples by 2^(1 - 9/3) = 0.25 of full scale.
constexpr uint32_t kToneScalefactor = 9;
constexpr uint32_t kOneScalefactorForAllThirds = 2;

// The code whose requantized value is nearest `x` (-1 to 1): the decoder
// reads code c as (c - 15) * 2/31.
uint32_t quantize(double x) {
    long code = std::lround(x * kToneLevels / 2.0) + kToneLevels / 2;
    return uint32_t(std::clamp(code, 0L, long(kToneLevels - 1)));
}

}  // namespace

std::vector<uint8_t> toneFrame(double hertz, int frame) {
    BitWriter w;
    w.put(kSyncword, 12);
    w.put(kMPEG1, 1);
    w.put(kLayerII, 2);
    w.put(1, 1);  // protection_bit: no CRC
    w.put(kBitRate64Index, 4);
    w.put(kSampleRate48Index, 2);
    w.put(0, 1);  // padding_bit
    w.put(0, 1);  // private_bit
    w.put(kSingleChannel, 2);
    w.put(0, 2);  // mode_extension
    w.put(0, 1);  // copyright
    w.put(1, 1);  // original
    w.put(0, 2);  // emphasis

    for (int subband = 0; subband < kSubbands; ++subband)
        w.put(subband == 0 ? kToneAllocation : 0, allocationBits(subband));
    w.put(kOneScalefactorForAllThirds, 2);  // scfsi of subband 0
    w.put(kToneScalefactor, 6);
    // Granule by granule, subband 0 is the only one with samples.
    for (int i = 0; i < kSubbandSamplesPerFrame; ++i) {
        double n = double(frame) * kSubbandSamplesPerFrame + i;
        // Most of full scale, so that rounding leaves the tone clean.
        double x = 0.9 * std::sin(2 * std::numbers::pi * hertz * n / kSubbandRate);
        w.put(quantize(x), kToneSampleBits);
    }
    std::vector<uint8_t> bytes = w.bytes();
    bytes.resize(kFrameBytes, 0x00);  // the rest is empty ancillary data
    return bytes;
}

}  // namespace tsb
