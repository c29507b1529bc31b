// ts/split: the split of a stream into files by program (the engine, its
// files' PATs, service information and report, the file split and the
// single-program extraction).
//
// The program splitter: one output file per program of a multi-program
// stream. Every file starts each PAT of the input with a rebuilt PAT that
// lists only its program (behind the network entry), and carries, unchanged
// and in input order, the packets of its PMT, PCR, CA PIDs and elementary
// streams, each packet once.
//
// A splitter is a run of its own: it owns its walk, files, tables and names,
// and is fed bytes by its caller (TS_Splitter_Feed) or reads a file
// (TS_ProgramSplitFileWith); any chunking of the same bytes gives the same
// files. It is the router of the run: it decides which split entries (a
// program's entry of the PAT: program, duplicate) each packet goes to, and
// hands it to the stages of those entries' outputs (clean start and event
// cuts, service information, report, files). Entries are as many as the
// PATs name: every per-entry record grows with them, and sets of entries are
// words of 64 bits, so that a packet costs a few word operations whatever
// the number of programs. Its tables (the PAT, the PMTs, the service
// information, the events) are reassembled once, by the run's table decoder,
// for every stage that reads them and for a service watch that follows the
// split (TS_Splitter_Watch).
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "rivulet/file_split.h"
#include "rivulet/split.h"
#include "ts/core/bit_set.h"
#include "ts/core/bounded_count.h"
#include "ts/core/growable.h"
#include "ts/input/input_file.h"
#include "ts/output/output_names.h"
#include "ts/output/output_set.h"
#include "ts/programs/pat_table.h"
#include "ts/programs/program_routes.h"
#include "ts/services/service_watch.h"
#include "ts/split/clean_start.h"
#include "ts/split/file_naming.h"
#include "ts/split/file_sink.h"
#include "ts/split/present_events.h"
#include "ts/split/program_pat.h"
#include "ts/split/report_tap.h"
#include "ts/split/si_carrier.h"
#include "ts/split/split_report.h"
#include "ts/split/splitter.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/section_feed.h"
#include "ts/tables/table_decoder.h"

using namespace rivulet;

namespace {

constexpr int32_t kNoEntry = -1;
constexpr int32_t kNoEvent = -1;
// Each entry has three files: its own, the older one of its cut at an event
// change, and the one before that (the prior), which take packets a while.
constexpr uint32_t kFilesPerEntry = 3;
constexpr uint32_t kOwnFile = 0;
static_assert(kOlderFile == 1 && kPriorFile == 2);

uint32_t slotOf(uint32_t entry, uint32_t file) { return entry * kFilesPerEntry + file; }

// The programs of the current PAT (however many, in several sections: the
// run's table decoder keeps every entry of it).
struct ProgramTable {
    Growable<int32_t> patToEntry;          // split entry of each entry of the current PAT, or kNoEntry
    Growable<uint16_t> duplicates;         // the duplicate index of each entry of the current PAT
    int32_t pidToPATEntry[TS_PID_COUNT];   // first program entry of the current PAT on each PMT PID
    uint64_t pmtPIDs[TS_PID_COUNT / 64];   // PMT PIDs of the programs that have files
    uint64_t streamPIDs[TS_PID_COUNT / 64];  // PIDs a PAT or PMT has named: never service information
    uint16_t lu16Seen[kProgramNumberCount];  // scratch: entries of each program number met so far
    uint16_t u16NetworkPID;                // of the current PAT, for --si
};

// Which programs get files, and what was said of them.
struct Choice {
    uint8_t u8All;
    uint64_t selected[kProgramNumberCount / 64];   // programs that get files
    uint64_t announced[kProgramNumberCount / 64];  // programs a whole PAT has listed
    uint64_t unstarted[kProgramNumberCount / 64];  // programs named for a file that never began
};

// What each split entry's files are of, when cut at events.
struct EntryEvents {
    int32_t nFile;     // event_id the entry's file is of, or kNoEvent
    uint16_t u16Next;  // of the cut the entry awaits
};

// The (program, duplicate) pairs that have had files, and their files' state.
struct Entries {
    Growable<TS_PNSplitEntry> list;
    Growable<int32_t> nextOfProgram;            // the next entry of the same program number, or kNoEntry
    Growable<EntryEvents> events;
    int32_t firstOfProgram[kProgramNumberCount];  // each program number's first entry, or kNoEntry
    EntryBits open;       // entries whose files are open (or, cut cleanly, stand open waiting)
    EntryBits pending;    // entries whose file waits for its start, not yet created
    EntryBits refused;    // entries whose file could not be opened: no file this revision
    EntryBits olderOpen;  // entries whose cut's older (or prior) file still takes packets
    EntryBits listed;     // scratch: entries the PAT being taken lists
    EntryBits carried;    // scratch: entries a PMT packet carries sections of...
    EntryBits routed;     // ...and those its PID was routed to before it
};

// The stages a program's output passes through beyond its file, each null
// or off unless the options ask for it.
struct Stages {
    uint8_t u8ServiceInformation;
    uint8_t u8CleanStart;
    SICarrier si;
    CleanStart* pClean;          // files begin where a decoder can, or are cut
    PresentEvents* pEvents;      // files are cut at event changes
    SplitReportState* pReport;   // the caller asked for a report
    const CutListener* pListener;  // told of events and cuts instead: no file is written
    // The end of every program's output: a report tap when a report is
    // asked for, then the file sink, or the listening sink.
    OutputStage* pChain;
    ReportTap tReportTap;
    FileSink tFileSink;
    ListenSink tListenSink;
    TS_PacketObserver pfObserver;
    void* pObserverUser;
    const uint64_t* pObservedPIDs;
    // A service watch that reads the split's tables (TS_Splitter_Watch), from
    // input offset u64WatchFrom on, and who is told once it has read a packet's.
    TS_ServiceWatch* pWatch;
    uint64_t u64WatchFrom;
    TS_PacketObserver pfWatched;
    void* pWatchedUser;
};

// How the run goes.
struct RunState {
    int32_t status;            // first failure, 0 while all is well
    uint8_t u8Interrupted;
    uint8_t u8ReadFailed;
    uint8_t u8OpenFailed;      // a file could not be opened: the run fails at its end
    uint64_t u64At;            // input offset of the packet being handled...
    const TS_Packet* pHeader;  // ...its header...
    uint8_t u8StreamPID;       // ...whether a PAT or PMT had named its PID when it came (with --si)...
    uint8_t u8ReadsPMT;        // ...whether its PMT sections are read (a PMT PID of a file, or any with --si)...
    uint8_t u8WatchTold;       // ...and whether the watch's caller was told of it
    WrittenFiles* pOwnWritten; // the run's files when no TS_SplitRun is shared
    uint32_t* pFileCount;      // the caller's count of the files created, or null
    LogSink tLog;              // where the run's messages go
};

}  // namespace

