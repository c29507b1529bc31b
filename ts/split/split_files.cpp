// Each split entry's files: opened where and as the options say (named by
// the file sink), written, turned into the older and prior files of a cut,
// and closed.
#include <cstdio>

#include "ts/core/bit_set.h"
#include "ts/split/splitter_state.h"

namespace rivulet {
namespace splitting {

// --- Output files -----------------------------------------------------------

// A file that cannot be opened fails the run, but not the other programs'
// files: its program goes without one until its next revision. Cut at
// events, it fails its event's file only: the entry goes on as if the file
// were open, taking nothing, so that the next cut opens the next file.
static bool openEntryFile(TS_Splitter& s, uint32_t e, uint64_t offset) {
    if (hasEntry(s.entries.refused, e)) return false;
    const uint32_t slot = slotOf(e, kOwnFile);
    const FileToOpen file{&entryOf(s, e), offset, s.stages.pEvents != nullptr, fileEvent(s, e)};
    const int32_t status = stageOpen(s.stages.pChain, slot, file);
    if (status != 0 && !stageIsOpen(s.stages.pChain, slot)) {
        s.run.u8OpenFailed = 1;
        if (!s.stages.pEvents) {
            addEntry(s.entries.refused, e);
            return false;
        }
        addEntry(s.entries.open, e);
        return true;
    }
    if (status != 0) fail(s, status);  // the file is open, its report's record could not be had
    addEntry(s.entries.open, e);
    // A held file is counted once it is created, when its program is released.
    if (s.run.pFileCount && !holdKeepsSlot(s.stages.tHold, slot)) ++*s.run.pFileCount;
    siFileOpened(&s.stages.si, e);
    return true;
}

// Closes file `slot` (an entry's, or the older one of its cut).
static void closeSlot(TS_Splitter& s, uint32_t slot) {
    int32_t status = stageClose(s.stages.pChain, slot);
    if (status != 0) fail(s, status);
}

static void closeOlderFiles(TS_Splitter& s, uint32_t e) {
    closeSlot(s, slotOf(e, kOlderFile));
    closeSlot(s, slotOf(e, kPriorFile));
    removeEntry(s.entries.olderOpen, e);
}

// A file that never reached its start was never created: its program is
// named once, so that its missing files do not pass unseen (unless the run
// was stopped or failed first).
static void dropPendingFile(TS_Splitter& s, uint32_t e) {
    if (!hasEntry(s.entries.pending, e)) return;
    removeEntry(s.entries.pending, e);
    const uint16_t program = entryOf(s, e).u16ProgramNumber;
    if (s.run.status != 0 || s.run.u8Interrupted || testBit(s.choice.unstarted, program)) return;
    setBit(s.choice.unstarted, program);
    logMessage(s.run.tLog, TS_LOG_WARNING,
               "Warning: program %u of %s has no point a decoder can start at; it gets no file.\n", program,
               s.naming.strInput);
}

void closeEntryFile(TS_Splitter& s, uint32_t e) {
    if (s.stages.pClean) cleanFileClosed(*s.stages.pClean, e);
    dropPendingFile(s, e);
    closeOlderFiles(s, e);
    closeSlot(s, slotOf(e, kOwnFile));
    entryOf(s, e).nFD = -1;
    removeEntry(s.entries.open, e);
}

// Closes every file of `program`, none of them waiting for its start (a
// program let go has no file to miss).
void closeProgramFiles(TS_Splitter& s, uint16_t program) {
    for (int32_t at = s.entries.firstOfProgram[program]; at != kNoEntry; at = s.entries.nextOfProgram[uint32_t(at)]) {
        const uint32_t e = uint32_t(at);
        removeEntry(s.entries.pending, e);
        if (hasEntry(s.entries.open, e)) closeEntryFile(s, e);
        if (hasEntry(s.entries.olderOpen, e)) closeOlderFiles(s, e);
    }
}

int32_t closeAll(TS_Splitter& s) {
    const uint32_t count = entryCount(s);
    for (uint32_t w = 0; s.stages.pClean && w < entryWords(s); ++w) {
        forEachEntry(wordOf(s.entries.open, w), w, [&](uint32_t e) {
            cleanFileClosed(*s.stages.pClean, e);
            dropPendingFile(s, e);
        });
    }
    for (uint32_t w = 0; w < entryWords(s); ++w) {
        forEachEntry(wordOf(s.entries.olderOpen, w), w, [&](uint32_t e) { closeOlderFiles(s, e); });
    }
    int32_t status = 0;
    for (uint32_t e = 0; e < count; ++e) {
        entryOf(s, e).nFD = -1;
        int32_t closed = stageClose(s.stages.pChain, slotOf(e, kOwnFile));
        if (status == 0) status = closed;
    }
    outputQueueReset(&s.files.tQueue);
    return s.run.status != 0 ? s.run.status : status;
}

// A file begun at a PAT: of the program's present event when files are cut
// at events. A clean file (asked for, or cut at events) is created only at
// its start, where its name is decided; until then the entry stands open.
bool openFreshFile(TS_Splitter& s, uint32_t e, uint64_t offset) {
    const uint16_t program = entryOf(s, e).u16ProgramNumber;
    const bool cleanly = s.stages.u8CleanStart || s.stages.pEvents;
    uint16_t event = 0;
    fileEvent(s, e) = s.stages.pEvents && presentEventOf(*s.stages.pEvents, program, &event) ? event : kNoEvent;
    if (cleanly) {
        addEntry(s.entries.open, e);
        addEntry(s.entries.pending, e);
    } else if (!openEntryFile(s, e, offset)) {
        return false;
    }
    if (s.stages.pClean) cleanFileOpened(*s.stages.pClean, e, program, cleanly);
    return true;
}

// --- Cuts at event changes ---------------------------------------------------

// The start point of entry e's cut: its file becomes the older one, and the
// file of the next event opens in its place.
void cutEntryFile(void* user, uint32_t e) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    const uint32_t own = slotOf(e, kOwnFile), older = slotOf(e, kOlderFile), prior = slotOf(e, kPriorFile);
    closeSlot(s, prior);
    if (stageMove(s.stages.pChain, older, prior) != 0) fail(s, TS_ERR_NO_MEMORY);
    if (stageMove(s.stages.pChain, own, older) != 0) fail(s, TS_ERR_NO_MEMORY);
    addEntry(s.entries.olderOpen, e);
    removeEntry(s.entries.open, e);
    entryOf(s, e).nFD = -1;
    fileEvent(s, e) = s.entries.events[e].u16Next;
    openEntryFile(s, e, s.run.u64At);
}

void beginEntryFile(void* user, uint32_t e) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    if (!hasEntry(s.entries.pending, e)) return;
    removeEntry(s.entries.pending, e);
    openEntryFile(s, e, s.run.u64At);
}

void writeOlderUnit(void* user, uint32_t e, uint32_t file, const uint8_t* unit, const UnitOrigin& origin) {
    writeToSlot(*static_cast<TS_Splitter*>(user), slotOf(e, file), unit, true, origin);
}

void endOlderFile(void* user, uint32_t e, uint32_t file) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    closeSlot(s, slotOf(e, file));
    bool open = stageIsOpen(s.stages.pChain, slotOf(e, kOlderFile)) || stageIsOpen(s.stages.pChain, slotOf(e, kPriorFile));
    if (!open) removeEntry(s.entries.olderOpen, e);
}

}  // namespace splitting
}  // namespace rivulet
