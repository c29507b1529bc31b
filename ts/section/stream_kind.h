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

// Calls fn(pid, streamType, streamClass) for every stream of the PMT section
// in `pmt`, in loop order.
template <class Fn>
void forEachClassifiedStream(const TS_PreSection* pmt, Fn&& fn) {
    constexpr uint32_t kStreamEntryHeader = 5;  // stream_type, PID, ES_info_length
    ByteReader loops = sectionLoops(sectionBytes(pmt));
    loops.u16();  // PCR_PID
    ByteReader programLoop = loops.take(loops.u16() & 0x0FFF);
    uint32_t registration = registrationOf(programLoop.current(), programLoop.remaining());
    while (loops.canRead(kStreamEntryHeader)) {
        uint8_t streamType = loops.u8();
        uint16_t pid = loops.u16() & 0x1FFF;
        ByteReader descriptors = loops.take(loops.u16() & 0x0FFF);
        fn(pid, streamType, classifyStream(streamType, descriptors.current(), descriptors.remaining(), registration));
    }
}

}  // namespace rivulet

#endif