struct TS_Splitter {
    PacketWalk walk;
    ProgramTable table;
    Choice choice;
    Entries entries;
    ProgramRoutes routes;   // PID -> split entries
    OutputSet files;        // file f of split entry e at slotOf(e, f)
    FileNaming naming;
    Stages stages;
    RunState run;
    TableDecoder* pTables;  // the run's tables, each section reassembled once
};

namespace {

void fail(TS_Splitter& s, int32_t status) {
    if (s.run.status == 0) s.run.status = status;
}

const PacketFormat& format(const TS_Splitter& s) { return s.walk.tFormat; }
uint32_t entryCount(const TS_Splitter& s) { return s.entries.list.u32Size; }
uint32_t entryWords(const TS_Splitter& s) { return wordsFor(entryCount(s)); }
TS_PNSplitEntry& entryOf(TS_Splitter& s, uint32_t e) { return s.entries.list[e]; }
int32_t& fileEvent(TS_Splitter& s, uint32_t e) { return s.entries.events[e].nFile; }

// --- Output files -----------------------------------------------------------

// A file that cannot be opened fails the run, but not the other programs'
// files: its program goes without one until its next revision. Cut at
// events, it fails its event's file only: the entry goes on as if the file
// were open, taking nothing, so that the next cut opens the next file.
bool openEntryFile(TS_Splitter& s, uint32_t e, uint64_t offset) {
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
    if (s.run.pFileCount) ++*s.run.pFileCount;
    siFileOpened(&s.stages.si, e);
    return true;
}

// Closes file `slot` (an entry's, or the older one of its cut).
void closeSlot(TS_Splitter& s, uint32_t slot) {
    int32_t status = stageClose(s.stages.pChain, slot);
    if (status != 0) fail(s, status);
}

void closeOlderFiles(TS_Splitter& s, uint32_t e) {
    closeSlot(s, slotOf(e, kOlderFile));
    closeSlot(s, slotOf(e, kPriorFile));
    removeEntry(s.entries.olderOpen, e);
}

// A file that never reached its start was never created: its program is
// named once, so that its missing files do not pass unseen (unless the run
// was stopped or failed first).
void dropPendingFile(TS_Splitter& s, uint32_t e) {
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

// Writes an output unit from `origin` to file `slot`, copied unless it is
// of the walk's buffer, and tells the report.
void writeToSlot(TS_Splitter& s, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin& origin) {
    if (stageWrite(s.stages.pChain, slot, unit, copy, origin) != 0) fail(s, TS_ERR_WRITE);
}

// Writes an output unit to the entries of `entries` (bits of entries
// 64 * word on): one of the walk's buffer, or one built or kept here
// (`copy`), which the files copy.
void writeToEntries(TS_Splitter& s, uint64_t entries, uint32_t word, const uint8_t* unit, bool copy,
                    const UnitOrigin& origin) {
    // A chain of the file sink alone, the plain split's, is written to
    // straight: this is the path of almost every packet.
    if (s.stages.pChain == &s.stages.tFileSink.tStage) {
        forEachEntry(entries, word, [&](uint32_t e) {
            if (fileSinkWrite(s.stages.tFileSink, slotOf(e, kOwnFile), unit, copy) != 0) fail(s, TS_ERR_WRITE);
        });
        return;
    }
    forEachEntry(entries, word, [&](uint32_t e) { writeToSlot(s, slotOf(e, kOwnFile), unit, copy, origin); });
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

bool isSelected(const TS_Splitter& s, uint16_t programNumber) {
    return s.choice.u8All || testBit(s.choice.selected, programNumber);
}

// --- PAT --------------------------------------------------------------------

const Growable<TS_PAT_Program>& patPrograms(const TS_Splitter& s) { return tableDecoderPrograms(*s.pTables); }
const TS_PAT& wholePAT(const TS_Splitter& s) { return tableDecoderPAT(*s.pTables); }

int32_t findEntry(const TS_Splitter& s, uint16_t programNumber, uint16_t duplicate) {
    for (int32_t e = s.entries.firstOfProgram[programNumber]; e != kNoEntry; e = s.entries.nextOfProgram[uint32_t(e)]) {
        if (s.entries.list[uint32_t(e)].u16Duplicate == duplicate) return e;
    }
    return kNoEntry;
}

// Room for `count` entries in every record kept per entry; false when
// memory is short.
bool reserveEntries(TS_Splitter& s, uint32_t count) {
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
int32_t createEntry(TS_Splitter& s, uint16_t programNumber, uint16_t duplicate) {
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
void countDuplicates(TS_Splitter& s) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    ProgramTable& table = s.table;
    for (uint32_t i = 0; i < programs.u32Size; ++i) table.duplicates[i] = table.lu16Seen[programs[i].program_number]++;
    for (uint32_t i = 0; i < programs.u32Size; ++i) table.lu16Seen[programs[i].program_number] = 0;
}

// Programs that left the PAT: close their files; their next file (should they
// return) carries the next revision number, and its packets are routed by
// the program's last PMT until a new one arrives.
void closeDepartedPrograms(TS_Splitter& s) {
    for (uint32_t e = 0; e < entryCount(s); ++e) {
        if (hasEntry(s.entries.listed, e)) continue;
        if (hasEntry(s.entries.open, e)) closeEntryFile(s, e);
        removeEntry(s.entries.refused, e);
        ++entryOf(s, e).u64Revision;
    }
}

// The first program entry on each PMT PID, so that a PMT packet finds the
// slot that reassembles its PID with one lookup. Rebuilt at each PAT.
void unmapPMTPIDs(TS_Splitter& s, const Growable<TS_PAT_Program>& programs) {
    for (uint32_t i = 0; i < programs.u32Size; ++i) {
        s.table.pidToPATEntry[programs[i].program_map_PID & (TS_PID_COUNT - 1)] = kNoEntry;
    }
}

bool mapPMTPIDs(TS_Splitter& s, const Growable<TS_PAT_Program>& programs) {
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

const TS_PAT_Program* networkEntry(const Growable<TS_PAT_Program>& programs) {
    for (uint32_t i = 0; i < programs.u32Size; ++i) {
        if (programs[i].program_number == 0) return &programs[i];
    }
    return nullptr;
}

// The entry of PAT entry `i` (a selected program), made if new, with its
// file opened if it has none; kNoEntry when it gets no file now.
int32_t takeProgram(TS_Splitter& s, uint32_t i, uint64_t offset) {
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
void markListed(TS_Splitter& s) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    clearEntries(s.entries.listed);
    for (uint32_t i = 0; i < programs.u32Size; ++i) {
        int32_t e = findEntry(s, programs[i].program_number, s.table.duplicates[i]);
        if (e != kNoEntry) addEntry(s.entries.listed, uint32_t(e));
    }
}

void onPAT(TS_Splitter& s, const uint8_t* completingPacket, const TS_Packet& completing) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    const TS_PAT_Program* network = networkEntry(programs);
    s.table.u16NetworkPID = network ? network->program_map_PID : kNoNetworkPID;
    std::memset(s.table.pmtPIDs, 0, sizeof s.table.pmtPIDs);
    countDuplicates(s);
    markListed(s);
    uint8_t unit[kMaxOutputUnitSize];
    for (uint32_t i = 0; i < programs.u32Size; ++i) {
        const TS_PAT_Program& program = programs[i];
        s.table.patToEntry[i] = kNoEntry;
        // An unselected program needs no entry: its revisions and duplicate
        // indices count the same without one.
        if (program.program_number == 0 || !isSelected(s, program.program_number)) continue;
        int32_t e = takeProgram(s, i, packetOffset(s.walk, completingPacket));
        if (e == kNoEntry) continue;
        s.table.patToEntry[i] = e;
        setBit(s.table.pmtPIDs, program.program_map_PID);
        buildProgramPAT(unit, format(s).u32Prefix, completingPacket, completing, wholePAT(s), network, program);
        if (s.stages.pClean && cleanHoldsPAT(*s.stages.pClean, uint32_t(e), unit, outputUnitSize(format(s)))) continue;
        writeToSlot(s, slotOf(uint32_t(e), kOwnFile), unit, true, kBuiltUnit);
    }
    closeDepartedPrograms(s);
}

// Tells the watch's caller of the packet in hand, once, when the watch has
// read its tables: before the split acts on a PAT, so that the programs a
// choice by name takes get files from it.
void tellWatched(TS_Splitter& s, const uint8_t* packet) {
    const Stages& stages = s.stages;
    if (!stages.pfWatched || s.run.u8WatchTold || s.run.u64At < stages.u64WatchFrom) return;
    s.run.u8WatchTold = 1;
    stages.pfWatched(stages.pWatchedUser, packet, s.run.u64At);
}

void takePAT(void* user, const TableSection& section) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    tellWatched(s, section.pPacket);
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
    onPAT(s, section.pPacket, *s.run.pHeader);
}

// --- PMT --------------------------------------------------------------------

// The PAT entry that owns the sections of `programNumber` on `pid`: the first
// naming both (a PAT may list one program twice on a PID), found from `first`,
// the first entry on the PID. kNoEntry when that entry has no file.
int32_t ownerOfSection(const TS_Splitter& s, int32_t first, uint16_t pid, uint16_t programNumber) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    for (uint32_t i = uint32_t(first); i < programs.u32Size; ++i) {
        const TS_PAT_Program& p = programs[i];
        if (p.program_map_PID != pid || p.program_number != programNumber) continue;
        return s.table.patToEntry[i] == kNoEntry ? kNoEntry : int32_t(i);
    }
    return kNoEntry;
}

void carryToEveryProgramOnPID(TS_Splitter& s, int32_t first, uint16_t pid) {
    const Growable<TS_PAT_Program>& programs = patPrograms(s);
    for (uint32_t i = uint32_t(first); i < programs.u32Size; ++i) {
        bool owns = programs[i].program_map_PID == pid && programs[i].program_number != 0;
        if (owns && s.table.patToEntry[i] != kNoEntry) addEntry(s.entries.carried, uint32_t(s.table.patToEntry[i]));
    }
}

// The PMT section in `slot` completed on `pid`, its first entry on the PID
// being `owner`: routes its program's PIDs.
void onPMTSection(TS_Splitter& s, int32_t owner, uint16_t pid, const TS_PreSection& slot, bool begunEarlier) {
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

// --- Service information ----------------------------------------------------

int32_t programOfEntry(void* user, uint32_t e) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    return hasEntry(s.entries.open, e) ? entryOf(s, e).u16ProgramNumber : -1;
}

int32_t writeSIUnit(void* user, uint32_t e, const uint8_t* unit) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    return stageWrite(s.stages.pChain, slotOf(e, kOwnFile), unit, true, kBuiltUnit);
}

bool keepSIForCleanStart(void* user, uint32_t e, uint16_t pid, const uint8_t* section, uint32_t size) {
    return cleanKeepsSection(*static_cast<TS_Splitter*>(user)->stages.pClean, e, pid, section, size);
}

SITargets siTargets(TS_Splitter& s) {
    return SITargets{entryCount(s), programOfEntry, writeSIUnit, &s, format(s).u32Prefix,
                     s.stages.pClean ? keepSIForCleanStart : nullptr};
}

// Reassembled from the start, like the PAT: what completes before a file is
// open goes nowhere.
void takeSI(void* user, const TableSection& section) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    if (s.run.u8StreamPID) return;
    if (siTakeSection(&s.stages.si, section, siTargets(s)) != 0) fail(s, TS_ERR_WRITE);
}

