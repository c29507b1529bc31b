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
//
// This file routes packets and holds the interface; split_programs.cpp makes
// the entries from each PAT and the routes from each PMT, split_files.cpp
// keeps each entry's files, split_holds.cpp the programs held undecided;
// splitter_state.h is the record they share.
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
#include "ts/output/writer_pool.h"
#include "ts/programs/pat_table.h"
#include "ts/programs/program_routes.h"
#include "ts/services/service_watch.h"
#include "ts/split/clean_start.h"
#include "ts/split/file_naming.h"
#include "ts/split/file_sink.h"
#include "ts/split/present_events.h"
#include "ts/split/program_pat.h"
#include "ts/split/read_ahead.h"
#include "ts/split/report_tap.h"
#include "ts/split/si_carrier.h"
#include "ts/split/split_report.h"
#include "ts/split/splitter.h"
#include "ts/split/splitter_state.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/section_feed.h"
#include "ts/section/dvb_time.h"
#include "ts/section/section_reader.h"
#include "ts/services/event_guide.h"
#include "ts/tables/table_decoder.h"

using namespace rivulet;
using namespace rivulet::splitting;

namespace {

constexpr uint8_t kAdaptationFieldFlag = 0x20;  // of a packet's fourth byte

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

// The broadcast time of a TDT or TOT (its UTC_time, behind the 3-byte
// header), for the drop log's lines.
void takeReportTime(void* user, const TableSection& section) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    constexpr uint32_t kUTCTimeAt = 3;
    ByteReader time = sectionBytes(section.pSlot);
    time.skip(kUTCTimeAt);
    int64_t utc = 0;
    if (s.stages.pReport && utcOfTime(time.current(), time.remaining(), &utc)) {
        splitReportTakeTime(s.stages.pReport, utc);
    }
}

