// The programs of the run: an entry for each (program, duplicate) pair a
// PAT lists that gets a file, the rebuilt PAT each entry's file begins at,
// and the routes each program's PMT gives its PIDs.
#include <cstring>

#include "ts/core/bit_set.h"
#include "ts/split/program_pat.h"
#include "ts/split/splitter_state.h"

namespace rivulet {
namespace splitting {

static bool isSelected(const TS_Splitter& s, uint16_t programNumber) {
    return (s.choice.u8All || testBit(s.choice.selected, programNumber)) && !testBit(s.choice.dropped, programNumber);
}

// --- PAT --------------------------------------------------------------------

static const Growable<TS_PAT_Program>& patPrograms(const TS_Splitter& s) { return tableDecoderPrograms(*s.pTables); }
static int32_t findEntry(const TS_Splitter& s, uint16_t programNumber, uint16_t duplicate) {
    for (int32_t e = s.entries.firstOfProgram[programNumber]; e != kNoEntry; e = s.entries.nextOfProgram[uint32_t(e)]) {
        if (s.entries.list[uint32_t(e)].u16Duplicate == duplicate) return e;
    }
    return kNoEntry;
}

// Room for `count` entries in every record kept per entry; false when
// memory is short.
static bool reserveEntries(TS_Splitter& s, uint32_t count) {
    Entries& entries = s.entries;
    const uint32_t words = wordsFor(count);
    bool bits = growTo(entries.open, words) && growTo(entries.pending, words) && growTo(entries.refused, words) &&
                growTo(entries.olderOpen, words) && growTo(entries.listed, words) && growTo(entries.carried, words) &&
                growTo(entries.routed, words);
    return bits && growTo(entries.nextOfProgram, count) && growTo(entries.events, count) &&
           routesReserve(&s.routes, count) && siReserve(&s.stages.si, count) &&
           (!s.stages.pClean || cleanReserve(*s.stages.pClean, count));
}

// A new entry, the last of its program number's; kNoEntry, the run failed,
// when memory is short.
static int32_t createEntry(TS_Splitter& s, uint16_t programNumber, uint16_t duplicate) {
    const uint32_t e = entryCount(s);
    if (!reserveEntries(s, e + 1) || !growTo(s.entries.list, e + 1)) {
        logMessage(s.run.tLog, TS_LOG_ERROR, "Error: Out of memory.\n");
        fail(s, TS_ERR_NO_MEMORY);
        return kNoEntry;
    }
    s.entries.list[e] = TS_PNSplitEntry{programNumber, 0, duplicate, 0, -1};
    s.entries.nextOfProgram[e] = kNoEntry;
    int32_t* link = &s.entries.firstOfProgram[programNumber];
    while (*link != kNoEntry) link = &s.entries.nextOfProgram[uint32_t(*link)];
    *link = int32_t(e);
    return int32_t(e);
}

// The duplicate index of every entry of the PAT: how many entries of its
// program number come before it.
static void countDuplicates(TS_Splitter& s) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    ProgramTable& table = s.table;
    for (uint32_t i = 0; i < programs.u32Size; ++i) table.duplicates[i] = table.lu16Seen[programs[i].program_number]++;
    for (uint32_t i = 0; i < programs.u32Size; ++i) table.lu16Seen[programs[i].program_number] = 0;
}

// Programs that left the PAT: close their files; their next file (should they
// return) carries the next revision number, and its packets are routed by
// the program's last PMT until a new one arrives.
static void closeDepartedPrograms(TS_Splitter& s) {
    for (uint32_t e = 0; e < entryCount(s); ++e) {
        if (hasEntry(s.entries.listed, e)) continue;
        if (hasEntry(s.entries.open, e)) closeEntryFile(s, e);
        removeEntry(s.entries.refused, e);
        ++entryOf(s, e).u64Revision;
    }
}

// The first program entry on each PMT PID, so that a PMT packet finds the
// slot that reassembles its PID with one lookup. Rebuilt at each PAT.
static void unmapPMTPIDs(TS_Splitter& s, const Growable<TS_PAT_Program>& programs) {
    for (uint32_t i = 0; i < programs.u32Size; ++i) {
        s.table.pidToPATEntry[programs[i].program_map_PID & (TS_PID_COUNT - 1)] = kNoEntry;
    }
}

static bool mapPMTPIDs(TS_Splitter& s, const Growable<TS_PAT_Program>& programs) {
    ProgramTable& table = s.table;
    const uint32_t count = programs.u32Size;
    if (!growTo(table.patToEntry, count) || !growTo(table.duplicates, count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const TS_PAT_Program& program = programs[i];
        if (program.program_number == 0) continue;
        setBit(table.streamPIDs, program.program_map_PID & (TS_PID_COUNT - 1));
        setBit(s.choice.announced, program.program_number);
        int32_t& first = table.pidToPATEntry[program.program_map_PID & (TS_PID_COUNT - 1)];
        if (first == kNoEntry) first = int32_t(i);
    }
    return true;
}

// The entry of PAT entry `i` (a selected program), made if new, with its
// file opened if it has none; kNoEntry when it gets no file now.
static int32_t takeProgram(TS_Splitter& s, uint32_t i, uint64_t offset) {
    const TS_PAT_Program& program = patPrograms(s)[i];
    int32_t e = findEntry(s, program.program_number, s.table.duplicates[i]);
    if (e == kNoEntry) e = createEntry(s, program.program_number, s.table.duplicates[i]);
    if (e == kNoEntry) return kNoEntry;
    addEntry(s.entries.listed, uint32_t(e));
    entryOf(s, uint32_t(e)).u16PMTPID = program.program_map_PID;
    if (!hasEntry(s.entries.open, uint32_t(e)) && !openFreshFile(s, uint32_t(e), offset)) return kNoEntry;
    return e;
}

// Marks the entries of unselected programs that the PAT lists, so that they
// keep their revision (a program chosen after it had an entry).
static void markListed(TS_Splitter& s) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    clearEntries(s.entries.listed);
    for (uint32_t i = 0; i < programs.u32Size; ++i) {
        int32_t e = findEntry(s, programs[i].program_number, s.table.duplicates[i]);
        if (e != kNoEntry) addEntry(s.entries.listed, uint32_t(e));
    }
}

// PAT entry `i` (a selected program) gets its split entry and file, from
// `offset`, and the file its PAT: of the PAT that `completingPacket` (whose
// header is `completing`) completed.
static void startProgram(TS_Splitter& s, uint32_t i, uint64_t offset, const uint8_t* completingPacket,
                         const TS_Packet& completing, const TS_PAT_Program* network) {
    const TS_PAT_Program& program = patPrograms(s)[i];
    int32_t e = takeProgram(s, i, offset);
    if (e == kNoEntry) return;
    s.table.patToEntry[i] = e;
    setBit(s.table.pmtPIDs, program.program_map_PID);
    uint8_t unit[kMaxOutputUnitSize];
    buildProgramPAT(unit, format(s).u32Prefix, completingPacket, completing, wholePAT(s), network, program);
    if (s.stages.pClean && cleanHoldsPAT(*s.stages.pClean, uint32_t(e), unit, outputUnitSize(format(s)))) return;
    writeToSlot(s, slotOf(uint32_t(e), kOwnFile), unit, true, kBuiltUnit);
}

static void onPAT(TS_Splitter& s, const uint8_t* completingPacket, const TS_Packet& completing) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    const TS_PAT_Program* network = patNetworkEntry(programs.p, programs.u32Size);
    s.table.u16NetworkPID = network ? network->program_map_PID : kNoNetworkPID;
    std::memset(s.table.pmtPIDs, 0, sizeof s.table.pmtPIDs);
    std::memcpy(s.table.lu8PATUnit, outputUnit(format(s), completingPacket), outputUnitSize(format(s)));
    s.table.tPATHeader = completing;
    countDuplicates(s);
    markListed(s);
    for (uint32_t i = 0; i < programs.u32Size; ++i) {
        const TS_PAT_Program& program = programs[i];
        s.table.patToEntry[i] = kNoEntry;
        // An unselected program needs no entry: its revisions and duplicate
        // indices count the same without one.
        if (program.program_number == 0 || !isSelected(s, program.program_number)) continue;
        startProgram(s, i, packetOffset(s.walk, completingPacket), completingPacket, completing, network);
    }
    closeDepartedPrograms(s);
}