void takeReportSDT(void* user, const TableSection& section) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    if (s.stages.pReport && wholePAT(s).valid) splitReportTakeSDT(s.stages.pReport, *section.pSlot);
}

// --- Clean starts -----------------------------------------------------------

void writeOpeningUnit(void* user, uint32_t e, const uint8_t* unit, const UnitOrigin& origin) {
    writeToSlot(*static_cast<TS_Splitter*>(user), slotOf(e, kOwnFile), unit, true, origin);
}

void writeOpeningSection(void* user, uint32_t e, uint16_t pid, const uint8_t* prefix, const uint8_t* section,
                         uint32_t size) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    if (siWriteSection(&s.stages.si, siTargets(s), e, pid, prefix, section, size) != 0) fail(s, TS_ERR_WRITE);
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

// Program `program`'s present event is now `event`: each of its files of
// another event is cut at the next start point. A cut still awaited goes to
// the newest event, or is called off when its file is of it; a file still
// waiting for its first start is of the new event.
void onEventChange(TS_Splitter& s, uint16_t program, uint16_t event) {
    for (int32_t at = s.entries.firstOfProgram[program]; at != kNoEntry; at = s.entries.nextOfProgram[uint32_t(at)]) {
        const uint32_t e = uint32_t(at);
        if (!hasEntry(s.entries.open, e)) continue;
        CleanStart& clean = *s.stages.pClean;
        if (cleanFileWaits(clean, e)) {
            fileEvent(s, e) = event;
            continue;
        }
        const bool awaited = cleanCutAwaited(clean, e);
        if (awaited && fileEvent(s, e) == event) {
            cleanCutCancel(clean, e);
        } else if (fileEvent(s, e) != event) {
            s.entries.events[e].u16Next = event;
            if (!awaited) cleanCutBegin(clean, e);
        }
    }
}