// The report's clock of broadcast time, subscribed once.
bool subscribeReportTime(TS_Splitter& s) {
    if (s.stages.u8ReportTimed) return true;
    s.stages.u8ReportTimed = 1;
    return tableSubscribe(s.pTables, TableKind::TDT, takeReportTime, &s) == 0 &&
           tableSubscribe(s.pTables, TableKind::TOT, takeReportTime, &s) == 0;
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
    if (!presentEventsWaiting(*s.stages.pEvents)) return;
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

// The entries of word `w` that a packet of a table PID goes to, before the
// clean starts judge it: by the routes as they were before the packet (a
// PMT packet's own, kept in s.entries.routed, as its section may change
// them).
uint64_t routedEntries(const TS_Splitter& s, uint32_t w, uint16_t pid, bool pmt, bool copiedSI) {
    uint64_t entries = pmt ? wordOf(s.entries.routed, w) : routesOf(&s.routes, w, pid);
    if (pmt) entries |= wordOf(s.entries.carried, w);
    if (copiedSI) entries |= wordOf(s.entries.open, w);
    return entries;
}

// Whether the PMT sections of `pid` are read: a PMT PID of a file, or, with
// service information, of any program (so that the PIDs they name are never
// taken for service information).
bool readsPMT(const TS_Splitter& s, uint16_t pid) {
    return testBit(s.table.pmtPIDs, pid) ||
           (s.stages.u8ServiceInformation && s.table.pidToPATEntry[pid] != kNoEntry);
}

// Service information copied to every file as it is (a PAT or PMT never
// named its PID).
bool copiesSI(const TS_Splitter& s, uint16_t pid) {
    return s.stages.u8ServiceInformation && !testBit(s.table.streamPIDs, pid) &&
           siIsCopiedPID(pid, s.table.u16NetworkPID);
}

// Whether a packet of `pid` takes the route of tables: its sections are
// read, or it is copied service information. Every other packet is of a
// program's streams.
bool carriesTables(const TS_Splitter& s, uint16_t pid) {
    return tableDecoderFollows(*s.pTables, pid) || readsPMT(s, pid) || copiesSI(s, pid);
}

// What the tables' readers know of the packet they are fed.
void enterTables(TS_Splitter& s, const TS_Packet& header, bool pmt) {
    RunState& run = s.run;
    run.pHeader = &header;
    run.u8WatchTold = 0;
    run.u8StreamPID = s.stages.u8ServiceInformation && testBit(s.table.streamPIDs, header.PID);
    run.u8ReadsPMT = pmt;
}

// The run's tables take the packet: each section it completes goes to those
// who read it; then the events its ATSC sections bring, and the watch.
SectionFeed feedTables(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    // A packet of a PID no table is on brings no section, no event, nothing
    // the watch reads.
    if (!tableDecoderFollows(*s.pTables, header.PID)) return SectionFeed{};
    const SectionFeed feed = tableDecoderFeed(s.pTables, packet, header, s.run.u64At);
    if (tableDecoderFailed(*s.pTables)) fail(s, TS_ERR_NO_MEMORY);
    if (s.stages.pEvents) followEvents(s);
    if (s.stages.pWatch && s.run.u64At >= s.stages.u64WatchFrom) {
        watchTablesFed(s.stages.pWatch, s.run.u64At);
        tellWatched(s, packet);
    }
    return feed;
}

// Only a report counts what arrives.
UnitOrigin arrived(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    if (!s.stages.pReport) return plainOrigin(s.run.u64At);
    return stageArrived(s.stages.pChain, packet, header, s.run.u64At);
}

// A first pass that gathers shapes, when no file waits for an access point:
// its files begin and end where the tables say, so a stream packet is
// skipped once its observer has seen it (nothing watches or holds the first
// pass's own splitter).
bool skippedByFirstPass(const TS_Splitter& s, uint16_t pid) {
    return s.stages.u8Gathering && !s.stages.pClean && pid != TS_PID_PAT && wholePAT(s).valid &&
           !carriesTables(s, pid);
}

// The path of almost every packet of a plain split (no gate, no report, a
// file sink alone): each entry's file takes it as it is.
bool routesPlainly(const TS_Splitter& s) {
    return !s.stages.pClean && s.stages.pChain == &s.stages.tFileSink.tStage;
}

// The path of almost every packet of a split with a report alone: the
// report's tap and the file sink, called here rather than down the chain.
bool routesReported(const TS_Splitter& s) {
    const Stages& stages = s.stages;
    return !stages.pClean && stages.pChain == &stages.tReportTap.tStage &&
           stages.tReportTap.tStage.pNext == &stages.tFileSink.tStage;
}

void writeReported(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    const PacketFormat& format = s.walk.tFormat;
    const PacketFlags flags = readPacketFlags(packet);
    const UnitOrigin origin = splitReportArrivedFlags(s.stages.pReport, flags, s.run.u64At);
    const uint8_t* unit = outputUnit(format, packet);
    const uint32_t words = routesWords(&s.routes);
    for (uint32_t w = 0; w < words; ++w) {
        forEachEntry(s.routes.planes.p[w * TS_PID_COUNT + header.PID], w, [&](uint32_t e) {
            const uint32_t slot = slotOf(e, kOwnFile);
            if (fileSinkWrite(s.stages.tFileSink, slot, unit, false) != 0) fail(s, TS_ERR_WRITE);
            splitReportTookFlags(s.stages.pReport, slot, flags, format.u32Size, origin);
        });
    }
}

void writePlainly(TS_Splitter& s, uint16_t pid, const uint8_t* unit) {
    const uint32_t words = routesWords(&s.routes);
    for (uint32_t w = 0; w < words; ++w) {
        forEachEntry(s.routes.planes.p[w * TS_PID_COUNT + pid], w, [&](uint32_t e) {
            if (fileSinkWrite(s.stages.tFileSink, slotOf(e, kOwnFile), unit, false) != 0) fail(s, TS_ERR_WRITE);
        });
    }
}

// A packet of a program's streams, with stages on the way: to the entries
// its PID is routed to, judged by the clean starts that still judge them,
// then down the chain.
void routeStreamPacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    const UnitOrigin origin = arrived(s, packet, header);
    const uint8_t* unit = outputUnit(format(s), packet);
    CleanStart* clean = s.stages.pClean;
    const uint32_t words = routesWords(&s.routes);
    for (uint32_t w = 0; w < words; ++w) {
        uint64_t entries = s.routes.planes.p[w * TS_PID_COUNT + header.PID];
        if (!entries) continue;
        if (clean && (entries & cleanUnsettled(*clean, w))) {
            entries = cleanFilter(*clean, packet, header, entries, w, format(s).u32Prefix, origin);
        }
        writeToEntries(s, entries, w, unit, false, origin);
    }
}

// Hands a packet of a table PID (or of service information copied to every
// file) to the entries it belongs to. Its sections are read before, as the
// routes they change are taken; those of service information after, as the
// files carry them behind it (its PID copied too: a network PID).
[[gnu::noinline]] void routeTablePacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    const bool pmt = readsPMT(s, header.PID);
    enterTables(s, header, pmt);
    const UnitOrigin origin = arrived(s, packet, header);
    const uint32_t words = entryWords(s);
    if (pmt) {
        for (uint32_t w = 0; w < words; ++w) s.entries.routed[w] = routesOf(&s.routes, w, header.PID);
    }
    const bool copiedSI = copiesSI(s, header.PID);
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