// A program held now, which the PAT the split has taken lists: its files
// begin at once, each with its PAT (as the last PAT gave it), from the
// packet in hand when its tables are told, else from the next.
void startProgramAtOnce(TS_Splitter& s, uint16_t program) {
    if (s.run.u8TakingPAT || !wholePAT(s).valid || s.run.status != 0) return;
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    const TS_PAT_Program* network = patNetworkEntry(programs.p, programs.u32Size);
    const uint64_t offset = s.run.u8Telling ? s.run.u64At : s.walk.tStats.u64End;
    const uint8_t* completing = s.table.lu8PATUnit + format(s).u32Prefix;
    for (uint32_t i = 0; i < programs.u32Size; ++i) {
        if (programs[i].program_number != program || s.table.patToEntry[i] != kNoEntry) continue;
        startProgram(s, i, offset, completing, s.table.tPATHeader, network);
    }
}

// The PAT's entries of `program` have no split entry any more: their PMTs
// route nothing.
void forgetProgramEntries(TS_Splitter& s, uint16_t program) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    for (uint32_t i = 0; i < programs.u32Size && i < s.table.patToEntry.u32Size; ++i) {
        if (programs[i].program_number == program) s.table.patToEntry[i] = kNoEntry;
    }
}

void callWatched(TS_Splitter& s, const uint8_t* packet) {
    const Stages& stages = s.stages;
    if (!stages.pfWatched || s.run.u64At < stages.u64WatchFrom) return;
    s.run.u8Telling = 1;
    stages.pfWatched(stages.pWatchedUser, packet, s.run.u64At);
    s.run.u8Telling = 0;
}

