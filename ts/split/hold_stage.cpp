#include "ts/split/hold_stage.h"

#include <cstring>
#include <new>

namespace rivulet {
namespace {

// A block holds some three hundred units: few allocations, and little left
// unused by a program held only a moment.
constexpr uint32_t kBlockBytes = uint32_t(64) << 10;

enum HeldKind : uint8_t { kHeldOpen, kHeldWrite, kHeldMove, kHeldClose };

// A call as kept, followed by a write's unit or an opening's HeldOpen.
struct HeldCall {
    uint64_t u64Offset;  // a write's origin
    uint32_t u32Slot;
    uint32_t u32To;      // a move's other slot
    uint8_t u8Kind;
    uint8_t u8Input;     // a write's origin
    uint8_t u8Lost;
};

// A FileToOpen, its entry copied as it was.
struct HeldOpen {
    TS_PNSplitEntry tEntry;
    uint64_t u64Offset;
    int32_t nEvent;
    uint8_t u8CutAtEvents;
};

HoldStage& holdOf(OutputStage* stage) { return *reinterpret_cast<HoldStage*>(stage); }
const HoldStage& holdOf(const OutputStage* stage) { return *reinterpret_cast<const HoldStage*>(stage); }

HeldProgram* findHeld(HoldStage& hold, uint16_t program) {
    for (uint32_t i = 0; i < hold.programs.u32Size; ++i) {
        if (hold.programs[i].u16Program == program) return &hold.programs[i];
    }
    return nullptr;
}

int32_t programOfSlot(const HoldStage& hold, uint32_t slot) {
    const uint32_t entry = slot / hold.u32SlotsPerEntry;
    return entry < hold.pEntries->u32Size ? (*hold.pEntries)[entry].u16ProgramNumber : -1;
}

void noteBytes(HoldStage& hold) {
    hold.u8Alert = hold.u8Short || hold.u64Bytes > hold.u64Limit;
}

void noteShort(HoldStage& hold) {
    hold.u8Short = 1;
    noteBytes(hold);
}

// Room for `size` bytes at the end of the program's last block; null when
// memory is short.
uint8_t* roomFor(HoldStage& hold, HeldProgram& held, uint32_t size) {
    Growable<HeldBlock>& blocks = held.blocks;
    if (blocks.u32Size > 0 && blocks[blocks.u32Size - 1].u32Used + size <= kBlockBytes) {
        HeldBlock& last = blocks[blocks.u32Size - 1];
        return last.p + last.u32Used;
    }
    uint8_t* block = new (std::nothrow) uint8_t[kBlockBytes];
    if (!block || !growTo(blocks, blocks.u32Size + 1)) {
        delete[] block;
        return nullptr;
    }
    blocks[blocks.u32Size - 1] = HeldBlock{block, 0};
    hold.u64Bytes += kBlockBytes;
    noteBytes(hold);
    return block;
}

// Keeps a call for `slot`, followed by `size` bytes of `payload`.
void keep(HoldStage& hold, uint32_t slot, HeldCall call, const void* payload, uint32_t size) {
    HeldProgram* held = findHeld(hold, uint16_t(programOfSlot(hold, slot)));
    uint8_t* at = held ? roomFor(hold, *held, uint32_t(sizeof call) + size) : nullptr;
    if (!at) {
        noteShort(hold);
        return;
    }
    call.u32Slot = slot;
    std::memcpy(at, &call, sizeof call);
    if (size > 0) std::memcpy(at + sizeof call, payload, size);
    held->blocks[held->blocks.u32Size - 1].u32Used += uint32_t(sizeof call) + size;
}

// Whether a held slot stands open, and its change.
bool slotOpen(const HoldStage& hold, uint32_t slot) { return hasEntry(hold.openSlots, slot); }
void setSlotOpen(HoldStage& hold, uint32_t slot, bool open) {
    if (!open) {
        removeEntry(hold.openSlots, slot);
    } else if (growTo(hold.openSlots, wordsFor(slot + 1))) {
        addEntry(hold.openSlots, slot);
    } else {
        noteShort(hold);
    }
}

UnitOrigin holdArrived(OutputStage* stage, const uint8_t* packet, const TS_Packet& header, uint64_t offset) {
    return stageArrived(stage->pNext, packet, header, offset);
}

int32_t holdOpen(OutputStage* stage, uint32_t slot, const FileToOpen& file) {
    HoldStage& hold = holdOf(stage);
    if (!holdKeepsSlot(hold, slot)) return stageOpen(stage->pNext, slot, file);
    const HeldOpen open{*file.pEntry, file.u64Offset, file.nEvent, uint8_t(file.bCutAtEvents)};
    keep(hold, slot, HeldCall{0, 0, 0, kHeldOpen, 0, 0}, &open, uint32_t(sizeof open));
    setSlotOpen(hold, slot, true);
    return 0;
}

int32_t holdWrite(OutputStage* stage, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin& origin) {
    HoldStage& hold = holdOf(stage);
    if (!holdKeepsSlot(hold, slot)) return stageWrite(stage->pNext, slot, unit, copy, origin);
    const HeldCall call{origin.u64Offset, 0, 0, kHeldWrite, origin.u8Input, origin.u8Lost};
    keep(hold, slot, call, unit, outputUnitSize(*hold.pFormat));
    return 0;
}

int32_t holdMove(OutputStage* stage, uint32_t from, uint32_t to) {
    HoldStage& hold = holdOf(stage);
    if (!holdKeepsSlot(hold, from)) return stageMove(stage->pNext, from, to);
    keep(hold, from, HeldCall{0, 0, to, kHeldMove, 0, 0}, nullptr, 0);
    setSlotOpen(hold, to, slotOpen(hold, from));
    setSlotOpen(hold, from, false);
    return 0;
}

int32_t holdClose(OutputStage* stage, uint32_t slot) {
    HoldStage& hold = holdOf(stage);
    if (!holdKeepsSlot(hold, slot)) return stageClose(stage->pNext, slot);
    keep(hold, slot, HeldCall{0, 0, 0, kHeldClose, 0, 0}, nullptr, 0);
    setSlotOpen(hold, slot, false);
    return 0;
}

// A held slot stands open for the splitter, but has no path nor bytes yet.
bool holdIsOpen(const OutputStage* stage, uint32_t slot) {
    const HoldStage& hold = holdOf(stage);
    return holdKeepsSlot(hold, slot) ? slotOpen(hold, slot) : stageIsOpen(stage->pNext, slot);
}

const char* holdPath(const OutputStage* stage, uint32_t slot) {
    return holdKeepsSlot(holdOf(stage), slot) ? "" : stagePath(stage->pNext, slot);
}

uint64_t holdWritten(const OutputStage* stage, uint32_t slot) {
    return holdKeepsSlot(holdOf(stage), slot) ? 0 : stageWritten(stage->pNext, slot);
}

constexpr OutputStageCalls kHoldCalls{holdArrived, holdOpen,   holdWrite, holdMove,
                                      holdClose,   holdIsOpen, holdPath,  holdWritten};

// Opens the file of a kept opening as the splitter opens one: a file
// opened counts, whatever else failed; the bytes the opening took.
uint32_t replayOpen(OutputStage* next, uint32_t slot, const uint8_t* payload, HoldReplay& replay) {
    HeldOpen open;
    std::memcpy(&open, payload, sizeof open);
    const FileToOpen file{&open.tEntry, open.u64Offset, open.u8CutAtEvents != 0, open.nEvent};
    const int32_t status = stageOpen(next, slot, file);
    const bool opened = stageIsOpen(next, slot);
    replay.u32Opened += opened;
    replay.u8OpenFailed |= uint8_t(status != 0 && !opened);
    if (opened && replay.status == 0) replay.status = status;
    return uint32_t(sizeof open);
}

// Hands the call kept at `at` to `next`, noting what it did in `replay`;
// the bytes it took.
uint32_t replayCall(OutputStage* next, uint32_t unitSize, const uint8_t* at, HoldReplay& replay) {
    HeldCall call;
    std::memcpy(&call, at, sizeof call);
    const uint8_t* payload = at + sizeof call;
    uint32_t size = sizeof call;
    int32_t status = 0;
    switch (call.u8Kind) {
        case kHeldOpen:
            return size + replayOpen(next, call.u32Slot, payload, replay);
        case kHeldWrite:
            status = stageWrite(next, call.u32Slot, payload, true, UnitOrigin{call.u64Offset, call.u8Input, call.u8Lost});
            size += unitSize;
            break;
        case kHeldMove:
            status = stageMove(next, call.u32Slot, call.u32To);
            break;
        default:
            status = stageClose(next, call.u32Slot);
            break;
    }
    if (replay.status == 0) replay.status = status;
    return size;
}

// Stops holding `program`: its calls and its slots' state go.
void unhold(HoldStage& hold, uint16_t program) {
    HeldProgram* held = findHeld(hold, program);
    for (uint32_t b = 0; b < held->blocks.u32Size; ++b) delete[] held->blocks[b].p;
    hold.u64Bytes -= uint64_t(held->blocks.u32Size) * kBlockBytes;
    release(held->blocks);
    *held = hold.programs[hold.programs.u32Size - 1];
    --hold.programs.u32Size;
    for (uint32_t w = 0; w < hold.openSlots.u32Size; ++w) {
        forEachEntry(hold.openSlots[w], w, [&](uint32_t slot) {
            if (programOfSlot(hold, slot) == program) removeEntry(hold.openSlots, slot);
        });
    }
    hold.lu64Held[program / 64] &= ~(uint64_t(1) << (program % 64));
    noteBytes(hold);
}

}  // namespace

void holdStageInit(HoldStage* hold, const Growable<TS_PNSplitEntry>* entries, uint32_t slotsPerEntry,
                   const PacketFormat* format, uint64_t limit) {
    std::memset(static_cast<void*>(hold), 0, sizeof *hold);
    hold->tStage = OutputStage{&kHoldCalls, nullptr};
    hold->pEntries = entries;
    hold->u32SlotsPerEntry = slotsPerEntry;
    hold->pFormat = format;
    hold->u64Limit = limit;
}

void holdStageFree(HoldStage* hold) {
    while (hold->programs.u32Size > 0) unhold(*hold, hold->programs[0].u16Program);
    release(hold->programs);
    release(hold->openSlots);
}

bool holdKeepsSlot(const HoldStage& hold, uint32_t slot) {
    const int32_t program = programOfSlot(hold, slot);
    return program >= 0 && holdsProgram(hold, uint16_t(program));
}

bool holdProgram(HoldStage* hold, uint16_t program) {
    if (holdsProgram(*hold, program)) return true;
    const uint32_t count = hold->programs.u32Size;
    if (!growTo(hold->programs, count + 1)) return false;
    hold->programs[count].u16Program = program;
    hold->lu64Held[program / 64] |= uint64_t(1) << (program % 64);
    return true;
}

HoldReplay holdRelease(HoldStage* hold, uint16_t program) {
    HoldReplay replay{0, 0, 0};
    const HeldProgram* held = findHeld(*hold, program);
    if (!held) return replay;
    const uint32_t unitSize = outputUnitSize(*hold->pFormat);
    for (uint32_t b = 0; b < held->blocks.u32Size; ++b) {
        const HeldBlock& block = held->blocks[b];
        for (uint32_t at = 0; at < block.u32Used;) at += replayCall(hold->tStage.pNext, unitSize, block.p + at, replay);
    }
    unhold(*hold, program);
    return replay;
}

void holdForget(HoldStage* hold, uint16_t program) {
    if (findHeld(*hold, program)) unhold(*hold, program);
}

}  // namespace rivulet
