// A transport stream that players play: per program an MPEG-2 video test
// pattern and an MPEG-1 Layer II tone, with their PAT, PMTs, SDT and EIT
// present/following.
#ifndef RIVULET_TOOLS_PLAYABLE_SAMPLE_H
#define RIVULET_TOOLS_PLAYABLE_SAMPLE_H

#include <cstdio>

namespace tsb {

constexpr int kPlayableSeconds = 4;
// As many as one SDT section names (1021 bytes at most).
constexpr int kPlayableMaxPrograms = 16;

// Writes `programs` programs (1 to kPlayableMaxPrograms), numbered from 1, each
// kPlayableSeconds long; with `changes`, present events and PMTs change
// along the way. Returns false when a packet could not be written.
bool writePlayableSample(std::FILE* out, int programs, bool changes = false);

}  // namespace tsb

#endif
