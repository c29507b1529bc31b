// What an elementary stream of a PMT carries: video, audio, subtitles or
// data, its codec and its language, from its stream_type and descriptors.
// The program list summarises programs with it, the split names a program's
// type by it when no service information describes the program, and the
// check names each PID's role.
#ifndef RIVULET_STREAM_KIND_H
#define RIVULET_STREAM_KIND_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/section/section_reader.h"

namespace rivulet {

enum class StreamKind : uint8_t { Video, Audio, Subtitles, Data };

struct StreamClass {
    StreamKind kind;
    const char* codec;  // "h264", "mp2", "ac3", "dvb", ...; "private" when nothing tells
    char language[4];   // ISO 639-2 code of the first language descriptor, "" when none
    char spoken[4];     // the language a DVB supplementary audio descriptor names, "" when none:
                        // an audio description track's, whose ISO 639 code is then "qad"
    uint8_t component;  // TS_COMPONENT_...: what --drop calls it (stream_component.h)
};

// The registration format_identifier of Blu-ray and AVCHD streams, whose
// stream types 0x80 to 0x92 are their own.
constexpr uint32_t kRegistrationHDMV = 0x48444D56;  // "HDMV"

// `descriptors`: the ES_info loop of the stream's PMT entry (`size` bytes);
// `programRegistration`: the format_identifier of a registration descriptor
// in the PMT's program loop, 0 when it has none.
StreamClass classifyStream(uint8_t streamType, const uint8_t* descriptors, uint32_t size,
                           uint32_t programRegistration);
// The format_identifier of the first registration descriptor in a loop, or 0.
uint32_t registrationOf(const uint8_t* descriptors, uint32_t size);

// One entry of a PMT's stream loop, as it lies in the section.
struct StreamEntry {
    const uint8_t* pBytes;  // stream_type, elementary_PID, ES_info_length, descriptors...
    uint32_t u32Size;       // ...this many bytes
    uint8_t u8StreamType;
    uint16_t u16PID;
    ByteReader descriptors{nullptr, 0};
};

// Calls fn(const StreamEntry&) for each entry of a stream loop, read no
// further than the loop holds.
template <class Fn>
void forEachStreamEntry(ByteReader loop, Fn&& fn) {
    constexpr uint32_t kEntryHeader = 5;  // stream_type, elementary_PID, ES_info_length
    while (loop.canRead(kEntryHeader)) {
        StreamEntry e{loop.current(), 0, loop.u8(), 0};
        e.u16PID = loop.u16() & 0x1FFF;
        e.descriptors = loop.take(loop.u16() & 0x0FFF);
        e.u32Size = uint32_t(loop.current() - e.pBytes);
        fn(static_cast<const StreamEntry&>(e));
    }
}

// Calls fn(pid, streamType, streamClass) for every stream of the PMT section
// in `pmt`, in loop order.
template <class Fn>
void forEachClassifiedStream(const TS_PreSection* pmt, Fn&& fn) {
    ByteReader loops = sectionLoops(sectionBytes(pmt));
    loops.u16();  // PCR_PID
    ByteReader programLoop = loops.take(loops.u16() & 0x0FFF);
    uint32_t registration = registrationOf(programLoop.current(), programLoop.remaining());
    forEachStreamEntry(loops, [&](const StreamEntry& e) {
        fn(e.u16PID, e.u8StreamType,
           classifyStream(e.u8StreamType, e.descriptors.current(), e.descriptors.remaining(), registration));
    });
}

}  // namespace rivulet

#endif