// Packets before the first whole PAT, and the PAT's own, are routed to no
// file: only their tables are read (the rebuilt PATs are written as each
// PAT is taken).
bool onPacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    const Stages& stages = s.stages;
    if (stages.pfObserver && testBit(stages.pObservedPIDs, header.PID)) {
        stages.pfObserver(stages.pObserverUser, packet, packetOffset(s.walk, packet));
    }
    if (skippedByFirstPass(s, header.PID)) return true;
    // Where the packet came from, for what keeps packets (clean starts, cuts) or counts them.
    s.run.u64At = packetOffset(s.walk, packet);
    // A watch's clock, by which its caller times the holds.
    const bool ticked = stages.pWatch && (packet[3] & kAdaptationFieldFlag) && s.run.u64At >= stages.u64WatchFrom &&
                        watchFollowClock(stages.pWatch, packet, header.PID);
    if (header.PID == TS_PID_PAT || !wholePAT(s).valid) {
        enterTables(s, header, false);
        feedTables(s, packet, header);
    } else if (carriesTables(s, header.PID)) {
        routeTablePacket(s, packet, header);
    } else if (routesPlainly(s)) {
        writePlainly(s, header.PID, outputUnit(format(s), packet));
    } else if (routesReported(s)) {
        writeReported(s, packet, header);
    } else {
        routeStreamPacket(s, packet, header);
    }
    if (s.stages.tHold.u8Alert) onHoldAlert(s, packet);
    // While programs are held, their caller is told as the stream's time passes.
    if (ticked && holdStageActive(s.stages.tHold)) callWatched(s, packet);
    return s.run.status == 0;
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
    ComponentChoice choice;
    readComponentChoice(options.u32DropComponents, options.strAudio, s.run.tLog, &choice);  // read when opened
    const bool choosing = choosesComponents(choice) || options.u8Stable;
    if (choosing) {
        stages.pComponents = componentStageCreate(choice, options.u8Stable, options.pStreamShapes, &s.walk.tFormat,
                                                  s.run.tLog, nullptr);
    }
    stages.u8Gathering = options.u8Stable && options.pStreamShapes && options.pStreamShapes->u8Gathering;
    return (!cleanly || stages.pClean) && (!options.u8Events || stages.pEvents) && (!choosing || stages.pComponents);
}

// The end of every program's output, made anew when a report or a listener
// is set (before the first bytes); the hold stage comes and goes in front.
void buildChain(TS_Splitter& s) {
    Stages& stages = s.stages;
    fileSinkInit(&stages.tFileSink, &s.files, &s.naming, &s.walk.tFormat);
    listenSinkInit(&stages.tListenSink, stages.pListener);
    nullSinkInit(&stages.tNullSink);
    OutputStage* sink = stages.pListener ? &stages.tListenSink.tStage : &stages.tFileSink.tStage;
    if (stages.u8Gathering) sink = &stages.tNullSink.tStage;
    reportTapInit(&stages.tReportTap, stages.pReport, &s.walk.tFormat, sink);
    OutputStage* next = stages.pReport ? &stages.tReportTap.tStage : sink;
    if (stages.pComponents) {
        stages.pComponents->tStage.pNext = next;
        next = &stages.pComponents->tStage;
    }
    stages.tHold.tStage.pNext = next;
    placeHoldStage(stages);
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
    holdStageInit(&s.stages.tHold, &s.entries.list, kFilesPerEntry, &s.walk.tFormat, TS_SPLIT_HELD_MAX_BYTES);
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
        if (testBit(s.choice.dropped, program)) continue;
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

// Writer threads write each block while the walk reads the next into its
// other buffer.
bool startWriters(TS_Splitter& s, uint32_t threads) {
    s.pWriters = new (std::nothrow) WriterPool;
    if (!s.pWriters || !writerPoolInit(s.pWriters, threads) || !walkAlternate(&s.walk)) {
        delete s.pWriters;
        s.pWriters = nullptr;
        return false;
    }
    s.files.tQueue.pPool = s.pWriters;
    s.walk.tBeforeMove = WalkHook{handOffQueueHook, &s.files.tQueue};
    return true;
}

// What arrived is in the files when a call returns, as whole packets; a
// write that failed is the call's status.
void flushFed(TS_Splitter& s) {
    if (outputQueueFlush(&s.files.tQueue) != 0) fail(s, TS_ERR_WRITE);
}

// The status of a call that took bytes: the first failure, or the stop.
int32_t feedStatus(const TS_Splitter& s) {
    if (s.run.status != 0) return s.run.status;
    return s.run.u8Interrupted ? TS_ERR_INTERRUPTED : s.run.u8ReadFailed ? TS_ERR_READ : 0;
}

// Hands the walk bytes fed (or let go of by the read-ahead); false once the split stops.
bool feedWalk(void* user, const uint8_t* bytes, uint64_t size) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    if (walkFeed(s.walk, bytes, size, PacketHandler{&s}) == WalkStep::Interrupted) s.run.u8Interrupted = 1;
    return feedStatus(s) == 0;
}

