// An MPEG-2 video test pattern (Main Profile at Main Level, 352x288, 25
// frames a second, every picture intra-coded from DC coefficients only), so
// that a sample stream carries video that players decode.
#ifndef RIVULET_TOOLS_PATTERN_VIDEO_H
#define RIVULET_TOOLS_PATTERN_VIDEO_H

#include <cstdint>
#include <vector>

namespace tsb {

constexpr int kPatternWidth = 352;
constexpr int kPatternHeight = 288;
constexpr int kPatternFramesPerGOP = 12;

// The coded picture `frame` of pattern `pattern`: colour bars (pattern 0) or
// a flat colour of its own, with a bar that moves a macroblock each frame. A
// frame that opens a group of pictures comes behind a sequence header. No
// sequence_end_code follows the last picture: the sample stands for a cut
// from a broadcast, and decoders that find the code in the last picture's
// data take it for excess slice bits.
std::vector<uint8_t> patternPicture(int pattern, int frame);

}  // namespace tsb

#endif
