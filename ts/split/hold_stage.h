// The hold stage: the head of the output chain (output_stage.h) while some
// programs are held, their choice undecided. It keeps every call the chain
// receives for a held program's slots (a file opening, a unit, a move, a
// closing), in order and in memory, and passes none on; released, the
// program's calls are replayed to the next stage, which takes its calls as
// they come from then on; let go, they are forgotten. Calls for the other
// programs pass straight through. Each held program keeps its calls in
// blocks of its own, taken one at a time as they fill: holding costs a copy
// per unit, and releasing or letting go of one program leaves the others.
#ifndef RIVULET_HOLD_STAGE_H
#define RIVULET_HOLD_STAGE_H

#include <cstdint>

#include "rivulet/file_split.h"
#include "ts/core/growable.h"
#include "ts/programs/pat_table.h"
#include "ts/split/output_stage.h"
#include "ts/stream/packet_format.h"

namespace rivulet {

struct HeldBlock {
    uint8_t* p;
    uint32_t u32Used;  // bytes of whole calls
};

// One held program's calls, in order.
struct HeldProgram {
    uint16_t u16Program;
    Growable<HeldBlock> blocks;
};

struct HoldStage {
    OutputStage tStage;  // first: the chain knows the stage by it
    // Which program a slot is of: slot s of the splitter's entry s / u32SlotsPerEntry.
    const Growable<TS_PNSplitEntry>* pEntries;
    uint32_t u32SlotsPerEntry;
    const PacketFormat* pFormat;  // of the input, known once its first packets are
    Growable<HeldProgram> programs;
    EntryBits openSlots;  // held slots whose file stands open, as the splitter sees it
    uint64_t u64Bytes;    // the blocks take
    uint64_t u64Limit;
    uint8_t u8Alert;      // past the limit, or a call could not be kept for want of memory...
    uint8_t u8Short;      // ...the latter
    uint64_t lu64Held[kProgramNumberCount / 64];
};

// A stage holding nothing, of the splitter's `entries`, with `slotsPerEntry` files each.
void holdStageInit(HoldStage* hold, const Growable<TS_PNSplitEntry>* entries, uint32_t slotsPerEntry,
                   const PacketFormat* format, uint64_t limit);
// Forgets every held call and frees the stage's memory.
void holdStageFree(HoldStage* hold);
inline bool holdStageActive(const HoldStage& hold) { return hold.programs.u32Size > 0; }
inline bool holdsProgram(const HoldStage& hold, uint16_t program) {
    return (hold.lu64Held[program / 64] >> (program % 64)) & 1;
}
// Whether the calls for `slot` are held.
bool holdKeepsSlot(const HoldStage& hold, uint32_t slot);

// Holds `program`'s calls from now on; false when memory is short.
bool holdProgram(HoldStage* hold, uint16_t program);

// What a release did downstream: the files it opened, whether one could not
// be opened, and the first other failure.
struct HoldReplay {
    uint32_t u32Opened;
    uint8_t u8OpenFailed;
    int32_t status;
};
// Replays `program`'s calls to the next stage and stops holding it.
HoldReplay holdRelease(HoldStage* hold, uint16_t program);
// Forgets `program`'s calls and stops holding it.
void holdForget(HoldStage* hold, uint16_t program);

}  // namespace rivulet

#endif