void applyEventChange(TS_Splitter& s, const EventChange& change) {
    const CutListener* listener = s.stages.pListener;
    if (listener) listener->announced(listener->pUser, change.u16Program, change.tEvent, s.run.u64At);
    onEventChange(s, change.u16Program, change.tEvent.u16EventId);
}

void takeEventChange(void* user, const EventChange& change) {
    applyEventChange(*static_cast<TS_Splitter*>(user), change);
}

// ATSC's changes, which its sections of a packet bring together.
void followEvents(TS_Splitter& s) {
    const EventChanges changes = presentEventsCollect(*s.stages.pEvents);
    for (uint32_t i = 0; i < changes.u32Count; ++i) applyEventChange(s, changes.ltChange[i]);
}

// What the run reads of its tables, in this order for each section: the
// PAT and PMTs, the events (whose changes come ahead of the EIT the files
// carry), the service information, the report's SDT. False when the
// decoder's subscriptions are full.
bool subscribeTables(TS_Splitter& s) {
    TableDecoder* tables = s.pTables;
    bool all = tableSubscribe(tables, TableKind::PAT, takePAT, &s) == 0 &&
               tableSubscribe(tables, TableKind::PMT, takePMT, &s) == 0;
    if (s.stages.pEvents) {
        all = all && presentEventsSubscribe(*s.stages.pEvents, tables, EventSink{takeEventChange, &s}) == 0;
    }
    for (TableKind kind : kSICarriedKinds) {
        all = all && (!s.stages.u8ServiceInformation || tableSubscribe(tables, kind, takeSI, &s) == 0);
    }
    return all && tableSubscribe(tables, TableKind::SDTActual, takeReportSDT, &s) == 0;
}