// Tells the watch's caller of the packet in hand, once, when the watch has
// read its tables: before the split acts on a PAT, so that the programs a
// choice by name takes get files from it.
void tellWatched(TS_Splitter& s, const uint8_t* packet) {
    if (s.run.u8WatchTold) return;
    s.run.u8WatchTold = 1;
    callWatched(s, packet);
}

void takePAT(void* user, const TableSection& section) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    s.run.u8TakingPAT = 1;
    tellWatched(s, section.pPacket);
    s.run.u8TakingPAT = 0;
    if (s.run.status != 0) return;
    if (tableDecoderFailed(*s.pTables)) {  // said by the decoder
        fail(s, TS_ERR_NO_MEMORY);
        return;
    }
    unmapPMTPIDs(s, tableDecoderPreviousPrograms(*s.pTables));
    if (!mapPMTPIDs(s, patPrograms(s))) {
        logMessage(s.run.tLog, TS_LOG_ERROR, "Error: Out of memory.\n");
        fail(s, TS_ERR_NO_MEMORY);
        return;
    }
    if (s.stages.pReport) splitReportTakePAT(s.stages.pReport, *section.pPAT, section.u64Offset);
    onPAT(s, section.pPacket, *s.run.pHeader);
}

// --- PMT --------------------------------------------------------------------

// The PAT entry that owns the sections of `programNumber` on `pid`: the first
// naming both (a PAT may list one program twice on a PID), found from `first`,
// the first entry on the PID. kNoEntry when that entry has no file.
static int32_t ownerOfSection(const TS_Splitter& s, int32_t first, uint16_t pid, uint16_t programNumber) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    for (uint32_t i = uint32_t(first); i < programs.u32Size; ++i) {
        const TS_PAT_Program& p = programs[i];
        if (p.program_map_PID != pid || p.program_number != programNumber) continue;
        return s.table.patToEntry[i] == kNoEntry ? kNoEntry : int32_t(i);
    }
    return kNoEntry;
}

static void carryToEveryProgramOnPID(TS_Splitter& s, int32_t first, uint16_t pid) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    for (uint32_t i = uint32_t(first); i < programs.u32Size; ++i) {
        bool owns = programs[i].program_map_PID == pid && programs[i].program_number != 0;
        if (owns && s.table.patToEntry[i] != kNoEntry) addEntry(s.entries.carried, uint32_t(s.table.patToEntry[i]));
    }
}

// The PMT section in `slot` completed on `pid`, its first entry on the PID
// being `owner`: routes its program's PIDs.
static void onPMTSection(TS_Splitter& s, int32_t owner, uint16_t pid, const TS_PreSection& slot, bool begunEarlier) {
    if (s.stages.u8ServiceInformation) {
        forEachProgramPID(&slot, [&](uint16_t named) { setBit(s.table.streamPIDs, named); });
    }
    uint16_t programNumber = 0;
    TS_PreSection_TableIdExtension(&slot, &programNumber);
    int32_t i = ownerOfSection(s, owner, pid, programNumber);
    if (i == kNoEntry) return;
    const uint32_t e = uint32_t(s.table.patToEntry[uint32_t(i)]);
    routesSetProgram(&s.routes, e, &slot);
    if (s.stages.pClean) cleanProgramPMT(*s.stages.pClean, e, pid, slot, begunEarlier);
}

void takePMT(void* user, const TableSection& section) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    const int32_t owner = s.table.pidToPATEntry[section.u16PID];
    if (!s.run.u8ReadsPMT || owner == kNoEntry) return;
    if (s.stages.pReport) splitReportTakePMT(s.stages.pReport, section.u16PID, *section.pSlot);
    onPMTSection(s, owner, section.u16PID, *section.pSlot, section.u8BegunEarlier);
}

// A packet of a PMT PID (from `origin`) gave the decoder `feed`:
// s.entries.carried then holds the split entries whose sections it carries
// bytes of.
void notePMTPacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header, const UnitOrigin& origin,
                   const SectionFeed& feed) {
    clearEntries(s.entries.carried);
    int32_t owner = s.table.pidToPATEntry[header.PID];
    if (owner == kNoEntry) return;
    for (uint32_t k = 0; k < feed.u32Extensions; ++k) {
        int32_t i = ownerOfSection(s, owner, header.PID, feed.lu16Extensions[k]);
        if (i != kNoEntry) addEntry(s.entries.carried, uint32_t(s.table.patToEntry[uint32_t(i)]));
    }
    // A section begun in the packet's last bytes, its program not known yet:
    // the packet goes to every program on the PID, so that its own has it.
    if (feed.u8UnknownPending) carryToEveryProgramOnPID(s, owner, header.PID);
    for (uint32_t w = 0; s.stages.pClean && w < entryWords(s); ++w) {
        const uint64_t carried = wordOf(s.entries.carried, w);
        if (carried == 0) continue;
        cleanPMTPacket(*s.stages.pClean, outputUnit(format(s), packet), outputUnitSize(format(s)),
                       header.payload_unit_start_indicator, carried, w, origin);
    }
}

}  // namespace splitting
}  // namespace rivulet
