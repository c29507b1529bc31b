// Which component of a program a stream is, as `--drop` names them: video,
// audio, subtitles, ARIB superimposed text, teletext, data broadcasting,
// SCTE-35 cues, or unknown when nothing tells. Finer than the stream's kind
// (stream_kind.h), from which it starts.
#ifndef RIVULET_STREAM_COMPONENT_H
#define RIVULET_STREAM_COMPONENT_H

#include <cstdint>

#include "ts/section/stream_kind.h"

namespace rivulet {

// A TS_COMPONENT_... of the stream whose PMT entry has `streamType` and the
// ES_info loop `descriptors` (`size` bytes), which classifyStream found
// to be `classified`.
uint8_t componentOf(uint8_t streamType, const uint8_t* descriptors, uint32_t size, const StreamClass& classified);

}  // namespace rivulet

#endif