// --- Packets ----------------------------------------------------------------

// The entries of word `w` that the packet goes to, before the clean starts
// judge it: by the routes as they were before the packet (a PMT packet's
// own, kept in s.entries.routed, as its section may change them).
uint64_t routedEntries(const TS_Splitter& s, uint32_t w, uint16_t pid, bool pmt, bool copiedSI) {
    uint64_t entries = pmt ? wordOf(s.entries.routed, w) : routesOf(&s.routes, w, pid);
    if (pmt) entries |= wordOf(s.entries.carried, w);
    if (copiedSI) entries |= wordOf(s.entries.open, w);
    return entries;
}

// The path of almost every packet of a plain split (no gate, no report, a
// file sink alone, not a PMT or copied SI packet): each entry's file takes
// it as it is.
bool routesPlainly(const TS_Splitter& s) {
    return !s.stages.pClean && s.stages.pChain == &s.stages.tFileSink.tStage;
}

void writePlainly(TS_Splitter& s, uint16_t pid, const uint8_t* unit) {
    const uint32_t words = s.entries.open.u32Size;  // as many as the entries need
    for (uint32_t w = 0; w < words; ++w) {
        forEachEntry(s.routes.planes.p[w * TS_PID_COUNT + pid], w, [&](uint32_t e) {
            if (fileSinkWrite(s.stages.tFileSink, slotOf(e, kOwnFile), unit, false) != 0) fail(s, TS_ERR_WRITE);
        });
    }
}

// The run's tables take the packet: each section it completes goes to those
// who read it; then the events its ATSC sections bring, and the watch.
SectionFeed feedTables(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    const bool followed = tableDecoderFollows(*s.pTables, header.PID);
    const SectionFeed feed = tableDecoderFeed(s.pTables, packet, header, s.run.u64At);
    if (tableDecoderFailed(*s.pTables)) fail(s, TS_ERR_NO_MEMORY);
    if (s.stages.pEvents) followEvents(s);
    if (followed && s.stages.pWatch && s.run.u64At >= s.stages.u64WatchFrom) {
        watchTablesFed(s.stages.pWatch, packet, header, s.run.u64At);
        tellWatched(s, packet);
    }
    return feed;
}

// Hands a packet of a program PID (or of service information copied to
// every file) to the entries it belongs to. Its sections are read before,
// as the routes they change are taken; those of service information after,
// as the files carry them behind it (its PID copied too: a network PID).
[[gnu::noinline]] void routePacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    const bool si = s.stages.u8ServiceInformation;
    // Only a report counts what arrives.
    const UnitOrigin origin =
        s.stages.pReport ? stageArrived(s.stages.pChain, packet, header, s.run.u64At) : plainOrigin(s.run.u64At);
    const uint32_t words = entryWords(s);
    // With service information, every program's PMT is read, so that the
    // PIDs they name are never taken for service information.
    const bool pmt = s.run.u8ReadsPMT;
    if (pmt) {
        for (uint32_t w = 0; w < words; ++w) s.entries.routed[w] = routesOf(&s.routes, w, header.PID);
    }
    const bool copiedSI = si && !s.run.u8StreamPID && siIsCopiedPID(header.PID, s.table.u16NetworkPID);
    const bool sectionsAfter = copiedSI && siIsSectionPID(header.PID);
    const SectionFeed feed = sectionsAfter ? SectionFeed{} : feedTables(s, packet, header);
    if (pmt) notePMTPacket(s, packet, header, origin, feed);
    CleanStart* clean = s.stages.pClean;
    for (uint32_t w = 0; w < words; ++w) {
        uint64_t entries = routedEntries(s, w, header.PID, pmt, copiedSI);
        if (clean && (entries & cleanUnsettled(*clean, w))) {
            entries = cleanFilter(*clean, packet, header, entries, w, format(s).u32Prefix, origin);
        }
        writeToEntries(s, entries, w, outputUnit(format(s), packet), false, origin);
    }
    if (sectionsAfter) feedTables(s, packet, header);
}

