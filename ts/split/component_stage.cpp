#include "ts/split/component_stage.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "ts/core/bit_set.h"
#include "ts/split/pid_remap.h"
#include "ts/section/section_reader.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/section_feed.h"

namespace rivulet {

namespace {

constexpr uint8_t kAdaptationOnly = 0x20;      // adaptation_field_control '10'
constexpr uint8_t kPayloadOnly = 0x10;         // '01'
constexpr uint8_t kUnitStartBit = 0x40;
constexpr uint8_t kPCRFlag = 0x10;
constexpr uint32_t kAdaptationFieldMax = 183;  // all of a packet without payload behind its header
constexpr uint32_t kHeaderSize = 4;

ComponentStage& stageOf(OutputStage* stage) { return *reinterpret_cast<ComponentStage*>(stage); }

ComponentSlot* slotAt(ComponentStage& c, uint32_t slot) { return slot < c.slots.u32Size ? c.slots[slot] : nullptr; }


// Each warning once per program.
bool firstTime(uint64_t* warned, uint16_t program) {
    if (testBit(warned, program)) return false;
    setBit(warned, program);
    return true;
}

// What a new PMT section makes of the slot's file.
void takeShape(ComponentStage& c, ComponentSlot& s, const FileShape& shape, uint32_t crc) {
    s.tShape = shape;
    s.u8Known = 1;
    s.u32SectionCRC = crc;
    if (shape.u8NoLanguageMatched && firstTime(c.lu64WarnedLanguages, s.u16Program)) {
        logMessage(c.tLog, TS_LOG_WARNING,
                   "Warning: program %u has no audio stream in the languages asked for (it has %s); its first is kept.\n",
                   unsigned(s.u16Program), shape.strAudioLanguages);
    }
    if (shape.u8Unlisted && firstTime(c.lu64WarnedUnlisted, s.u16Program)) {
        logMessage(c.tLog, TS_LOG_WARNING,
                   "Warning: program %u lists more streams than one PMT section holds; those past it are left out.\n",
                   unsigned(s.u16Program));
    }
    if (shape.u8EveryStreamDropped && firstTime(c.lu64WarnedEmpty, s.u16Program)) {
        logMessage(c.tLog, TS_LOG_WARNING,
                   "Warning: program %u keeps none of its streams; its file holds its PAT, PMT and clock.\n",
                   unsigned(s.u16Program));
    }
}

// Writes `section` in packets of the slot's PMT PID, behind the prefix of `unit`.
int32_t writeSection(ComponentStage& c, uint32_t slot, ComponentSlot& s, const uint8_t* unit, const uint8_t* section,
                     uint32_t size, const UnitOrigin& origin) {
    const uint16_t pid = c.u8Stable == TS_STABLE_REMAP ? kRemappedPMTPID : s.u16PMTPID;
    const uint32_t prefix = c.pFormat->u32Prefix;
    const uint8_t* packet = unit + prefix;
    if (!s.u8PMTCounterSet) s.u8PMTCounter = packet[3] & 0x0F;
    s.u8PMTCounterSet = 1;
    std::memcpy(c.lu8Unit, unit, prefix);
    uint8_t* out = c.lu8Unit + prefix;
    for (uint32_t done = 0, first = 1; done < size; first = 0) {
        out[0] = TS_SYNC_BYTE;
        out[1] = uint8_t((first ? kUnitStartBit : 0) | (packet[1] & 0x20) | (pid >> 8));
        out[2] = uint8_t(pid);
        out[3] = uint8_t(kPayloadOnly | s.u8PMTCounter);
        s.u8PMTCounter = (s.u8PMTCounter + 1) & 0x0F;
        uint32_t at = kHeaderSize;
        if (first) out[at++] = 0;  // pointer_field
        const uint32_t take = size - done < TS_PACKET_SIZE - at ? size - done : TS_PACKET_SIZE - at;
        std::memcpy(out + at, section + done, take);
        std::memset(out + at + take, 0xFF, TS_PACKET_SIZE - at - take);
        done += take;
        const int32_t status = stageWrite(c.tStage.pNext, slot, c.lu8Unit, true, origin);
        if (status != 0) return status;
    }
    return 0;
}

// A stable file's shape takes the streams of a PMT section it lacks; each
// that joins a shape already listing streams is told, unless a first pass
// is gathering. True when the shape grew.
bool joinShape(ComponentStage& c, ComponentSlot& s, const ByteReader& section, uint64_t offset) {
    constexpr uint32_t kToldAtOnce = 32;
    uint16_t gained[kToldAtOnce];
    const uint32_t count = mergeStreams(&s.tListed, section.current(), section.remaining(), gained, kToldAtOnce);
    const bool told = s.u8Listed && !c.u8Gathering;
    for (uint32_t i = 0; told && i < count && i < kToldAtOnce; ++i) {
        logMessage(c.tLog, TS_LOG_WARNING,
                   "Warning: program %u gains stream 0x%04X at byte %llu; its file's shape changes there.\n",
                   unsigned(s.u16Program), unsigned(gained[i]), static_cast<unsigned long long>(offset));
    }
    s.u8Listed = s.u8Listed || s.tListed.u16Size > 0;
    if (c.u8Gathering && count > 0 && s.u32Gathered != kNoShape) c.pShapes->list[s.u32Gathered].tListed = s.tListed;
    return count > 0;
}

// A remapped file's PIDs, planned anew as its shape changes (each stream
// keeps its PID: a shape only grows at its end).
void takeRemap(ComponentStage& c, ComponentSlot& s, const ByteReader& section) {
    planRemap(s.tListed, section.current(), section.remaining(), s.tShape, &s.tRemap);
    if (s.tRemap.u16Unmoved && firstTime(c.lu64WarnedUnmoved, s.u16Program)) {
        logMessage(c.tLog, TS_LOG_WARNING,
                   "Warning: program %u has more streams of a kind than remap has PIDs for; 0x%04X keeps its own.\n",
                   unsigned(s.u16Program), unsigned(s.tRemap.u16Unmoved));
    }
}

// A packet of a moved stream, on its new PID.
int32_t writeMoved(ComponentStage& c, uint32_t slot, const ComponentSlot& s, const uint8_t* unit, uint16_t pid,
                   const UnitOrigin& origin) {
    const uint32_t prefix = c.pFormat->u32Prefix;
    std::memcpy(c.lu8Unit, unit, prefix + TS_PACKET_SIZE);
    const uint16_t to = remappedPID(s.tRemap, pid);
    uint8_t* out = c.lu8Unit + prefix;
    out[1] = uint8_t((out[1] & 0xE0) | (to >> 8));
    out[2] = uint8_t(to);
    return stageWrite(c.tStage.pNext, slot, c.lu8Unit, true, origin);
}

// The file's PAT, its program's PMT on the remapped PID.
int32_t writeRemappedPAT(ComponentStage& c, uint32_t slot, const ComponentSlot& s, const uint8_t* unit,
                         const UnitOrigin& origin) {
    const uint32_t prefix = c.pFormat->u32Prefix;
    std::memcpy(c.lu8Unit, unit, prefix + TS_PACKET_SIZE);
    uint8_t* packet = c.lu8Unit + prefix;
    const uint32_t at = kHeaderSize + 1 + packet[kHeaderSize];  // behind the pointer_field
    const bool whole = (packet[1] & kUnitStartBit) && at + 3 <= TS_PACKET_SIZE;
    const uint32_t size = whole ? 3 + ((packet[at + 1] & 0x0F) << 8 | packet[at + 2]) : 0;
    if (whole && at + size <= TS_PACKET_SIZE) remapPAT(s.u16Program, packet + at, size);
    return stageWrite(c.tStage.pNext, slot, c.lu8Unit, true, origin);
}

// Whether a PMT section is the one read last, byte for byte: a program's
// PMT repeats unchanged for hours, and is written again as it was.
bool repeatsLastSection(const ComponentSlot& s, const ByteReader& section) {
    return s.u8Known && s.u16ReadSize == section.remaining() &&
           std::memcmp(s.lu8Read, section.current(), s.u16ReadSize) == 0;
}

void rememberSection(ComponentSlot& s, const ByteReader& section, uint32_t written) {
    const bool fits = section.remaining() <= sizeof s.lu8Read;
    s.u16ReadSize = fits ? uint16_t(section.remaining()) : 0;
    s.u16WrittenSize = uint16_t(written);
    if (fits) std::memcpy(s.lu8Read, section.current(), s.u16ReadSize);
}

// A PMT packet: each section of the slot's program it completes, rebuilt.
int32_t takePMTPacket(ComponentStage& c, uint32_t slot, ComponentSlot& s, const uint8_t* unit,
                      const UnitOrigin& origin) {
    const uint8_t* packet = unit + c.pFormat->u32Prefix;
    TS_Packet header;
    if (TS_Packet_GetHeader(&header, packet) != 0) return 0;
    int32_t status = 0;
    feedSections(s.tGather, TS_PMT_ImportPreSection, packet, header, TS_TABLE_ID_PMT,
                 [&](const TS_PreSection& section, bool) {
                     uint16_t program = 0;
                     TS_PreSection_TableIdExtension(&section, &program);
                     if (program != s.u16Program || status != 0) return;
                     ByteReader bytes = sectionBytes(&section);
                     const bool grown = c.u8Stable && joinShape(c, s, bytes, origin.u64Offset);
                     if (c.u8Gathering) return;  // a first pass writes nothing
                     if (!grown && !s.u8Replan && repeatsLastSection(s, bytes)) {
                         status = writeSection(c, slot, s, unit, s.lu8Written, s.u16WrittenSize, origin);
                         return;
                     }
                     FileShape shape;
                     const uint32_t size = rebuildPMT(c.tChoice, bytes.current(), bytes.remaining(),
                                                      c.u8Stable ? &s.tListed : nullptr, s.lu8Written,
                                                      sizeof s.lu8Written, &shape);
                     s.u16ReadSize = 0;
                     if (size == 0) return;
                     const uint32_t crc = trailingCRC(bytes);
                     if (!s.u8Known || crc != s.u32SectionCRC || grown || s.u8Replan) {
                         s.u8Replan = 0;
                         takeShape(c, s, shape, crc);
                         if (c.u8Stable == TS_STABLE_REMAP) takeRemap(c, s, bytes);
                     }
                     if (c.u8Stable == TS_STABLE_REMAP) remapPMT(s.tRemap, s.lu8Written, size);
                     rememberSection(s, bytes, size);
                     status = writeSection(c, slot, s, unit, s.lu8Written, size, origin);
                 });
    return status;
}

// A packet of a dropped stream that carries the PCR: its adaptation field
// alone, stuffed to the packet's end, without payload, its counter never
// moving on (as for every packet without payload).
int32_t writeClockOnly(ComponentStage& c, uint32_t slot, ComponentSlot& s, const uint8_t* unit,
                       const UnitOrigin& origin) {
    const uint32_t prefix = c.pFormat->u32Prefix;
    const uint8_t* packet = unit + prefix;
    const bool hasField = packet[3] & kAdaptationOnly;
    const uint32_t length = packet[4];
    if (!hasField || length == 0 || length > kAdaptationFieldMax || !(packet[5] & kPCRFlag)) return 0;
    if (!s.u8PCRCounterSet) s.u8PCRCounter = packet[3] & 0x0F;
    s.u8PCRCounterSet = 1;
    std::memcpy(c.lu8Unit, unit, prefix + kHeaderSize + 1 + length);
    uint8_t* out = c.lu8Unit + prefix;
    out[1] &= uint8_t(~kUnitStartBit);
    out[3] = uint8_t((out[3] & 0xC0) | kAdaptationOnly | s.u8PCRCounter);
    out[4] = kAdaptationFieldMax;
    std::memset(out + kHeaderSize + 1 + length, 0xFF, kAdaptationFieldMax - length);
    return stageWrite(c.tStage.pNext, slot, c.lu8Unit, true, origin);
}

UnitOrigin componentArrived(OutputStage* stage, const uint8_t* packet, const TS_Packet& header, uint64_t offset) {
    return stageArrived(stage->pNext, packet, header, offset);
}

// A stable file's shape as the first pass gathered it, or none yet.
void beginShape(const ComponentStage& c, ComponentSlot& s) {
    const bool gathered = c.pShapes && !c.u8Gathering;
    const GatheredShape* shape = gathered ? findShape(*c.pShapes, s.u16Program, s.u16Duplicate, s.u64Opened) : nullptr;
    s.tListed.u16Size = 0;
    if (shape) s.tListed = shape->tListed;
    s.u8Listed = shape != nullptr;
    s.u8Replan = 1;
}

// In a first pass, the shape of each file from its opening on, which grows
// as its streams are announced: a split that follows the pass closely finds
// it as far as the pass has gone.
int32_t gatherShape(const ComponentStage& c, ComponentSlot& s) {
    s.u32Gathered = c.pShapes->list.u32Size;
    const GatheredShape shape{s.u16Program, s.u16Duplicate, s.u64Opened, s.tListed};
    if (keepShape(*c.pShapes, shape)) return 0;
    s.u32Gathered = kNoShape;
    return TS_ERR_NO_MEMORY;
}

// The slot's record, made when its first file opens; a slot that opens for
// another program forgets the one before.
int32_t componentOpen(OutputStage* stage, uint32_t slot, const FileToOpen& file) {
    ComponentStage& c = stageOf(stage);
    if (slot >= c.slots.u32Size && !growTo(c.slots, slot + 1)) return TS_ERR_NO_MEMORY;
    ComponentSlot*& s = c.slots[slot];
    if (!s) s = static_cast<ComponentSlot*>(std::calloc(1, sizeof(ComponentSlot)));
    if (!s) return TS_ERR_NO_MEMORY;
    if (s->u16Program != file.pEntry->u16ProgramNumber || s->u16PMTPID != file.pEntry->u16PMTPID || !s->u8Known) {
        std::memset(static_cast<void*>(s), 0, sizeof *s);
        s->u16Program = file.pEntry->u16ProgramNumber;
        s->u16PMTPID = file.pEntry->u16PMTPID;
        TS_PreSection_Initialise(&s->tGather);
    }
    s->u8PMTCounterSet = 0;
    s->u8PCRCounterSet = 0;
    s->u16Duplicate = file.pEntry->u16Duplicate;
    s->u64Opened = file.u64Offset;
    if (c.u8Stable) beginShape(c, *s);
    const int32_t status = stageOpen(stage->pNext, slot, file);
    return status == 0 && c.u8Gathering ? gatherShape(c, *s) : status;
}

int32_t componentWrite(OutputStage* stage, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin& origin) {
    ComponentStage& c = stageOf(stage);
    ComponentSlot* s = slotAt(c, slot);
    const uint16_t pid = pidOfUnit(unit + c.pFormat->u32Prefix);
    if (componentPasses(c, slot, pid)) return stageWrite(stage->pNext, slot, unit, copy, origin);
    if (pid == s->u16PMTPID) return takePMTPacket(c, slot, *s, unit, origin);
    if (s->u8Known && testBit(s->tShape.lu64Dropped, pid)) {
        return pid == s->tShape.u16PCROnlyPID ? writeClockOnly(c, slot, *s, unit, origin) : 0;
    }
    if (pid == TS_PID_PAT) return writeRemappedPAT(c, slot, *s, unit, origin);
    return writeMoved(c, slot, *s, unit, pid, origin);
}

// The slot `to` takes the file of `from`, and what it knows; `from`, whose
// next file is of the same program, keeps a copy.
int32_t componentMove(OutputStage* stage, uint32_t from, uint32_t to) {
    ComponentStage& c = stageOf(stage);
    ComponentSlot* moved = slotAt(c, from);
    if (moved) {
        if (to >= c.slots.u32Size && !growTo(c.slots, to + 1)) return TS_ERR_NO_MEMORY;
        ComponentSlot*& target = c.slots[to];
        if (!target) target = static_cast<ComponentSlot*>(std::malloc(sizeof(ComponentSlot)));
        if (!target) return TS_ERR_NO_MEMORY;
        std::memcpy(static_cast<void*>(target), moved, sizeof *moved);
        moved->u32Gathered = kNoShape;  // the file's shape goes with it
    }
    return stageMove(stage->pNext, from, to);
}

int32_t componentClose(OutputStage* stage, uint32_t slot) { return stageClose(stage->pNext, slot); }

bool componentIsOpen(const OutputStage* stage, uint32_t slot) { return stageIsOpen(stage->pNext, slot); }
const char* componentPath(const OutputStage* stage, uint32_t slot) { return stagePath(stage->pNext, slot); }
uint64_t componentWritten(const OutputStage* stage, uint32_t slot) { return stageWritten(stage->pNext, slot); }

constexpr OutputStageCalls kComponentCalls{componentArrived, componentOpen,   componentWrite, componentMove,
                                           componentClose,   componentIsOpen, componentPath,  componentWritten};

}  // namespace

ComponentStage* componentStageCreate(const ComponentChoice& choice, uint8_t stable, TS_StreamShapes* shapes,
                                     const PacketFormat* format, const LogSink& log, OutputStage* next) {
    ComponentStage* c = new (std::nothrow) ComponentStage();
    if (!c) return nullptr;
    c->tStage = OutputStage{&kComponentCalls, next};
    c->tChoice = choice;
    c->u8Stable = stable;
    c->pShapes = stable ? shapes : nullptr;
    c->u8Gathering = c->pShapes && c->pShapes->u8Gathering;
    c->pFormat = format;
    c->tLog = log;
    return c;
}

void componentStageDestroy(ComponentStage* c) {
    if (!c) return;
    for (uint32_t i = 0; i < c->slots.u32Size; ++i) std::free(c->slots[i]);
    release(c->slots);
    delete c;
}

}  // namespace rivulet
