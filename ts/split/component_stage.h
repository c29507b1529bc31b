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
// the first pass itself, the stage gathers each file's shape as it closes.
#ifndef RIVULET_COMPONENT_STAGE_H
#define RIVULET_COMPONENT_STAGE_H

#include "ts/core/growable.h"
#include "ts/core/log_sink.h"
#include "ts/programs/pat_table.h"
#include "ts/split/component_choice.h"
#include "ts/split/stream_shapes.h"
#include "ts/split/output_stage.h"
#include "ts/stream/packet_format.h"

namespace rivulet {

struct ComponentSlot;

struct ComponentStage {
    OutputStage tStage;  // first: the chain knows the stage by it
    ComponentChoice tChoice;
    uint8_t u8Stable;            // TS_STABLE_...: one stream shape per file, and fixed PIDs
    TS_StreamShapes* pShapes;    // gathered before, or being gathered; null: shapes grow
    const PacketFormat* pFormat;  // of the input, known once its first packets are
    LogSink tLog;
    Growable<ComponentSlot*> slots;  // each file slot's, made as it first opens
    uint64_t lu64WarnedLanguages[kProgramNumberCount / 64];  // programs told their languages did not match
    uint64_t lu64WarnedEmpty[kProgramNumberCount / 64];      // programs told every stream is dropped
    uint64_t lu64WarnedUnlisted[kProgramNumberCount / 64];   // programs told their shape is full
    uint64_t lu64WarnedUnmoved[kProgramNumberCount / 64];    // programs told a stream keeps its PID
    uint8_t lu8Unit[kMaxOutputUnitSize];                      // a unit the stage writes
};

// A stage of `choice` (and one shape per file, with `stable` TS_STABLE_...) in front of
// `next`; null when memory is short.
ComponentStage* componentStageCreate(const ComponentChoice& choice, uint8_t stable, TS_StreamShapes* shapes,
                                     const PacketFormat* format, const LogSink& log, OutputStage* next);
void componentStageDestroy(ComponentStage* stage);

}  // namespace rivulet

#endif