bool onPacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    const Stages& stages = s.stages;
    if (stages.pfObserver && testBit(stages.pObservedPIDs, header.PID)) {
        stages.pfObserver(stages.pObserverUser, packet, packetOffset(s.walk, packet));
    }
    // Where the packet came from, for what keeps packets (clean starts, cuts) or counts them.
    RunState& run = s.run;
    run.u64At = packetOffset(s.walk, packet);
    run.pHeader = &header;
    run.u8WatchTold = 0;
    run.u8StreamPID = stages.u8ServiceInformation && testBit(s.table.streamPIDs, header.PID);
    const bool routed = header.PID != TS_PID_PAT && wholePAT(s).valid;
    const bool pmtPID = testBit(s.table.pmtPIDs, header.PID) ||
                        (stages.u8ServiceInformation && s.table.pidToPATEntry[header.PID] != kNoEntry);
    run.u8ReadsPMT = routed && pmtPID;
    if (routed && !pmtPID && !stages.u8ServiceInformation && routesPlainly(s)) {
        if (tableDecoderFollows(*s.pTables, header.PID)) feedTables(s, packet, header);
        writePlainly(s, header.PID, outputUnit(format(s), packet));
    } else if (routed) {
        routePacket(s, packet, header);
    } else {
        feedTables(s, packet, header);
    }
    return run.status == 0;
}

struct PacketHandler {
    TS_Splitter* s;
    bool operator()(const uint8_t* packet, const TS_Packet& header) const { return onPacket(*s, packet, header); }
};

void resetTable(ProgramTable& table) {
    for (int32_t& i : table.pidToPATEntry) i = kNoEntry;
    std::memset(table.pmtPIDs, 0, sizeof table.pmtPIDs);
    std::memset(table.streamPIDs, 0, sizeof table.streamPIDs);
    std::memset(table.lu16Seen, 0, sizeof table.lu16Seen);
    table.u16NetworkPID = kNoNetworkPID;
}

void resetChoice(Choice& choice, const TS_SplitOptions& options) {
    std::memset(&choice, 0, sizeof choice);
    choice.u8All = options.u32ProgramCount == 0;
    for (uint32_t i = 0; i < options.u32ProgramCount; ++i) setBit(choice.selected, options.lu16Programs[i]);
}

// The stages the options ask for; false when memory is short.
bool setUpStages(TS_Splitter& s, const TS_SplitOptions& options) {
    Stages& stages = s.stages;
    stages.u8ServiceInformation = options.u8ServiceInformation;
    stages.u8CleanStart = options.u8CleanStart;
    CleanTargets targets{&s, writeOpeningUnit, writeOpeningSection, cutEntryFile, writeOlderUnit, endOlderFile,
                         beginEntryFile, 0, s.run.tLog};
    const uint64_t after = options.u8Events ? uint64_t(options.u32MarginAfterMs) * 27000 : 0;
    const uint64_t before = options.u8Events ? uint64_t(options.u32MarginBeforeMs) * 27000 : 0;
    const bool cleanly = options.u8CleanStart || options.u8Events;
    stages.pClean = cleanly ? cleanStartCreate(targets, after, before) : nullptr;
    stages.pEvents = options.u8Events ? new (std::nothrow) PresentEvents : nullptr;
    if (stages.pEvents) presentEventsReset(*stages.pEvents);
    stages.pfObserver = options.pObservedPIDs ? options.pfObserver : nullptr;
    stages.pObserverUser = options.pObserverUser;
    stages.pObservedPIDs = options.pObservedPIDs;
    return (!cleanly || stages.pClean) && (!options.u8Events || stages.pEvents);
}

// The end of every program's output, made anew when a report or a listener
// is set (before the first bytes).
void buildChain(TS_Splitter& s) {
    Stages& stages = s.stages;
    fileSinkInit(&stages.tFileSink, &s.files, &s.naming, &s.walk.tFormat);
    listenSinkInit(&stages.tListenSink, stages.pListener);
    OutputStage* sink = stages.pListener ? &stages.tListenSink.tStage : &stages.tFileSink.tStage;
    reportTapInit(&stages.tReportTap, stages.pReport, &s.walk.tFormat, sink);
    stages.pChain = stages.pReport ? &stages.tReportTap.tStage : sink;
}

// A splitter with nothing seen; false when memory is short.
bool resetSplitter(TS_Splitter& s, const TS_SplitOptions& options) {
    s.run.tLog = LogSink{options.pfLog, options.pLogUser};
    WrittenFiles* written = runFiles(options.pRun);
    if (!written) written = s.run.pOwnWritten = writtenFilesCreate();
    outputSetReset(&s.files, -1, written, s.run.tLog);
    resetTable(s.table);
    resetChoice(s.choice, options);
    for (int32_t& e : s.entries.firstOfProgram) e = kNoEntry;
    s.run.pFileCount = options.pFileCount;
    if (s.run.pFileCount) *s.run.pFileCount = 0;
    s.pTables = tableDecoderCreate(s.run.tLog, true);
    return setUpStages(s, options) && written && s.pTables && subscribeTables(s);
}

