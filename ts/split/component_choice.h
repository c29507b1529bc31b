// Which of a program's streams its file keeps (--drop, --audio), and the PMT
// section the file gets instead of each of the input's: the entries of the
// dropped streams left out, everything else as it was, section_length and
// CRC_32 worked out anew. Also what the file's packets become: the dropped
// streams' PIDs and the ECM PIDs only they name are left out; a dropped
// stream that carries the program's PCR keeps its PCRs in packets without
// payload.
#ifndef RIVULET_COMPONENT_CHOICE_H
#define RIVULET_COMPONENT_CHOICE_H

#include <cstdint>

#include "rivulet/common.h"
#include "ts/core/byte_reader.h"
#include "ts/core/log_sink.h"
#include "ts/section/stream_kind.h"

namespace rivulet {

constexpr uint32_t kMaxAudioLanguages = 16;
constexpr uint32_t kLanguageCodeSize = 4;  // three letters and a null
constexpr uint16_t kNoPCROnlyPID = 0xFFFF;

struct ComponentChoice {
    uint32_t u32Drop;     // a bit, 1 << TS_COMPONENT_..., of each component left out
    uint8_t u8AudioFirst; // --audio first: the first audio stream only
    uint8_t u8Languages;  // --audio LANGS: the audio streams in these (lower case), else the first
    char lstrLanguage[kMaxAudioLanguages][kLanguageCodeSize];
};

// Reads --audio's value: "first", or a comma list of ISO 639-2 codes (three
// letters each, any case). False when it is neither.
bool parseAudioChoice(const char* text, ComponentChoice* choice);
// The choice of --drop's components `drop` and --audio's `audio` (may be
// null); false, said to `log`, when `audio` cannot be read.
bool readComponentChoice(uint32_t drop, const char* audio, const LogSink& log, ComponentChoice* choice);

inline bool choosesComponents(const ComponentChoice& choice) {
    return choice.u32Drop != 0 || choice.u8AudioFirst || choice.u8Languages > 0;
}

// What one PMT section makes of a program's file.
struct FileShape {
    uint64_t lu64Dropped[TS_PID_COUNT / 64];  // PIDs the file leaves out
    uint16_t u16PCROnlyPID;  // a dropped stream's PID whose PCRs stay, or kNoPCROnlyPID
    uint8_t u8EveryStreamDropped;  // the PMT lists streams, and none is kept
    uint8_t u8NoLanguageMatched;   // --audio LANGS named none of the program's audio streams
    uint8_t u8Unlisted;            // a stable file's shape could not take a stream: it is left out
    char strAudioLanguages[64];    // then the languages it has ("und" for none), comma separated
};

// The streams a stable file lists (--stable): PMT stream-loop entries
// (stream_type, elementary_PID, ES_info_length, descriptors), one per PID,
// in the order they were first listed, each as first listed.
constexpr uint32_t kMaxStreamLoop = 1021 - 9 - 4;  // a PMT's section_length, less its fixed fields and CRC
struct StreamLoop {
    uint16_t u16Size;
    uint8_t lu8Bytes[kMaxStreamLoop];
};

// Rebuilds the PMT section `section` (`size` bytes, CRC_32 verified) into
// `out` (room for `capacity` bytes) and returns its size, 0 when it does not
// fit; `*shape` says what the file keeps. Its streams are those of
// `listed`, when not null (a stable file's), else the section's own.
uint32_t rebuildPMT(const ComponentChoice& choice, const uint8_t* section, uint32_t size, const StreamLoop* listed,
                    uint8_t* out, uint32_t capacity, FileShape* shape);

// Adds to `listed` the streams of the PMT section `section` it does not
// list yet, as far as a section holds them beside the section's
// program_info; returns how many, and the first `room` of their PIDs in
// `gained`.
uint32_t mergeStreams(StreamLoop* listed, const uint8_t* section, uint32_t size, uint16_t* gained, uint32_t room);

}  // namespace rivulet

#endif
