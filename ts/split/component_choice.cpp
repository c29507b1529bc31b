#include "ts/split/component_choice.h"

#include <cstdio>
#include <cstring>

#include "rivulet/services.h"
#include "ts/core/bit_set.h"
#include "ts/core/byte_writer.h"
#include "ts/section/section_reader.h"
#include "ts/section/stream_kind.h"

namespace rivulet {
namespace {

constexpr uint32_t kEntryHeader = 5;  // stream_type, elementary_PID, ES_info_length
constexpr uint32_t kMaxEntries = 256;
constexpr uint8_t kTagCA = 0x09;
constexpr uint16_t kPIDMask = 0x1FFF;
constexpr uint16_t kLengthMask = 0x0FFF;

struct Entry {
    uint32_t u32At;      // offset of the entry in the section
    uint32_t u32Size;    // its header and descriptors
    uint16_t u16PID;
    uint8_t u8Component;
    char strLanguage[kLanguageCodeSize];
    bool bKept;
};

struct Entries {
    Entry lt[kMaxEntries];
    uint32_t u32Count;
    uint32_t u32Registration;  // of the program loop, for the classifier
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool sameLanguage(const char* a, const char* b) {
    for (uint32_t i = 0; i < 3; ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The PMT's stream entries, each classified, the loop read no further than
// the section holds.
void readEntries(const uint8_t* section, uint32_t size, Entries& entries) {
    entries.u32Count = 0;
    ByteReader loops = sectionLoops(ByteReader(section, size));
    loops.u16();  // PCR_PID
    ByteReader programLoop = loops.take(loops.u16() & kLengthMask);
    entries.u32Registration = registrationOf(programLoop.current(), programLoop.remaining());
    while (loops.canRead(kEntryHeader) && entries.u32Count < kMaxEntries) {
        Entry& e = entries.lt[entries.u32Count++];
        e.u32At = uint32_t(loops.current() - section);
        const uint8_t streamType = loops.u8();
        e.u16PID = loops.u16() & kPIDMask;
        ByteReader descriptors = loops.take(loops.u16() & kLengthMask);
        e.u32Size = uint32_t(loops.current() - section) - e.u32At;
        StreamClass c = classifyStream(streamType, descriptors.current(), descriptors.remaining(), entries.u32Registration);
        e.u8Component = c.component;
        std::memcpy(e.strLanguage, c.language[0] ? c.language : "und", kLanguageCodeSize);
        e.bKept = true;
    }
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
        e.bKept = !choice.u8AudioFirst && languageChosen(choice, e.strLanguage);
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

// Calls fn(ecmPID) for each CA descriptor of a descriptor loop.
template <class Fn>
void forEachCAPID(ByteReader loop, Fn&& fn) {
    while (loop.canRead(2)) {
        const uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        if (tag != kTagCA || !body.canRead(4)) continue;
        body.u16();  // CA_system_ID
        fn(uint16_t(body.u16() & kPIDMask));
    }
}

ByteReader descriptorsOf(const uint8_t* section, const Entry& e) {
    return ByteReader(section + e.u32At + kEntryHeader, e.u32Size - kEntryHeader);
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
        setBit(set, e.u16PID);
        forEachCAPID(descriptorsOf(section, e), [&](uint16_t pid) { setBit(set, pid); });
    }
    for (uint32_t w = 0; w < TS_PID_COUNT / 64; ++w) shape.lu64Dropped[w] &= ~kept[w];
    shape.u16PCROnlyPID = testBit(shape.lu64Dropped, pcrPID) ? pcrPID : kNoPCROnlyPID;
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

uint32_t rebuildPMT(const ComponentChoice& choice, const uint8_t* section, uint32_t size, uint8_t* out,
                    uint32_t capacity, FileShape* shape) {
    std::memset(shape, 0, sizeof *shape);
    if (size < kLongHeaderSize + 4 + kCRCSize) return 0;  // PCR_PID, program_info_length
    Entries entries;
    readEntries(section, size, entries);
    for (uint32_t i = 0; i < entries.u32Count; ++i) {
        Entry& e = entries.lt[i];
        if (choice.u32Drop & (1u << e.u8Component)) e.bKept = false;
    }
    chooseAudio(choice, entries, *shape);
    markDropped(section, size, entries, *shape);
    const uint32_t loopsEnd = entries.u32Count ? entries.lt[0].u32At : size - kCRCSize;
    ByteWriter w(out, capacity);
    w.bytes(section, loopsEnd);
    bool anyKept = false;
    for (uint32_t i = 0; i < entries.u32Count; ++i) {
        const Entry& e = entries.lt[i];
        if (e.bKept) w.bytes(section + e.u32At, e.u32Size);
        anyKept = anyKept || e.bKept;
    }
    shape->u8EveryStreamDropped = entries.u32Count > 0 && !anyKept;
    const uint32_t sectionLength = w.written() + kCRCSize - 3;
    out[1] = uint8_t((section[1] & 0xF0) | (sectionLength >> 8 & 0x0F));
    out[2] = uint8_t(sectionLength);
    w.putCRC32(0);
    return w.overflow() ? 0 : w.written();
}

}  // namespace rivulet
