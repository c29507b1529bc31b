// The component stage: the stage of a program's output chain
// (output_stage.h) that leaves out of each file the streams the options
// drop (--drop, --audio). It reads the program's PMT sections from the
// packets its file takes, and writes in their place the sections
// component_choice.h rebuilds, on the same PID, at the packet that completed
// each, in packets of their own (counters running on from the first one's).
// It leaves out the packets of the dropped PIDs; of a dropped stream that
// carries the PCR, it keeps each packet with a PCR as an adaptation field
// alone. Every other packet goes on as it came. For a stable split, every
// rebuilt section lists the streams of the file's shape (stream_shapes.h),
// which a first pass gathered or which grows as streams are announced; in
// the first pass itself, the stage gathers each file's shape as it grows.
#ifndef RIVULET_COMPONENT_STAGE_H
#define RIVULET_COMPONENT_STAGE_H

#include "ts/core/bit_set.h"
#include "ts/core/growable.h"
#include "ts/core/log_sink.h"
#include "ts/programs/pat_table.h"
#include "ts/split/component_choice.h"
#include "ts/split/stream_shapes.h"
#include "ts/split/output_stage.h"
#include "ts/split/pid_remap.h"
#include "ts/stream/packet_format.h"

namespace rivulet {

constexpr uint32_t kNoShape = UINT32_MAX;

// A PMT section's bytes at most: section_length is 1021 at most.
constexpr uint32_t kPMTSectionMax = 1024;

// What the stage knows of one file slot: the program its file is of, and
// what that program's last PMT section made of it. Kept when the slot's
// file closes, so that the program's next file there (a new revision, the
// next event) knows it from its first packet.
struct ComponentSlot {
    uint16_t u16Program;
    uint16_t u16PMTPID;
    uint16_t u16Duplicate;    // of the file open...
    uint64_t u64Opened;       // ...and the input offset it opened at: its shape's key
    uint8_t u8Listed;         // a stable file's shape has streams: a stream that joins it now is told
    uint8_t u8Replan;         // a new file: its PIDs are planned at its first PMT section
    uint8_t u8Known;          // a PMT section of the program has been read
    uint8_t u8PMTCounter;     // continuity_counter of the next rebuilt PMT packet...
    uint8_t u8PMTCounterSet;  // ...once the first has been written
    uint8_t u8PCRCounter;     // of every PCR-only packet, which carries no payload...
    uint8_t u8PCRCounterSet;  // ...once the first has been written
    uint32_t u32SectionCRC;   // of the last PMT section read, which shapes the file
    uint16_t u16ReadSize;     // that section's bytes, as read...
    uint16_t u16WrittenSize;  // ...and as written for them: a section repeated is written again as it was
    uint8_t lu8Read[kPMTSectionMax];
    uint8_t lu8Written[TS_SECTION_BODY_SIZE];
    FileShape tShape;
    TS_PreSection tGather;    // the PMT sections of the slot's packets
    StreamLoop tListed;       // a stable file's shape
    uint32_t u32Gathered;     // gathering, the file's shape in the stage's pShapes (kNoShape: none)
    PIDRemap tRemap;          // and its PIDs, when remapped
};

struct ComponentStage {
    OutputStage tStage;  // first: the chain knows the stage by it
    ComponentChoice tChoice;
    uint8_t u8Stable;            // TS_STABLE_...: one stream shape per file, and fixed PIDs
    TS_StreamShapes* pShapes;    // gathered before or ahead, or being gathered; null: shapes grow
    uint8_t u8Gathering;         // the stage of a first pass: it fills pShapes and writes nothing
    const PacketFormat* pFormat;  // of the input, known once its first packets are
    LogSink tLog;
    Growable<ComponentSlot*> slots;  // each file slot's, made as it first opens
    uint64_t lu64WarnedLanguages[kProgramNumberCount / 64];  // programs told their languages did not match
    uint64_t lu64WarnedEmpty[kProgramNumberCount / 64];      // programs told every stream is dropped
    uint64_t lu64WarnedUnlisted[kProgramNumberCount / 64];   // programs told their shape is full
    uint64_t lu64WarnedUnmoved[kProgramNumberCount / 64];    // programs told a stream keeps its PID
    uint8_t lu8Unit[kMaxOutputUnitSize];                      // a unit the stage writes
};

// Whether the stage hands a unit of `pid` for `slot` on as it came: the
// path of almost every packet, which the router takes to the file sink
// itself when the sink is next.
inline bool componentPasses(const ComponentStage& c, uint32_t slot, uint16_t pid) {
    const ComponentSlot* s = slot < c.slots.u32Size ? c.slots[slot] : nullptr;
    if (!s) return true;
    if (pid == s->u16PMTPID || (s->u8Known && testBit(s->tShape.lu64Dropped, pid))) return false;
    return c.u8Stable != TS_STABLE_REMAP || (pid != TS_PID_PAT && !testBit(s->tRemap.lu64Moved, pid));
}

// A stage of `choice` (and one shape per file, with `stable` TS_STABLE_...) in front of
// `next`; null when memory is short.
ComponentStage* componentStageCreate(const ComponentChoice& choice, uint8_t stable, TS_StreamShapes* shapes,
                                     const PacketFormat* format, const LogSink& log, OutputStage* next);
void componentStageDestroy(ComponentStage* stage);

}  // namespace rivulet

#endif
