#include "ts/split/component_choice.h"

#include <cstdio>
#include <cstring>

#include "rivulet/services.h"
#include "rivulet/split.h"
#include "ts/core/bit_set.h"
#include "ts/core/byte_writer.h"
#include "ts/programs/program_routes.h"
#include "ts/section/section_reader.h"
#include "ts/section/stream_kind.h"

namespace rivulet {
namespace {

constexpr uint32_t kMaxEntries = 256;
constexpr uint16_t kPIDMask = 0x1FFF;
constexpr uint16_t kLengthMask = 0x0FFF;

struct Entry {
    StreamEntry tStream;
    uint8_t u8Component;
    char strLanguage[kLanguageCodeSize];
    char strSpoken[kLanguageCodeSize];  // a supplementary audio descriptor's language, "" when none
    bool bKept;
};

struct Entries {
    Entry lt[kMaxEntries];
    uint32_t u32Count;
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool sameLanguage(const char* a, const char* b) {
    for (uint32_t i = 0; i < 3; ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Where a PMT section's stream loop begins (behind PCR_PID and
// program_info) and ends (at the CRC_32), and the program loop's registration.
struct SectionParts {
    uint32_t u32LoopAt;
    uint32_t u32LoopEnd;
    uint32_t u32Registration;
};

SectionParts partsOf(const uint8_t* section, uint32_t size) {
    ByteReader loops = sectionLoops(ByteReader(section, size));
    loops.u16();  // PCR_PID
    ByteReader programLoop = loops.take(loops.u16() & kLengthMask);
    const uint32_t at = uint32_t(loops.current() - section);
    return SectionParts{at, at + loops.remaining(), registrationOf(programLoop.current(), programLoop.remaining())};
}

// The entries of a stream loop, each classified.
void readEntries(ByteReader loop, uint32_t registration, Entries& entries) {
    entries.u32Count = 0;
    forEachStreamEntry(loop, [&](const StreamEntry& stream) {
        if (entries.u32Count == kMaxEntries) return;
        Entry& e = entries.lt[entries.u32Count++];
        e.tStream = stream;
        StreamClass c = classifyStream(stream.u8StreamType, stream.descriptors.current(), stream.descriptors.remaining(),
                                       registration);
        e.u8Component = c.component;
        std::memcpy(e.strLanguage, c.language[0] ? c.language : "und", kLanguageCodeSize);
        std::memcpy(e.strSpoken, c.spoken, kLanguageCodeSize);
        e.bKept = true;
    });
}

bool languageChosen(const ComponentChoice& choice, const char* language) {
    for (uint32_t i = 0; i < choice.u8Languages; ++i) {
        if (sameLanguage(choice.lstrLanguage[i], language)) return true;
    }
    return false;
}

// --audio: the audio streams in the languages asked for, else the first;
// with `first`, the first alone.
void chooseAudio(const ComponentChoice& choice, Entries& entries, FileShape& shape) {
    if (!choice.u8AudioFirst && choice.u8Languages == 0) return;
    int32_t first = -1;
    bool matched = false;
    for (uint32_t i = 0; i < entries.u32Count; ++i) {
        Entry& e = entries.lt[i];
        if (e.u8Component != TS_COMPONENT_AUDIO || !e.bKept) continue;
        if (first < 0) first = int32_t(i);
        e.bKept = !choice.u8AudioFirst &&
                  (languageChosen(choice, e.strLanguage) || (e.strSpoken[0] && languageChosen(choice, e.strSpoken)));
        matched = matched || e.bKept;
    }
    if (first < 0 || matched) return;
    entries.lt[first].bKept = true;
    if (choice.u8AudioFirst) return;
    shape.u8NoLanguageMatched = 1;
    for (uint32_t i = 0; i < entries.u32Count; ++i) {
        const Entry& e = entries.lt[i];
        if (e.u8Component != TS_COMPONENT_AUDIO) continue;
        const size_t used = std::strlen(shape.strAudioLanguages);
        if (used + kLanguageCodeSize + 1 > sizeof shape.strAudioLanguages) break;
        std::snprintf(shape.strAudioLanguages + used, sizeof shape.strAudioLanguages - used, "%s%s", used ? "," : "",
                      e.strLanguage);
    }
}

// The PIDs the file leaves out: those of dropped streams and the ECM PIDs
// only they name, unless a kept stream or the program loop names them too.
void markDropped(const uint8_t* section, uint32_t size, const Entries& entries, FileShape& shape) {
    uint64_t kept[TS_PID_COUNT / 64] = {};
    ByteReader loops = sectionLoops(ByteReader(section, size));
    const uint16_t pcrPID = loops.u16() & kPIDMask;
    forEachCAPID(loops.take(loops.u16() & kLengthMask), [&](uint16_t pid) { setBit(kept, pid); });
    for (uint32_t i = 0; i < entries.u32Count; ++i) {
        const Entry& e = entries.lt[i];
        uint64_t* set = e.bKept ? kept : shape.lu64Dropped;
        setBit(set, e.tStream.u16PID);
        forEachCAPID(e.tStream.descriptors, [&](uint16_t pid) { setBit(set, pid); });
    }
    for (uint32_t w = 0; w < TS_PID_COUNT / 64; ++w) shape.lu64Dropped[w] &= ~kept[w];
    shape.u16PCROnlyPID = testBit(shape.lu64Dropped, pcrPID) ? pcrPID : kNoPCROnlyPID;
}

// A stable file lists its shape's streams only: a stream of the section
// that the shape could not take (no room left in a section) is left out.
void markUnlisted(ByteReader loop, const Entries& listed, FileShape& shape) {
    forEachStreamEntry(loop, [&](const StreamEntry& stream) {
        bool found = false;
        for (uint32_t i = 0; i < listed.u32Count && !found; ++i) found = listed.lt[i].tStream.u16PID == stream.u16PID;
        if (found) return;
        setBit(shape.lu64Dropped, stream.u16PID);
        shape.u8Unlisted = 1;
    });
}

}  // namespace

bool parseAudioChoice(const char* text, ComponentChoice* choice) {
    choice->u8AudioFirst = 0;
    choice->u8Languages = 0;
    if (!text) return false;
    if (std::strcmp(text, "first") == 0) {
        choice->u8AudioFirst = 1;
        return true;
    }
    for (const char* at = text;; at += 4) {
        if (choice->u8Languages == kMaxAudioLanguages) return false;
        if (!isLetter(at[0]) || !isLetter(at[1]) || !isLetter(at[2]) || (at[3] != ',' && at[3] != '\0')) return false;
        char* code = choice->lstrLanguage[choice->u8Languages++];
        for (uint32_t i = 0; i < 3; ++i) code[i] = lower(at[i]);
        code[3] = '\0';
        if (at[3] == '\0') return true;
    }
}

bool readComponentChoice(uint32_t drop, const char* audio, const LogSink& log, ComponentChoice* choice) {
    *choice = ComponentChoice{};
    choice->u32Drop = drop;
    if (!audio || parseAudioChoice(audio, choice)) return true;
    logMessage(log, TS_LOG_ERROR, "Error: audio languages \"%s\" are neither \"first\" nor three-letter codes.\n", audio);
    return false;
}

uint32_t rebuildPMT(const ComponentChoice& choice, const uint8_t* section, uint32_t size, const StreamLoop* listed,
                    uint8_t* out, uint32_t capacity, FileShape* shape) {
    std::memset(shape, 0, sizeof *shape);
    if (size < kLongHeaderSize + 4 + kCRCSize) return 0;  // PCR_PID, program_info_length
    const SectionParts parts = partsOf(section, size);
    Entries entries;
    ByteReader loop = listed ? ByteReader(listed->lu8Bytes, listed->u16Size)
                             : ByteReader(section + parts.u32LoopAt, parts.u32LoopEnd - parts.u32LoopAt);
    readEntries(loop, parts.u32Registration, entries);
    for (uint32_t i = 0; i < entries.u32Count; ++i) {
        Entry& e = entries.lt[i];
        if (choice.u32Drop & (1u << e.u8Component)) e.bKept = false;
    }
    chooseAudio(choice, entries, *shape);
    markDropped(section, size, entries, *shape);
    if (listed) markUnlisted(ByteReader(section + parts.u32LoopAt, parts.u32LoopEnd - parts.u32LoopAt), entries, *shape);
    ByteWriter w(out, capacity);
    w.bytes(section, parts.u32LoopAt);
    bool anyKept = false;
    for (uint32_t i = 0; i < entries.u32Count; ++i) {
        const Entry& e = entries.lt[i];
        if (e.bKept) w.bytes(e.tStream.pBytes, e.tStream.u32Size);
        anyKept = anyKept || e.bKept;
    }
    shape->u8EveryStreamDropped = entries.u32Count > 0 && !anyKept;
    const uint32_t sectionLength = w.written() + kCRCSize - 3;
    out[1] = uint8_t((section[1] & 0xF0) | (sectionLength >> 8 & 0x0F));
    out[2] = uint8_t(sectionLength);
    w.putCRC32(0);
    return w.overflow() ? 0 : w.written();
}

uint32_t mergeStreams(StreamLoop* listed, const uint8_t* section, uint32_t size, uint16_t* gained, uint32_t room) {
    if (size < kLongHeaderSize + 4 + kCRCSize) return 0;
    const SectionParts parts = partsOf(section, size);
    const uint32_t budget = kMaxStreamLoop - (parts.u32LoopAt - kLongHeaderSize);  // what program_info leaves
    uint64_t known[TS_PID_COUNT / 64] = {};
    forEachStreamEntry(ByteReader(listed->lu8Bytes, listed->u16Size),
                       [&](const StreamEntry& stream) { setBit(known, stream.u16PID); });
    uint32_t count = 0;
    forEachStreamEntry(ByteReader(section + parts.u32LoopAt, parts.u32LoopEnd - parts.u32LoopAt),
                       [&](const StreamEntry& stream) {
                           if (testBit(known, stream.u16PID) || listed->u16Size + stream.u32Size > budget) return;
                           setBit(known, stream.u16PID);
                           std::memcpy(listed->lu8Bytes + listed->u16Size, stream.pBytes, stream.u32Size);
                           listed->u16Size = uint16_t(listed->u16Size + stream.u32Size);
                           if (count < room) gained[count] = stream.u16PID;
                           ++count;
                       });
    return count;
}

}  // namespace rivulet

int32_t TS_CheckAudioChoice(const char* text) {
    rivulet::ComponentChoice choice{};
    return rivulet::parseAudioChoice(text, &choice) ? 0 : TS_ERR_BAD_OPTION;
}
