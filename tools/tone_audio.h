// MPEG-1 Layer II audio, 48 kHz mono at 64 kbit/s, carrying a steady tone,
// so that a sample stream carries audio that players decode.
#ifndef RIVULET_TOOLS_TONE_AUDIO_H
#define RIVULET_TOOLS_TONE_AUDIO_H

#include <cstdint>
#include <vector>

namespace tsb {

constexpr int kToneSampleRate = 48000;
constexpr int kToneSamplesPerFrame = 1152;

// Audio frame `frame` of a tone of `hertz` (below 750 Hz), its phase
// continuing from the frame before.
std::vector<uint8_t> toneFrame(double hertz, int frame);

}  // namespace tsb

#endif