// The programs asked for by number that no whole PAT listed.
int32_t reportMissingPrograms(const TS_Splitter& s) {
    if (s.choice.u8All) return 0;
    int32_t status = 0;
    for (uint32_t program = 1; program < kProgramNumberCount; ++program) {  // 0 selects nothing
        if (!testBit(s.choice.selected, program) || testBit(s.choice.announced, program)) continue;
        logMessage(s.run.tLog, TS_LOG_ERROR, "Error: no program %u in %s.\n", program, s.naming.strInput);
        status = TS_ERR_NO_PROGRAM;
    }
    return status;
}

// Cut at events, the programs whose files were never cut for want of an
// event to cut at are named, once each, in ascending order (a program that
// never began a file is named for that instead).
void warnUncutPrograms(TS_Splitter& s) {
    if (!s.stages.pEvents || s.stages.pListener) return;
    for (uint32_t program = 0; program < kProgramNumberCount; ++program) {
        bool uncut = false;
        for (int32_t at = s.entries.firstOfProgram[program]; at != kNoEntry; at = s.entries.nextOfProgram[uint32_t(at)]) {
            uint16_t event = 0;
            uncut = uncut || (!hasEntry(s.entries.pending, uint32_t(at)) &&
                              !presentEventOf(*s.stages.pEvents, uint16_t(program), &event));
        }
        if (!uncut) continue;
        logMessage(s.run.tLog, TS_LOG_WARNING,
                   "Warning: no event information for program %u of %s; its file is not cut.\n", program,
                   s.naming.strInput);
    }
}

// The status of a call that took bytes: the first failure, or the stop.
int32_t feedStatus(const TS_Splitter& s) {
    if (s.run.status != 0) return s.run.status;
    return s.run.u8Interrupted ? TS_ERR_INTERRUPTED : s.run.u8ReadFailed ? TS_ERR_READ : 0;
}

// Reports how the input ended, closes every file; the run's status.
int32_t finishRun(TS_Splitter* splitter, WalkEnd end) {
    TS_Splitter& s = *splitter;
    int32_t status = s.run.status != 0 ? s.run.status : reportWalkEnd(end, s.naming.strInput, s.walk.tStats, s.run.tLog);
    if (status == 0 && s.run.u8OpenFailed) status = TS_ERR_OPEN_OUTPUT;
    if (status == 0 && !wholePAT(s).valid) warnNoPAT(s.naming.strInput, s.run.tLog);
    if (status == 0 && wholePAT(s).valid) status = reportMissingPrograms(s);
    if (status == 0) warnUncutPrograms(s);
    int32_t closed = closeAll(s);
    return status != 0 ? status : closed;
}

}  // namespace

// --- The splitter's interface -----------------------------------------------

TS_Splitter* TS_Splitter_Open(const char* basePath, const TS_SplitOptions* options) {
    return TS_Splitter_OpenWithStatus(basePath, options, nullptr);
}

TS_Splitter* TS_Splitter_OpenWithStatus(const char* basePath, const TS_SplitOptions* options, int32_t* status) {
    int32_t unasked = 0;
    return splitterCreate(basePath, options, status ? status : &unasked);
}

int32_t TS_Splitter_Feed(TS_Splitter* splitter, const uint8_t* bytes, uint64_t size) {
    if (!splitter || (!bytes && size > 0)) return -1;
    TS_Splitter& s = *splitter;
    if (feedStatus(s) != 0) return feedStatus(s);
    WalkStep step = walkFeed(s.walk, bytes, size, PacketHandler{&s});
    if (step == WalkStep::Interrupted) s.run.u8Interrupted = 1;
    walkReportProgress(&s.walk, 0);
    // What arrived is in the files when the call returns, as whole packets.
    outputQueueFlush(&s.files.tQueue);
    return feedStatus(s);
}

int32_t TS_Splitter_FeedFrom(TS_Splitter* splitter, int fd) {
    if (!splitter || fd < 0) return -1;
    TS_Splitter& s = *splitter;
    if (feedStatus(s) != 0) return feedStatus(s);
    s.files.tPlace.inputFD = fd;
    WalkEnd end = walkRead(s.walk, fd, PacketHandler{&s});
    if (end == WalkEnd::Interrupted) s.run.u8Interrupted = 1;
    if (end == WalkEnd::ReadError) s.run.u8ReadFailed = 1;
    outputQueueFlush(&s.files.tQueue);
    return feedStatus(s);
}

int32_t TS_Splitter_Settle(TS_Splitter* splitter) {
    if (!splitter) return -1;
    TS_Splitter& s = *splitter;
    if (feedStatus(s) != 0) return feedStatus(s);
    if (walkJudged(s.walk, true, false, PacketHandler{&s}) == WalkStep::Interrupted) s.run.u8Interrupted = 1;
    outputQueueFlush(&s.files.tQueue);
    return feedStatus(s);
}

uint64_t TS_Splitter_InputEnd(const TS_Splitter* splitter) { return splitter ? splitter->walk.tStats.u64End : 0; }

int32_t TS_Splitter_Close(TS_Splitter* splitter) {
    if (!splitter) return -1;
    int32_t status = splitterClose(splitter);
    splitterDestroy(splitter);
    return status;
}

int32_t TS_Splitter_AddProgram(TS_Splitter* splitter, uint16_t program) {
    if (!splitter || program == 0) return -1;
    splitter->choice.u8All = 0;
    setBit(splitter->choice.selected, program);
    return 0;
}

