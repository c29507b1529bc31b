// The splitter's record and what its files share: the router's state (the
// program table, the choice of programs, the entries and their files' state,
// routes, files, names, the stages, the run), and the calls between
// splitter.cpp (packets, service information, events, the interface),
// split_programs.cpp (entries from the PAT, routes from the PMTs) and
// split_files.cpp (each entry's files: opening, writing, cutting, closing).
#ifndef RIVULET_SPLITTER_STATE_H
#define RIVULET_SPLITTER_STATE_H

#include <cstdint>

#include "rivulet/file_split.h"
#include "rivulet/split.h"
#include "ts/core/growable.h"
#include "ts/core/log_sink.h"
#include "ts/output/output_set.h"
#include "ts/output/writer_pool.h"
#include "ts/programs/pat_table.h"
#include "ts/programs/program_routes.h"
#include "ts/services/service_watch.h"
#include "ts/split/clean_start.h"
#include "ts/split/component_stage.h"
#include "ts/split/file_naming.h"
#include "ts/split/file_sink.h"
#include "ts/split/hold_stage.h"
#include "ts/split/present_events.h"
#include "ts/split/report_tap.h"
#include "ts/split/si_carrier.h"
#include "ts/split/split_report.h"
#include "ts/split/splitter.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/packet_walk.h"
#include "ts/tables/table_decoder.h"

namespace rivulet {
struct ReadAhead;
}

namespace rivulet {
namespace splitting {

constexpr int32_t kNoEntry = -1;
constexpr int32_t kNoEvent = -1;
// Each entry has three files: its own, the older one of its cut at an event
// change, and the one before that (the prior), which take packets a while.
constexpr uint32_t kFilesPerEntry = 3;
constexpr uint32_t kOwnFile = 0;
static_assert(kOlderFile == 1 && kPriorFile == 2);

inline uint32_t slotOf(uint32_t entry, uint32_t file) { return entry * kFilesPerEntry + file; }

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
    uint8_t lu8PATUnit[kMaxOutputUnitSize];  // the unit of the packet that completed the current PAT...
    TS_Packet tPATHeader;                  // ...and its header: a program held at once begins with its PAT
};

// Which programs get files, and what was said of them.
struct Choice {
    uint8_t u8All;
    uint64_t selected[kProgramNumberCount / 64];   // programs that get files
    uint64_t announced[kProgramNumberCount / 64];  // programs a whole PAT has listed
    uint64_t unstarted[kProgramNumberCount / 64];  // programs named for a file that never began
    uint64_t dropped[kProgramNumberCount / 64];    // held programs let go: nothing is said of them
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
    uint8_t u8ReportTimed;       // the report reads the TDT and TOT
    TS_Guide* pGuide;            // the caller's guide, gathered through the run's tables
    ComponentStage* pComponents; // files leave streams out (--drop, --audio) or keep one shape (--stable)
    uint8_t u8Gathering;         // a first pass of a stable split: files are only looked at
    ReadAhead* pReadAhead;       // a stable split without shapes gathered: a first pass runs ahead
    const CutListener* pListener;  // told of events and cuts instead: no file is written
    // The end of every program's output: the hold stage (tHold) while
    // programs are held, the component stage when streams are left out, a
    // report tap when a report is asked for, then the file sink, or the
    // listening sink.
    OutputStage* pChain;
    ReportTap tReportTap;
    FileSink tFileSink;
    ListenSink tListenSink;
    NullSink tNullSink;
    TS_PacketObserver pfObserver;
    void* pObserverUser;
    const uint64_t* pObservedPIDs;
    // A service watch that reads the split's tables (TS_Splitter_Watch), from
    // input offset u64WatchFrom on, and who is told once it has read a packet's.
    TS_ServiceWatch* pWatch;
    uint64_t u64WatchFrom;
    TS_PacketObserver pfWatched;
    void* pWatchedUser;
    HoldStage tHold;  // last: its table of programs is large, and seldom read
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
    uint8_t u8WatchTold;       // ...whether the watch's caller was told of it...
    uint8_t u8Telling;         // ...is being told of it, before the split acts on it...
    uint8_t u8TakingPAT;       // ...and of the PAT it completes, which the split takes next
    WrittenFiles* pOwnWritten; // the run's files when no TS_SplitRun is shared
    uint32_t* pFileCount;      // the caller's count of the files created, or null
    LogSink tLog;              // where the run's messages go
};


}  // namespace splitting
}  // namespace rivulet

struct TS_Splitter {
    rivulet::PacketWalk walk;
    rivulet::splitting::ProgramTable table;
    rivulet::splitting::Choice choice;
    rivulet::splitting::Entries entries;
    rivulet::ProgramRoutes routes;   // PID -> split entries
    rivulet::OutputSet files;        // file f of split entry e at slotOf(e, f)
    rivulet::FileNaming naming;
    rivulet::splitting::Stages stages;
    rivulet::splitting::RunState run;
    rivulet::TableDecoder* pTables;  // the run's tables, each section reassembled once
    rivulet::WriterPool* pWriters;   // null: the caller's thread writes the files
};

