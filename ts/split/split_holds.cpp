// Programs held while their caller decides whether they are chosen: to the
// splitter they are chosen (entries, routes, PATs, clean starts, service
// information and cuts go as for any), and the hold stage at the head of the
// chain keeps their files' calls until the caller releases the program
// (TS_Splitter_AddProgram) or lets it go. What they keep together is bounded:
// past the bound, the watch's caller is told, then every held program goes.
#include "ts/core/bit_set.h"
#include "ts/split/splitter_state.h"

using namespace rivulet;
using namespace rivulet::splitting;

namespace rivulet {
namespace splitting {
namespace {

// Lets `program` go: its files close while still held, and what they kept
// is forgotten; it is no longer chosen.
void dropHeld(TS_Splitter& s, uint16_t program) {
    closeProgramFiles(s, program);
    forgetProgramEntries(s, program);
    holdForget(&s.stages.tHold, program);
    clearBit(s.choice.selected, program);
    setBit(s.choice.dropped, program);
    placeHoldStage(s.stages);
}

// Whether an entry of `program` has its files open (or standing open).
bool hasFiles(const TS_Splitter& s, uint16_t program) {
    for (int32_t e = s.entries.firstOfProgram[program]; e != kNoEntry; e = s.entries.nextOfProgram[uint32_t(e)]) {
        if (hasEntry(s.entries.open, uint32_t(e))) return true;
    }
    return false;
}

}  // namespace

void releaseHeld(TS_Splitter& s, uint16_t program) {
    const HoldReplay replay = holdRelease(&s.stages.tHold, program);
    placeHoldStage(s.stages);
    if (s.run.pFileCount) *s.run.pFileCount += replay.u32Opened;
    if (replay.u8OpenFailed) s.run.u8OpenFailed = 1;
    if (replay.status != 0) fail(s, replay.status);
    // In the files when the call returns, as what is fed.
    outputQueueFlush(&s.files.tQueue);
}

void letGoHeld(TS_Splitter& s) {
    while (holdStageActive(s.stages.tHold)) dropHeld(s, s.stages.tHold.programs[0].u16Program);
}

// After the packet in hand, the held programs keep too much (or memory for
// them ran short, which fails the run): the watch's caller may decide; those
// still held then go, each named.
void onHoldAlert(TS_Splitter& s, const uint8_t* packet) {
    HoldStage& hold = s.stages.tHold;
    if (hold.u8Short) {
        logMessage(s.run.tLog, TS_LOG_ERROR, "Error: Out of memory.\n");
        fail(s, TS_ERR_NO_MEMORY);
        letGoHeld(s);
        hold.u8Short = 0;
        hold.u8Alert = 0;
        return;
    }
    callWatched(s, packet);
    if (!hold.u8Alert) return;
    while (holdStageActive(hold)) {
        const uint16_t program = hold.programs[0].u16Program;
        logMessage(s.run.tLog, TS_LOG_WARNING, "Warning: program %u of %s held past %llu MiB undecided; it gets no file.\n",
                   program, s.naming.strInput, static_cast<unsigned long long>(hold.u64Limit >> 20));
        dropHeld(s, program);
    }
}

}  // namespace splitting
}  // namespace rivulet

int32_t TS_Splitter_HoldProgram(TS_Splitter* splitter, uint16_t program) {
    if (!splitter || program == 0) return -1;
    TS_Splitter& s = *splitter;
    // Held already, or chosen with files of its own.
    if (holdsProgram(s.stages.tHold, program) || hasFiles(s, program)) return 0;
    if (!holdProgram(&s.stages.tHold, program)) return -1;
    setBit(s.choice.selected, program);
    clearBit(s.choice.dropped, program);
    placeHoldStage(s.stages);
    startProgramAtOnce(s, program);
    return 0;
}

int32_t TS_Splitter_DropProgram(TS_Splitter* splitter, uint16_t program) {
    if (!splitter || program == 0) return -1;
    if (holdsProgram(splitter->stages.tHold, program)) dropHeld(*splitter, program);
    return 0;
}

uint64_t TS_Splitter_HeldBytes(const TS_Splitter* splitter) { return splitter ? splitter->stages.tHold.u64Bytes : 0; }