int32_t TS_Splitter_Watch(TS_Splitter* splitter, TS_ServiceWatch* watch, uint64_t from, TS_PacketObserver pfWatched,
                          void* pUser) {
    if (!splitter || !watch || splitter->stages.pWatch) return -1;
    TableDecoder* tables = splitter->pTables;
    const uint32_t own = tables->u32Subscriptions;
    if (watchSubscribe(watch, tables, from) != 0) return -1;
    tableSubscriptionsAhead(tables, own);
    Stages& stages = splitter->stages;
    stages.pWatch = watch;
    stages.u64WatchFrom = from;
    stages.pfWatched = pfWatched;
    stages.pWatchedUser = pUser;
    return 0;
}

int32_t TS_Splitter_SetFileList(TS_Splitter* splitter, TS_SplitFileList* list) {
    if (!splitter || !list) return -1;
    splitReportDestroy(splitter->stages.pReport);
    splitter->stages.pReport = splitReportCreate(list);
    buildChain(*splitter);
    return splitter->stages.pReport ? 0 : TS_ERR_NO_MEMORY;
}

[[deprecated("use TS_Splitter_SetFileList")]] int32_t TS_Splitter_SetReport(TS_Splitter* splitter,
                                                                            TS_SplitReport* report) {
    if (!splitter || !report) return -1;
    splitReportDestroy(splitter->stages.pReport);
    splitter->stages.pReport = splitReportCreateFixed(report);
    buildChain(*splitter);
    return splitter->stages.pReport ? 0 : TS_ERR_NO_MEMORY;
}

void TS_Splitter_Abandon(TS_Splitter* splitter) {
    if (!splitter) return;
    closeAll(*splitter);
    splitterDestroy(splitter);
}

// --- Within the toolkit -----------------------------------------------------

namespace rivulet {

TS_Splitter* splitterCreate(const char* basePath, const TS_SplitOptions* options, int32_t* status) {
    *status = -1;
    if (!basePath || !options) return nullptr;
    const LogSink log{options->pfLog, options->pLogUser};
    *status = TS_ERR_OPEN_OUTPUT;
    if (options->strOutputDir && !isFolder(options->strOutputDir)) {
        reportFolderFailure(options->strOutputDir, log);
        return nullptr;
    }
    *status = TS_ERR_NAME_TOO_LONG;
    if (!namingFits(basePath, *options, log)) return nullptr;
    *status = TS_ERR_NO_MEMORY;
    TS_Splitter* s = new (std::nothrow) TS_Splitter();
    if (!s) return nullptr;
    bool ready = resetSplitter(*s, *options) && walkOpen(&s->walk, WalkHook{flushQueueHook, &s->files.tQueue});
    if (!ready) {
        splitterDestroy(s);
        return nullptr;
    }
    s->walk.pfProgress = options->pfProgress;
    s->walk.pProgressUser = options->pProgressUser;
    s->walk.pStop = options->pStop;
    namingSetUp(s->naming, basePath, *options);
    buildChain(*s);
    // The file the caller feeds (when the base path names one) is never an output.
    struct stat input;
    if (::stat(basePath, &input) == 0 && S_ISREG(input.st_mode)) {
        writtenFilesAdd(s->files.tPlace.pWritten, input, kFileProtected);
    }
    *status = 0;
    return s;
}

int32_t splitterClose(TS_Splitter* splitter) {
    TS_Splitter& s = *splitter;
    WalkEnd end = WalkEnd::Stopped;
    // A stop asked for while the caller read: what is buffered stays out.
    if (s.run.u8Interrupted || walkStopRequested(s.walk)) {
        s.run.u8Interrupted = 1;
        end = WalkEnd::Interrupted;
    } else if (s.run.u8ReadFailed) {
        end = WalkEnd::ReadError;
    } else if (s.run.status == 0) {
        end = endOf(walkBuffered(s.walk, true, PacketHandler{&s}));
    }
    return finishRun(&s, end);
}

void splitterListen(TS_Splitter* s, const CutListener* listener) {
    s->stages.pListener = listener;
    buildChain(*s);
}

SplitterView splitterView(const TS_Splitter* s) {
    return SplitterView{s->entries.list.p, s->entries.list.u32Size, &tableDecoderPAT(*s->pTables), s->naming.strStem,
                        s->naming.strPath};
}

const TableDecoder& splitterTables(const TS_Splitter* s) { return *s->pTables; }

void splitterDestroy(TS_Splitter* s) {
    splitReportDestroy(s->stages.pReport);
    cleanStartDestroy(s->stages.pClean);
    delete s->stages.pEvents;
    siFree(&s->stages.si);
    writtenFilesDestroy(s->run.pOwnWritten);
    walkClose(&s->walk);
    outputSetFree(&s->files);
    routesFree(&s->routes);
    tableDecoderDestroy(s->pTables);
    Entries& entries = s->entries;
    for (EntryBits* bits : {&entries.open, &entries.pending, &entries.refused, &entries.olderOpen, &entries.listed,
                            &entries.carried, &entries.routed}) {
        release(*bits);
    }
    release(entries.list);
    release(entries.nextOfProgram);
    release(entries.events);
    release(s->table.patToEntry);
    release(s->table.duplicates);
    delete s;
}

}  // namespace rivulet