namespace rivulet {
namespace splitting {

inline void fail(TS_Splitter& s, int32_t status) {
    if (s.run.status == 0) s.run.status = status;
}

inline const PacketFormat& format(const TS_Splitter& s) { return s.walk.tFormat; }
inline uint32_t entryCount(const TS_Splitter& s) { return s.entries.list.u32Size; }
inline uint32_t entryWords(const TS_Splitter& s) { return wordsFor(entryCount(s)); }
inline TS_PNSplitEntry& entryOf(TS_Splitter& s, uint32_t e) { return s.entries.list[e]; }
inline int32_t& fileEvent(TS_Splitter& s, uint32_t e) { return s.entries.events[e].nFile; }

// The chain begins at the hold stage while it holds programs, else behind it.
inline void placeHoldStage(Stages& stages) {
    stages.pChain = holdStageActive(stages.tHold) ? &stages.tHold.tStage : stages.tHold.tStage.pNext;
}

// split_files.cpp
void beginEntryFile(void* user, uint32_t e);
int32_t closeAll(TS_Splitter& s);
void closeProgramFiles(TS_Splitter& s, uint16_t program);
void closeEntryFile(TS_Splitter& s, uint32_t e);
void cutEntryFile(void* user, uint32_t e);
void endOlderFile(void* user, uint32_t e, uint32_t file);
bool openFreshFile(TS_Splitter& s, uint32_t e, uint64_t offset);
void writeOlderUnit(void* user, uint32_t e, uint32_t file, const uint8_t* unit, const UnitOrigin& origin);

// Inline: the path of every packet.
// Writes an output unit from `origin` down the chain to file `slot`, copied
// unless it is of the walk's buffer.
inline void writeToSlot(TS_Splitter& s, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin& origin) {
    if (stageWrite(s.stages.pChain, slot, unit, copy, origin) != 0) fail(s, TS_ERR_WRITE);
}
// Writes an output unit to the entries of `entries` (bits of entries
// 64 * word on): one of the walk's buffer, or one built or kept here
// (`copy`), which the files copy.
inline void writeToEntries(TS_Splitter& s, uint64_t entries, uint32_t word, const uint8_t* unit, bool copy,
                    const UnitOrigin& origin) {
    // A chain of the file sink alone, the plain split's, is written to
    // straight: this is the path of almost every packet.
    if (s.stages.pChain == &s.stages.tFileSink.tStage) {
        forEachEntry(entries, word, [&](uint32_t e) {
            if (fileSinkWrite(s.stages.tFileSink, slotOf(e, kOwnFile), unit, copy) != 0) fail(s, TS_ERR_WRITE);
        });
        return;
    }
    // So is a unit the component stage hands on as it came, when the file sink is next.
    const ComponentStage* components = s.stages.pComponents;
    if (components && s.stages.pChain == &components->tStage && components->tStage.pNext == &s.stages.tFileSink.tStage) {
        const uint16_t pid = pidOfUnit(unit + format(s).u32Prefix);
        forEachEntry(entries, word, [&](uint32_t e) {
            const uint32_t slot = slotOf(e, kOwnFile);
            if (!componentPasses(*components, slot, pid)) return writeToSlot(s, slot, unit, copy, origin);
            if (fileSinkWrite(s.stages.tFileSink, slot, unit, copy) != 0) fail(s, TS_ERR_WRITE);
        });
        return;
    }
    forEachEntry(entries, word, [&](uint32_t e) { writeToSlot(s, slotOf(e, kOwnFile), unit, copy, origin); });
}

// split_programs.cpp
void notePMTPacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header, const UnitOrigin& origin,
                   const SectionFeed& feed);
void takePAT(void* user, const TableSection& section);
void takePMT(void* user, const TableSection& section);
// The watch's caller is told of the packet in hand (the programs it holds
// then begin from it): once when the watch has read its tables
// (tellWatched), or as the holds need (callWatched).
void callWatched(TS_Splitter& s, const uint8_t* packet);
void tellWatched(TS_Splitter& s, const uint8_t* packet);
void startProgramAtOnce(TS_Splitter& s, uint16_t program);
void forgetProgramEntries(TS_Splitter& s, uint16_t program);

// split_holds.cpp
void releaseHeld(TS_Splitter& s, uint16_t program);
void letGoHeld(TS_Splitter& s);
void onHoldAlert(TS_Splitter& s, const uint8_t* packet);
inline const TS_PAT& wholePAT(const TS_Splitter& s) { return tableDecoderPAT(*s.pTables); }

}  // namespace splitting
}  // namespace rivulet

#endif