// Reports how the input ended, closes every file; the run's status. What is
// still held goes first: the caller had to decide.
int32_t finishRun(TS_Splitter* splitter, WalkEnd end) {
    TS_Splitter& s = *splitter;
    letGoHeld(s);
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
    if (s.stages.pReadAhead) {
        readAheadTake(*s.stages.pReadAhead, bytes, size);
    } else {
        feedWalk(&s, bytes, size);
    }
    walkReportProgress(&s.walk, 0);
    flushFed(s);
    return feedStatus(s);
}

int32_t TS_Splitter_FeedFrom(TS_Splitter* splitter, int fd) {
    if (!splitter || fd < 0) return -1;
    TS_Splitter& s = *splitter;
    if (feedStatus(s) != 0) return feedStatus(s);
    s.files.tPlace.inputFD = fd;
    ReadAhead* ahead = s.stages.pReadAhead;
    WalkEnd end = ahead ? readAheadRead(*ahead, s.walk, fd) : walkRead(s.walk, fd, PacketHandler{&s});
    if (end == WalkEnd::Interrupted) s.run.u8Interrupted = 1;
    if (end == WalkEnd::ReadError) s.run.u8ReadFailed = 1;
    flushFed(s);
    return feedStatus(s);
}

int32_t TS_Splitter_Settle(TS_Splitter* splitter) {
    if (!splitter) return -1;
    TS_Splitter& s = *splitter;
    if (feedStatus(s) != 0) return feedStatus(s);
    if (s.stages.pReadAhead) readAheadSettle(*s.stages.pReadAhead);
    if (walkJudged(s.walk, true, false, PacketHandler{&s}) == WalkStep::Interrupted) s.run.u8Interrupted = 1;
    flushFed(s);
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
    clearBit(splitter->choice.dropped, program);
    if (holdsProgram(splitter->stages.tHold, program)) releaseHeld(*splitter, program);
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
    if (!splitter->stages.pReport || !subscribeReportTime(*splitter)) return TS_ERR_NO_MEMORY;
    return 0;
}

int32_t TS_Splitter_SetGuide(TS_Splitter* splitter, TS_Guide* guide) {
    if (!splitter || !guide) return -1;
    if (guideSubscribe(guide, splitter->pTables, false) != 0) return TS_ERR_NO_MEMORY;
    splitter->stages.pGuide = guide;
    return 0;
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
    letGoHeld(*splitter);
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
    *status = TS_ERR_BAD_OPTION;
    ComponentChoice components;
    if (!readComponentChoice(options->u32DropComponents, options->strAudio, log, &components)) return nullptr;
    *status = TS_ERR_NO_MEMORY;
    TS_Splitter* s = new (std::nothrow) TS_Splitter();
    if (!s) return nullptr;
    // Live input to a stable split: a first pass runs ahead of it, and its shapes are the split's.
    TS_SplitOptions withShapes = *options;
    if (options->u8Stable && !options->pStreamShapes) {
        s->stages.pReadAhead = readAheadCreate(basePath, *options, feedWalk, s);
        withShapes.pStreamShapes = s->stages.pReadAhead ? s->stages.pReadAhead->pShapes : nullptr;
    }
    bool ready = (!options->u8Stable || withShapes.pStreamShapes) && resetSplitter(*s, withShapes) &&
                 walkOpen(&s->walk, WalkHook{flushQueueHook, &s->files.tQueue});
    if (!ready) {
        splitterDestroy(s);
        return nullptr;
    }
    if (options->u32WriterThreads > 1 && !startWriters(*s, options->u32WriterThreads)) {
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
        // Input read ahead of the split: what is still ahead goes to it first.
        if (s.stages.pReadAhead) readAheadDrain(*s.stages.pReadAhead);
        if (s.run.u8Interrupted) end = WalkEnd::Interrupted;
        if (!s.run.u8Interrupted && s.run.status == 0) end = endOf(walkBuffered(s.walk, true, PacketHandler{&s}));
    }
    const int32_t status = finishRun(&s, end);
    guideFinish(s.stages.pGuide);  // its events in order, as TS_ReadGuide leaves them
    return status;
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

TableDecoder* splitterTableDecoder(TS_Splitter* s) { return s->pTables; }

void splitterDestroy(TS_Splitter* s) {
    if (s->pWriters) writerPoolFree(s->pWriters);
    delete s->pWriters;
    readAheadDestroy(s->stages.pReadAhead);
    holdStageFree(&s->stages.tHold);
    splitReportDestroy(s->stages.pReport);
    cleanStartDestroy(s->stages.pClean);
    componentStageDestroy(s->stages.pComponents);
    nullSinkFree(&s->stages.tNullSink);
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
