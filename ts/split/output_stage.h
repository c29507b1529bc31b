// The stages at the end of a program's output: what becomes of each unit a
// file takes and of the files as they open, turn into the older file of a
// cut and close. The router (the splitter), the clean-start gate and the
// service information hand their units to the run's chain; each stage does
// its part and hands on to the next, knowing only these calls. The chain is
// made from the options once: a report tap when a report is asked for, then
// a file sink (file_sink.h), or a listening sink when cuts are only told.
//
// Files are known by slot: the splitter gives each program three (its own,
// the older and the prior file of a cut).
#ifndef RIVULET_OUTPUT_STAGE_H
#define RIVULET_OUTPUT_STAGE_H

#include <cstdint>

#include "rivulet/file_split.h"
#include "rivulet/packets_sections.h"
#include "ts/split/start_point.h"

namespace rivulet {

// A file to open: of split entry *pEntry, from the packet at input offset
// u64Offset; cut at events, of event nEvent (-1: none known).
struct FileToOpen {
    const TS_PNSplitEntry* pEntry;
    uint64_t u64Offset;
    bool bCutAtEvents;
    int32_t nEvent;
};

struct OutputStage;

struct OutputStageCalls {
    // A packet arrived at input `offset`: the origin the units made of it carry.
    UnitOrigin (*arrived)(OutputStage* stage, const uint8_t* packet, const TS_Packet& header, uint64_t offset);
    // 0, or TS_ERR_OPEN_OUTPUT (said) or TS_ERR_NO_MEMORY: no file at `slot`.
    int32_t (*open)(OutputStage* stage, uint32_t slot, const FileToOpen& file);
    // One output unit: of the walk's buffer, or, with `copy`, one to copy. 0, or TS_ERR_WRITE.
    int32_t (*write)(OutputStage* stage, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin& origin);
    // The file of slot `from` becomes that of `to` (closed); 0, or TS_ERR_NO_MEMORY.
    int32_t (*move)(OutputStage* stage, uint32_t from, uint32_t to);
    // 0 (also for a slot without a file), or the failure of its last writes.
    int32_t (*close)(OutputStage* stage, uint32_t slot);
    // What the sink knows of a slot's file: open, its path, its bytes written.
    bool (*isOpen)(const OutputStage* stage, uint32_t slot);
    const char* (*path)(const OutputStage* stage, uint32_t slot);
    uint64_t (*written)(const OutputStage* stage, uint32_t slot);
};

struct OutputStage {
    const OutputStageCalls* pCalls;
    OutputStage* pNext;  // null for the sink
};

inline UnitOrigin stageArrived(OutputStage* s, const uint8_t* packet, const TS_Packet& header, uint64_t offset) {
    return s->pCalls->arrived(s, packet, header, offset);
}
inline int32_t stageOpen(OutputStage* s, uint32_t slot, const FileToOpen& file) { return s->pCalls->open(s, slot, file); }
inline int32_t stageWrite(OutputStage* s, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin& origin) {
    return s->pCalls->write(s, slot, unit, copy, origin);
}
inline int32_t stageMove(OutputStage* s, uint32_t from, uint32_t to) { return s->pCalls->move(s, from, to); }
inline int32_t stageClose(OutputStage* s, uint32_t slot) { return s->pCalls->close(s, slot); }
inline bool stageIsOpen(const OutputStage* s, uint32_t slot) { return s->pCalls->isOpen(s, slot); }
inline const char* stagePath(const OutputStage* s, uint32_t slot) { return s->pCalls->path(s, slot); }
inline uint64_t stageWritten(const OutputStage* s, uint32_t slot) { return s->pCalls->written(s, slot); }

// The origin of a packet no stage counts: its offset alone.
inline UnitOrigin plainOrigin(uint64_t offset) { return UnitOrigin{offset, 1, 0}; }

}  // namespace rivulet

#endif
