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
// files.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "rivulet/ts.h"
#include "ts/core/bit_set.h"
#include "ts/core/bounded_count.h"
#include "ts/input/input_file.h"
#include "ts/output/output_names.h"
#include "ts/output/output_set.h"
#include "ts/programs/pat_table.h"
#include "ts/programs/program_routes.h"
#include "ts/split/clean_start.h"
#include "ts/split/present_events.h"
#include "ts/split/program_pat.h"
#include "ts/split/si_carrier.h"
#include "ts/split/split_report.h"
#include "ts/split/splitter.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

namespace {

constexpr int16_t kNoEntry = -1;
// "_%d_%d_%llu_%u-N.m2ts" with its numbers at their longest.
constexpr size_t kLongestSuffix = sizeof("_65535_65535_18446744073709551615_65535-65536.m2ts") - 1;
constexpr uint32_t kMaxTwins = 65536;  // files of a run that one name is asked for
constexpr uint32_t kTwinSlots = 1024;  // names whose next free number a splitter remembers
// The older file of entry e's cut at an event change is file e + kOlder,
// the prior one e + 2 * kOlder.
constexpr uint32_t kOlder = TS_SPLIT_MAX_ENTRIES;
static_assert(3 * TS_SPLIT_MAX_ENTRIES <= kMaxOutputs && 3 * TS_SPLIT_MAX_ENTRIES <= kReportSlots);
constexpr int32_t kNoEvent = -1;

// The next number to try for a name, so that the thousandth file of one name
// does not try the 999 before it (by a hash of the name; a clash only costs
// tries, since every number is checked).
struct TwinMemo {
    uint64_t u64Name;
    uint32_t u32Next;
};


}  // namespace

struct TS_Splitter {
    PacketWalk walk;
    OutputSet files;                           // file of split entry e
    ProgramRoutes routes;                      // PID -> split entries
    PATTable pat;                              // the PAT's sections, gathered; the last whole PAT
    TS_PNSplitData entries;                    // (program, duplicate) pairs that have had files
    TS_PreSection pmtSlots[TS_PAT_MAX_PROGRAMS];  // PMT reassembly, by position in the PAT
    uint16_t u16SlotsReady;                    // slots from this index on are not yet initialised
    int16_t patToEntry[TS_PAT_MAX_PROGRAMS];   // split entry of each entry of the current PAT
    int16_t pidToPATEntry[TS_PID_COUNT];       // first program entry of the current PAT on each PMT PID
    uint64_t pmtPIDs[TS_PID_COUNT / 64];       // PMT PIDs of the programs that have files
    uint64_t streamPIDs[TS_PID_COUNT / 64];    // PIDs a PAT or PMT has named: never service information
    uint64_t selected[kProgramNumberCount / 64];   // programs that get files
    uint64_t warnedPrograms[kProgramNumberCount / 64];
    uint64_t unstarted[kProgramNumberCount / 64];  // programs named for a file that never began
    uint64_t announced[kProgramNumberCount / 64];  // programs a whole PAT has listed
    uint8_t u8SelectAll;
    uint8_t u8ServiceInformation;
    uint64_t u64OpenEntries;                   // entries whose files are open
    uint16_t u16NetworkPID;                    // of the current PAT, for --si
    SICarrier si;
    WrittenFiles* pOwnWritten;                 // the run's files when no TS_SplitRun is shared
    int32_t status;                            // first failure, 0 while all is well
    uint8_t u8Interrupted;
    uint8_t u8ReadFailed;
    uint8_t u8OpenFailed;                      // a file could not be opened: the run fails at its end
    char strInput[kShownPathSize];             // the input as messages name it
    char strStem[TS_NAME_BUFFER_SIZE];         // the folder and base of every default output name
    uint32_t u32FolderLength;                  // bytes of strStem up to its last '/'
    TS_OutputNamer pfNamer;
    void* pNamerUser;
    TS_PacketObserver pfObserver;
    void* pObserverUser;
    const uint64_t* pObservedPIDs;
    char strPath[TS_NAME_BUFFER_SIZE];         // the output path last formed
    TwinMemo ltTwin[kTwinSlots];
    uint64_t u64RefusedEntries;                // entries whose file could not be opened: no file this revision
    SplitReportState* pReport;                 // null unless the caller asked for a report
    CleanStart* pClean;                        // null unless files begin where a decoder can, or are cut
    uint8_t u8CleanStart;                      // files begin where a decoder can
    PresentEvents* pEvents;                    // null unless files are cut at event changes
    int32_t lnFileEvent[TS_SPLIT_MAX_ENTRIES]; // event_id each entry's file is of, or kNoEvent
    uint16_t lu16NextEvent[TS_SPLIT_MAX_ENTRIES];  // of the cut an entry awaits
    uint64_t u64OlderOpen;                     // entries whose cut's older file still takes packets
    uint64_t u64Pending;                       // entries whose file waits for its start, not yet created
    uint64_t u64At;                            // input offset of the packet being handled (with pClean or pReport)
    const CutListener* pListener;              // null; else told of events and cuts, and no file is written
    uint32_t* pFileCount;                      // the caller's count of the files created, or null
    LogSink tLog;                              // where the run's messages go
};

namespace {

void fail(TS_Splitter& s, int32_t status) {
    if (s.status == 0) s.status = status;
}

const PacketFormat& format(const TS_Splitter& s) { return s.walk.tFormat; }

// --- Output files -----------------------------------------------------------

// Whether `path` is taken for this run: a file the run has written, and,
// for a name a namer chose, also an input (which a default name never is
// but by a user's choice, which the open then refuses).
bool takenForRun(const TS_Splitter& s, const char* path, bool named) {
    struct stat st, input;
    const WrittenFiles* written = s.files.tPlace.pWritten;
    if (::stat(path, &st) != 0) return false;
    bool isInput = s.files.tPlace.inputFD >= 0 && ::fstat(s.files.tPlace.inputFD, &input) == 0 &&
                   input.st_dev == st.st_dev && input.st_ino == st.st_ino;
    if (named && isInput) return true;
    return written && (named ? writtenFilesHas(written, st) : writtenFilesWrote(written, st));
}

uint64_t nameHash(const char* text) {
    uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
    for (; *text; ++text) hash = (hash ^ uint8_t(*text)) * 0x100000001B3ull;
    return hash;
}

TwinMemo& twinMemo(TS_Splitter& s, uint64_t name) {
    TwinMemo& memo = s.ltTwin[name % kTwinSlots];
    if (memo.u64Name != name) memo = TwinMemo{name, 1};
    return memo;
}

// Forms s.strPath from `name` and `suffix` behind the folder part of the
// output stem: "<name><suffix>.ext", or with "-2", "-3", ... before the
// extension when the name is taken for the run; with `cut`, the name is cut
// to fit TS_FILE_NAME_MAX bytes with them (and comes from a namer). False
// when it does not fit.
bool formUniquePath(TS_Splitter& s, const char* name, const char* suffix, bool cut) {
    const char* extension = outputExtension(format(s));
    char stem[TS_FILE_NAME_MAX + 1];
    char whole[TS_FILE_NAME_MAX * 2 + 1];
    std::snprintf(whole, sizeof whole, "%s%s", name, suffix);
    TwinMemo& memo = twinMemo(s, nameHash(whole));
    for (uint32_t twin = memo.u32Next; twin <= kMaxTwins; ++twin) {
        char number[16] = "";
        if (twin > 1) std::snprintf(number, sizeof number, "-%u", twin);
        if (cut) {
            std::snprintf(stem, sizeof stem, "%s", name);
            cutName(stem, TS_FILE_NAME_MAX - std::strlen(number) - 1 - std::strlen(extension));
        }
        int length = std::snprintf(s.strPath, sizeof s.strPath, "%.*s%s%s%s.%s", int(s.u32FolderLength),
                                   s.strStem, cut ? stem : name, suffix, number, extension);
        if (length < 0 || size_t(length) >= sizeof s.strPath) return false;
        memo.u32Next = twin;
        if (!takenForRun(s, s.strPath, cut)) return true;
    }
    return true;  // the open refuses it
}

// The name of entry e's next file: the namer's, made safe, or the default.
bool formEntryPath(TS_Splitter& s, uint16_t e, uint64_t offset) {
    const TS_PNSplitEntry& entry = s.entries.ltEntry[e];
    char name[TS_FILE_NAME_MAX + 1];
    const char* base = s.strStem + s.u32FolderLength;
    const int32_t event = s.lnFileEvent[e];
    TS_OutputNameRequest request{entry.u16ProgramNumber, entry.u16Duplicate, entry.u64Revision, offset, base,
                                 uint8_t(event != kNoEvent), uint16_t(event != kNoEvent ? event : 0)};
    if (s.pfNamer && s.pfNamer(s.pNamerUser, &request, name, sizeof name) == 0) {
        name[TS_FILE_NAME_MAX] = '\0';
        safeFileName(name);
        return formUniquePath(s, name, "", true);
    }
    char suffix[kLongestSuffix + 1];
    int length = std::snprintf(suffix, sizeof suffix, "_%d_%d_%llu", entry.u16ProgramNumber, entry.u16Duplicate,
                               static_cast<unsigned long long>(entry.u64Revision));
    // The stretch before the program's first event is "_none", so that it
    // cannot be taken for event 0.
    if (s.pEvents && event != kNoEvent) std::snprintf(suffix + length, sizeof suffix - size_t(length), "_%d", event);
    if (s.pEvents && event == kNoEvent) std::snprintf(suffix + length, sizeof suffix - size_t(length), "_none");
    return formUniquePath(s, base, suffix, false);
}

// A file that cannot be opened fails the run, but not the other programs'
// files: its program goes without one until its next revision. Cut at
// events, it fails its event's file only: the entry goes on as if the file
// were open, taking nothing, so that the next cut opens the next file.
bool openEntryFile(TS_Splitter& s, uint16_t e, uint64_t offset) {
    TS_PNSplitEntry& entry = s.entries.ltEntry[e];
    if (s.pListener) {
        s.u64OpenEntries |= uint64_t(1) << e;
        s.pListener->opened(s.pListener->pUser, entry.u16ProgramNumber, entry.u16Duplicate, s.lnFileEvent[e], offset);
        return true;
    }
    if ((s.u64RefusedEntries >> e) & 1) return false;
    bool fits = formEntryPath(s, e, offset);
    if (!outputSetOpen(&s.files, e, fits ? s.strPath : nullptr, s.strPath, outputUnitSize(format(s)))) {
        s.u8OpenFailed = 1;
        if (!s.pEvents) {
            s.u64RefusedEntries |= uint64_t(1) << e;
            return false;
        }
    }
    entry.nFD = s.files.ltFile[e].nFD;
    s.u64OpenEntries |= uint64_t(1) << e;
    if (entry.nFD < 0) return true;
    if (s.pFileCount) ++*s.pFileCount;
    siFileOpened(&s.si, e);
    if (s.pReport) splitReportOpened(s.pReport, e, s.strPath, entry, offset, s.pEvents != nullptr, s.lnFileEvent[e]);
    return true;
}

// Closes file `slot` (an entry's, or the older one of its cut).
void closeSlot(TS_Splitter& s, uint32_t slot) {
    if (!outputSetIsOpen(&s.files, slot)) return;
    int32_t status = outputClose(&s.files.ltFile[slot]);
    if (status != 0) fail(s, status);
    if (s.pReport) splitReportClosed(s.pReport, slot, s.files.ltFile[slot].u64Written, outputUnitSize(format(s)));
}

void closeOlderFiles(TS_Splitter& s, uint32_t e) {
    closeSlot(s, e + kOlder);
    closeSlot(s, e + kPriorFile * kOlder);
    s.u64OlderOpen &= ~(uint64_t(1) << e);
}

// A file that never reached its start was never created: its program is
// named once, so that its missing files do not pass unseen (unless the run
// was stopped or failed first).
void dropPendingFile(TS_Splitter& s, uint32_t e) {
    if (!((s.u64Pending >> e) & 1)) return;
    s.u64Pending &= ~(uint64_t(1) << e);
    const uint16_t program = s.entries.ltEntry[e].u16ProgramNumber;
    if (s.status != 0 || s.u8Interrupted || testBit(s.unstarted, program)) return;
    setBit(s.unstarted, program);
    logMessage(s.tLog, TS_LOG_WARNING,
               "Warning: program %u of %s has no point a decoder can start at; it gets no file.\n", program,
               s.strInput);
}

void closeEntryFile(TS_Splitter& s, uint16_t e) {
    if (s.pClean) cleanFileClosed(*s.pClean, e);
    dropPendingFile(s, e);
    closeOlderFiles(s, e);
    closeSlot(s, e);
    s.entries.ltEntry[e].nFD = -1;
    s.u64OpenEntries &= ~(uint64_t(1) << e);
}

int32_t closeAll(TS_Splitter& s) {
    for (uint64_t open = s.u64OpenEntries; s.pClean && open; open &= open - 1) {
        cleanFileClosed(*s.pClean, uint32_t(__builtin_ctzll(open)));
        dropPendingFile(s, uint32_t(__builtin_ctzll(open)));
    }
    for (uint64_t older = s.u64OlderOpen; older; older &= older - 1) closeOlderFiles(s, uint32_t(__builtin_ctzll(older)));
    for (uint16_t e = 0; e < s.entries.u16Count; ++e) s.entries.ltEntry[e].nFD = -1;
    int32_t status = outputSetCloseAll(&s.files, s.entries.u16Count);
    for (uint16_t e = 0; s.pReport && e < s.entries.u16Count; ++e) {
        splitReportClosed(s.pReport, e, s.files.ltFile[e].u64Written, outputUnitSize(format(s)));
    }
    return s.status != 0 ? s.status : status;
}

// Writes an output unit from `origin` to file `slot`, copied unless it is
// of the walk's buffer, and tells the report.
void writeToSlot(TS_Splitter& s, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin& origin) {
    if (outputSetWrite(&s.files, slot, unit, outputUnitSize(format(s)), copy) != 0) fail(s, TS_ERR_WRITE);
    if (s.pReport) splitReportTook(s.pReport, slot, unit + format(s).u32Prefix, format(s).u32Size, origin);
}

// Writes an output unit to every entry of the mask: one of the walk's
// buffer, or one built or kept here (`copy`), which the files copy.
void writeToEntries(TS_Splitter& s, uint64_t entries, const uint8_t* unit, bool copy, const UnitOrigin& origin) {
    while (entries) {
        uint32_t e = uint32_t(__builtin_ctzll(entries));
        entries &= entries - 1;
        writeToSlot(s, e, unit, copy, origin);
    }
}

// A file begun at a PAT: of the program's present event when files are cut
// at events. A clean file (asked for, or cut at events) is created only at
// its start, where its name is decided; until then the entry stands open.
bool openFreshFile(TS_Splitter& s, uint16_t e, uint64_t offset) {
    const uint16_t program = s.entries.ltEntry[e].u16ProgramNumber;
    const bool cleanly = s.u8CleanStart || s.pEvents;
    uint16_t event = 0;
    s.lnFileEvent[e] = s.pEvents && presentEventOf(*s.pEvents, program, &event) ? event : kNoEvent;
    if (cleanly) {
        s.u64OpenEntries |= uint64_t(1) << e;
        s.u64Pending |= uint64_t(1) << e;
    } else if (!openEntryFile(s, e, offset)) {
        return false;
    }
    if (s.pClean) cleanFileOpened(*s.pClean, e, program, cleanly);
    return true;
}

// An entry's file is open (or, when only told, would be).
bool hasOpenFile(const TS_Splitter& s, uint16_t e) { return (s.u64OpenEntries >> e) & 1; }

bool isSelected(const TS_Splitter& s, uint16_t programNumber) {
    return s.u8SelectAll || testBit(s.selected, programNumber);
}

// --- PAT --------------------------------------------------------------------

int16_t findEntry(const TS_Splitter& s, uint16_t programNumber, uint16_t duplicate) {
    for (uint16_t e = 0; e < s.entries.u16Count; ++e) {
        const TS_PNSplitEntry& entry = s.entries.ltEntry[e];
        if (entry.u16ProgramNumber == programNumber && entry.u16Duplicate == duplicate) return int16_t(e);
    }
    return kNoEntry;
}

int16_t createEntry(TS_Splitter& s, uint16_t programNumber, uint16_t duplicate) {
    if (s.entries.u16Count >= TS_SPLIT_MAX_ENTRIES) {
        if (!testBit(s.warnedPrograms, programNumber)) {
            setBit(s.warnedPrograms, programNumber);
            logMessage(s.tLog, TS_LOG_WARNING, "Warning: program %d skipped: more than %u programs.\n", programNumber,
                       TS_SPLIT_MAX_ENTRIES);
        }
        return kNoEntry;
    }
    uint16_t e = s.entries.u16Count++;
    s.entries.ltEntry[e] = TS_PNSplitEntry{programNumber, 0, duplicate, 0, -1};
    return int16_t(e);
}

uint16_t duplicateIndex(const TS_PAT& pat, uint16_t i) {
    uint16_t d = 0;
    for (uint16_t j = 0; j < i; ++j) d += pat.programs[j].program_number == pat.programs[i].program_number;
    return d;
}

bool patListsPair(const TS_PAT& pat, const TS_PNSplitEntry& entry) {
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        if (pat.programs[i].program_number == entry.u16ProgramNumber &&
            duplicateIndex(pat, i) == entry.u16Duplicate) {
            return true;
        }
    }
    return false;
}

// Programs that left the PAT: close their files; their next file (should they
// return) carries the next revision number, and its packets are routed by
// the program's last PMT until a new one arrives.
void closeDepartedPrograms(TS_Splitter& s, const TS_PAT& pat) {
    for (uint16_t e = 0; e < s.entries.u16Count; ++e) {
        TS_PNSplitEntry& entry = s.entries.ltEntry[e];
        if (patListsPair(pat, entry)) continue;
        if (hasOpenFile(s, e)) closeEntryFile(s, e);
        s.u64RefusedEntries &= ~(uint64_t(1) << e);
        ++entry.u64Revision;
    }
}

// The first program entry on each PMT PID, so that a PMT packet finds the
// slot that reassembles its PID with one lookup. Rebuilt at each PAT.
void unmapPMTPIDs(TS_Splitter& s, const TS_PAT& pat) {
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        s.pidToPATEntry[pat.programs[i].program_map_PID & (TS_PID_COUNT - 1)] = kNoEntry;
    }
}

void mapPMTPIDs(TS_Splitter& s, const TS_PAT& pat) {
    for (; s.u16SlotsReady < patEntryCount(pat); ++s.u16SlotsReady) {
        TS_PreSection_Initialise(&s.pmtSlots[s.u16SlotsReady]);
    }
    forEachProgram(pat, [&](uint16_t i, const TS_PAT_Program& program) {
        setBit(s.streamPIDs, program.program_map_PID & (TS_PID_COUNT - 1));
        setBit(s.announced, program.program_number);
        int16_t& first = s.pidToPATEntry[program.program_map_PID & (TS_PID_COUNT - 1)];
        if (first == kNoEntry) first = int16_t(i);
    });
}

void onPAT(TS_Splitter& s, const uint8_t* completingPacket, const TS_Packet& completing) {
    const TS_PAT& pat = s.pat.tWhole;
    s.u16NetworkPID = siNetworkPID(pat);
    std::memset(s.pmtPIDs, 0, sizeof s.pmtPIDs);
    uint8_t unit[kMaxOutputUnitSize];
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        const TS_PAT_Program& program = pat.programs[i];
        s.patToEntry[i] = kNoEntry;
        // An unselected program needs no entry: its revisions and duplicate
        // indices count the same without one.
        if (program.program_number == 0 || !isSelected(s, program.program_number)) continue;
        uint16_t duplicate = duplicateIndex(pat, i);
        int16_t e = findEntry(s, program.program_number, duplicate);
        if (e == kNoEntry) e = createEntry(s, program.program_number, duplicate);
        if (e == kNoEntry) continue;
        s.entries.ltEntry[e].u16PMTPID = program.program_map_PID;
        if (!hasOpenFile(s, uint16_t(e)) && !openFreshFile(s, uint16_t(e), packetOffset(s.walk, completingPacket))) {
            continue;
        }
        s.patToEntry[i] = e;
        setBit(s.pmtPIDs, program.program_map_PID);
        buildProgramPAT(unit, format(s).u32Prefix, completingPacket, completing, pat, program);
        if (s.pClean && cleanHoldsPAT(*s.pClean, uint32_t(e), unit, outputUnitSize(format(s)))) continue;
        writeToEntries(s, uint64_t(1) << e, unit, true, kBuiltUnit);
    }
    closeDepartedPrograms(s, pat);
}

void handlePATPacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    patTableFeed(&s.pat, packet, header, [&]() {
        if (s.status != 0) return;
        unmapPMTPIDs(s, s.pat.tPrevious);
        mapPMTPIDs(s, s.pat.tWhole);
        onPAT(s, packet, header);
    });
}

// --- PMT --------------------------------------------------------------------

// The PAT entry that owns the sections of `programNumber` on `pid`: the first
// naming both (a PAT may list one program twice on a PID), found from `first`,
// the first entry on the PID. kNoEntry when that entry has no file.
int16_t ownerOfSection(const TS_Splitter& s, int16_t first, uint16_t pid, uint16_t programNumber) {
    const TS_PAT& pat = s.pat.tWhole;
    for (uint16_t i = uint16_t(first); i < patEntryCount(pat); ++i) {
        const TS_PAT_Program& p = pat.programs[i];
        if (p.program_map_PID != pid || p.program_number != programNumber) continue;
        return s.patToEntry[i] == kNoEntry ? kNoEntry : int16_t(i);
    }
    return kNoEntry;
}

uint64_t entriesOnPID(const TS_Splitter& s, int16_t first, uint16_t pid) {
    const TS_PAT& pat = s.pat.tWhole;
    uint64_t entries = 0;
    for (uint16_t i = uint16_t(first); i < patEntryCount(pat); ++i) {
        bool owns = pat.programs[i].program_map_PID == pid && pat.programs[i].program_number != 0;
        if (owns && s.patToEntry[i] != kNoEntry) entries |= uint64_t(1) << s.patToEntry[i];
    }
    return entries;
}

// Imports a packet of a PMT PID (from `origin`) and returns the split
// entries whose sections it carries bytes of.
uint64_t handlePMTPacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header, const UnitOrigin& origin) {
    int16_t owner = s.pidToPATEntry[header.PID];
    if (owner == kNoEntry) return 0;
    SectionFeed feed = feedSections(
        s.pmtSlots[owner], TS_PMT_ImportPreSection, packet, header, TS_TABLE_ID_PMT,
        [&](const TS_PreSection& slot, bool begunEarlier) {
            if (s.u8ServiceInformation) forEachProgramPID(&slot, [&](uint16_t pid) { setBit(s.streamPIDs, pid); });
            uint16_t programNumber = 0;
            TS_PreSection_TableIdExtension(&slot, &programNumber);
            int16_t i = ownerOfSection(s, owner, header.PID, programNumber);
            if (i == kNoEntry) return;
            routesSetProgram(&s.routes, uint32_t(s.patToEntry[i]), &slot);
            if (s.pClean) cleanProgramPMT(*s.pClean, uint32_t(s.patToEntry[i]), header.PID, slot, begunEarlier);
        });
    uint64_t entries = 0;
    for (uint32_t k = 0; k < feed.u32Extensions; ++k) {
        int16_t i = ownerOfSection(s, owner, header.PID, feed.lu16Extensions[k]);
        if (i != kNoEntry) entries |= uint64_t(1) << s.patToEntry[i];
    }
    // A section begun in the packet's last bytes, its program not known yet:
    // the packet goes to every program on the PID, so that its own has it.
    if (feed.u8UnknownPending) entries |= entriesOnPID(s, owner, header.PID);
    if (s.pClean) {
        cleanPMTPacket(*s.pClean, outputUnit(format(s), packet), outputUnitSize(format(s)),
                       header.payload_unit_start_indicator, entries, origin);
    }
    return entries;
}

// --- Service information ----------------------------------------------------

int32_t programOfEntry(void* user, uint32_t e) {
    const TS_Splitter& s = *static_cast<const TS_Splitter*>(user);
    bool open = (s.u64OpenEntries >> e) & 1;
    return open ? s.entries.ltEntry[e].u16ProgramNumber : -1;
}

int32_t writeSIUnit(void* user, uint32_t e, const uint8_t* unit) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    if (s.pReport) splitReportTook(s.pReport, e, unit + format(s).u32Prefix, format(s).u32Size, kBuiltUnit);
    return outputSetWrite(&s.files, e, unit, outputUnitSize(format(s)), true);
}

bool keepSIForCleanStart(void* user, uint32_t e, uint16_t pid, const uint8_t* section, uint32_t size) {
    return cleanKeepsSection(*static_cast<TS_Splitter*>(user)->pClean, e, pid, section, size);
}

SITargets siTargets(TS_Splitter& s) {
    return SITargets{s.entries.u16Count, programOfEntry, writeSIUnit, &s, format(s).u32Prefix,
                     s.pClean ? keepSIForCleanStart : nullptr};
}

void carrySI(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    if (siFeed(&s.si, packet, header, siTargets(s)) != 0) fail(s, TS_ERR_WRITE);
}

// --- Clean starts -----------------------------------------------------------

void writeOpeningUnit(void* user, uint32_t e, const uint8_t* unit, const UnitOrigin& origin) {
    writeToSlot(*static_cast<TS_Splitter*>(user), e, unit, true, origin);
}

void writeOpeningSection(void* user, uint32_t e, uint16_t pid, const uint8_t* prefix, const uint8_t* section,
                         uint32_t size) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    if (siWriteSection(&s.si, siTargets(s), e, pid, prefix, section, size) != 0) fail(s, TS_ERR_WRITE);
}

// --- Cuts at event changes ---------------------------------------------------

// The start point of entry e's cut: its file becomes the older one, and the
// file of the next event opens in its place.
void cutEntryFile(void* user, uint32_t e) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    const uint32_t older = e + kOlder, prior = e + kPriorFile * kOlder;
    closeSlot(s, prior);
    if (outputSetIsOpen(&s.files, older)) outputSetMove(&s.files, older, prior);
    if (s.pReport) splitReportMoved(s.pReport, older, prior);
    outputSetMove(&s.files, e, older);
    if (s.pReport) splitReportMoved(s.pReport, e, older);
    s.u64OlderOpen |= uint64_t(1) << e;
    s.u64OpenEntries &= ~(uint64_t(1) << e);
    s.entries.ltEntry[e].nFD = -1;
    s.lnFileEvent[e] = s.lu16NextEvent[e];
    openEntryFile(s, uint16_t(e), s.u64At);
}

void beginEntryFile(void* user, uint32_t e) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    if (!((s.u64Pending >> e) & 1)) return;
    s.u64Pending &= ~(uint64_t(1) << e);
    openEntryFile(s, uint16_t(e), s.u64At);
}

void writeOlderUnit(void* user, uint32_t e, uint32_t file, const uint8_t* unit, const UnitOrigin& origin) {
    writeToSlot(*static_cast<TS_Splitter*>(user), e + file * kOlder, unit, true, origin);
}

void endOlderFile(void* user, uint32_t e, uint32_t file) {
    TS_Splitter& s = *static_cast<TS_Splitter*>(user);
    closeSlot(s, e + file * kOlder);
    bool open = outputSetIsOpen(&s.files, e + kOlder) || outputSetIsOpen(&s.files, e + kPriorFile * kOlder);
    if (!open) s.u64OlderOpen &= ~(uint64_t(1) << e);
}

// Program `program`'s present event is now `event`: each of its files of
// another event is cut at the next start point. A cut still awaited goes to
// the newest event, or is called off when its file is of it; a file still
// waiting for its first start is of the new event.
void onEventChange(TS_Splitter& s, uint16_t program, uint16_t event) {
    for (uint32_t e = 0; e < s.entries.u16Count; ++e) {
        if (s.entries.ltEntry[e].u16ProgramNumber != program || !((s.u64OpenEntries >> e) & 1)) continue;
        CleanStart& clean = *s.pClean;
        if (cleanFileWaits(clean, e)) {
            s.lnFileEvent[e] = event;
            continue;
        }
        const bool awaited = cleanCutAwaited(clean, e);
        if (awaited && s.lnFileEvent[e] == event) {
            cleanCutCancel(clean, e);
        } else if (s.lnFileEvent[e] != event) {
            s.lu16NextEvent[e] = event;
            if (!awaited) cleanCutBegin(clean, e);
        }
    }
}

void followEvents(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    EventChanges changes = presentEventsFeed(*s.pEvents, packet, header);
    for (uint32_t i = 0; i < changes.u32Count; ++i) {
        const EventChange& change = changes.ltChange[i];
        if (s.pListener) s.pListener->announced(s.pListener->pUser, change.u16Program, change.tEvent, s.u64At);
        onEventChange(s, change.u16Program, change.tEvent.u16EventId);
    }
}

// --- Packets ----------------------------------------------------------------

bool onPacket(TS_Splitter& s, const uint8_t* packet, const TS_Packet& header) {
    const bool si = s.u8ServiceInformation;
    if (s.pfObserver && testBit(s.pObservedPIDs, header.PID)) {
        s.pfObserver(s.pObserverUser, packet, packetOffset(s.walk, packet));
    }
    // Where the packet came from, for what keeps packets (clean starts, cuts) or counts them.
    if (s.pClean || s.pReport) s.u64At = packetOffset(s.walk, packet);
    if (s.pEvents && presentEventsFollow(*s.pEvents, header.PID)) followEvents(s, packet, header);
    if (header.PID == TS_PID_PAT) {
        handlePATPacket(s, packet, header);
        return s.status == 0;
    }
    const bool streamPID = si && testBit(s.streamPIDs, header.PID);
    if (s.pat.tWhole.valid) {
        UnitOrigin origin{s.u64At, 0, 1};
        if (s.pReport) origin = splitReportArrived(s.pReport, packet, header, s.u64At);
        uint64_t entries = routesOf(&s.routes, header.PID);
        // With service information, every program's PMT is read, so that
        // the PIDs they name are never taken for service information.
        if (testBit(s.pmtPIDs, header.PID) || (si && s.pidToPATEntry[header.PID] != kNoEntry)) {
            entries |= handlePMTPacket(s, packet, header, origin);
        }
        if (si && !streamPID && siIsCopiedPID(header.PID, s.u16NetworkPID)) entries |= s.u64OpenEntries;
        if (s.pClean && (entries & cleanUnsettled(*s.pClean))) {
            entries = cleanFilter(*s.pClean, packet, header, entries, format(s).u32Prefix, origin);
        }
        writeToEntries(s, entries, outputUnit(format(s), packet), false, origin);
    }
    // Reassembled from the start, like the PAT: what completes before a file
    // is open goes nowhere.
    if (si && !streamPID && siIsSectionPID(header.PID)) carrySI(s, packet, header);
    return s.status == 0;
}

struct PacketHandler {
    TS_Splitter* s;
    bool operator()(const uint8_t* packet, const TS_Packet& header) const { return onPacket(*s, packet, header); }
};

void resetSplitter(TS_Splitter& s, const TS_SplitOptions& options) {
    s.tLog = LogSink{options.pfLog, options.pLogUser};
    s.pOwnWritten = nullptr;
    WrittenFiles* written = runFiles(options.pRun);
    if (!written) written = s.pOwnWritten = writtenFilesCreate();
    outputSetReset(&s.files, -1, written, s.tLog);
    std::memset(&s.entries, 0, sizeof s.entries);
    routesClear(&s.routes);
    patTableReset(&s.pat, s.tLog);
    s.u16SlotsReady = 0;
    for (int16_t& i : s.pidToPATEntry) i = kNoEntry;
    std::memset(s.pmtPIDs, 0, sizeof s.pmtPIDs);
    std::memset(s.streamPIDs, 0, sizeof s.streamPIDs);
    std::memset(s.selected, 0, sizeof s.selected);
    std::memset(s.warnedPrograms, 0, sizeof s.warnedPrograms);
    std::memset(s.unstarted, 0, sizeof s.unstarted);
    std::memset(s.announced, 0, sizeof s.announced);
    s.u8SelectAll = options.u32ProgramCount == 0;
    for (uint32_t i = 0; i < options.u32ProgramCount; ++i) setBit(s.selected, options.lu16Programs[i]);
    s.u8ServiceInformation = options.u8ServiceInformation;
    s.u64OpenEntries = 0;
    s.u16NetworkPID = kNoNetworkPID;
    siReset(&s.si);
    s.status = 0;
    s.u8Interrupted = 0;
    s.u8ReadFailed = 0;
    s.u8OpenFailed = 0;
    s.u64RefusedEntries = 0;
    std::memset(s.ltTwin, 0, sizeof s.ltTwin);
    s.pReport = nullptr;
    s.u8CleanStart = options.u8CleanStart;
    s.u64OlderOpen = 0;
    s.u64Pending = 0;
    s.u64At = 0;
    CleanTargets targets{&s, writeOpeningUnit, writeOpeningSection, cutEntryFile, writeOlderUnit, endOlderFile,
                         beginEntryFile, 0, s.tLog};
    const uint64_t after = options.u8Events ? uint64_t(options.u32MarginAfterMs) * 27000 : 0;
    const uint64_t before = options.u8Events ? uint64_t(options.u32MarginBeforeMs) * 27000 : 0;
    s.pClean = options.u8CleanStart || options.u8Events ? cleanStartCreate(targets, after, before) : nullptr;
    s.pEvents = options.u8Events ? new (std::nothrow) PresentEvents : nullptr;
    s.pListener = nullptr;
    if (s.pEvents) presentEventsReset(*s.pEvents);
}

// The programs asked for by number that no whole PAT listed.
int32_t reportMissingPrograms(const TS_Splitter& s) {
    if (s.u8SelectAll) return 0;
    int32_t status = 0;
    for (uint32_t program = 1; program < kProgramNumberCount; ++program) {  // 0 selects nothing
        if (!testBit(s.selected, program) || testBit(s.announced, program)) continue;
        logMessage(s.tLog, TS_LOG_ERROR, "Error: no program %u in %s.\n", program, s.strInput);
        status = TS_ERR_NO_PROGRAM;
    }
    return status;
}

// Cut at events, the programs whose files were never cut for want of an
// event to cut at are named, once each, in ascending order (a program that
// never began a file is named for that instead).
void warnUncutPrograms(const TS_Splitter& s) {
    if (!s.pEvents || s.pListener) return;
    uint16_t programs[TS_SPLIT_MAX_ENTRIES];
    uint32_t count = 0;
    for (uint16_t e = 0; e < s.entries.u16Count; ++e) {
        const uint16_t program = s.entries.ltEntry[e].u16ProgramNumber;
        uint16_t event = 0;
        if (((s.u64Pending >> e) & 1) || presentEventOf(*s.pEvents, program, &event)) continue;
        if (std::find(programs, programs + count, program) == programs + count) programs[count++] = program;
    }
    std::sort(programs, programs + count);
    for (uint32_t i = 0; i < count; ++i) {
        logMessage(s.tLog, TS_LOG_WARNING, "Warning: no event information for program %u of %s; its file is not cut.\n",
                   programs[i], s.strInput);
    }
}

// The status of a call that took bytes: the first failure, or the stop.
int32_t feedStatus(const TS_Splitter& s) {
    if (s.status != 0) return s.status;
    return s.u8Interrupted ? TS_ERR_INTERRUPTED : s.u8ReadFailed ? TS_ERR_READ : 0;
}

// Reports how the input ended, closes every file; the run's status.
int32_t finishRun(TS_Splitter* splitter, WalkEnd end) {
    TS_Splitter& s = *splitter;
    int32_t status = s.status != 0 ? s.status : reportWalkEnd(end, s.strInput, s.walk.tStats, s.tLog);
    if (status == 0 && s.u8OpenFailed) status = TS_ERR_OPEN_OUTPUT;
    if (status == 0 && !s.pat.tWhole.valid) warnNoPAT(s.strInput, s.tLog);
    if (status == 0 && s.pat.tWhole.valid) status = reportMissingPrograms(s);
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
    if (step == WalkStep::Interrupted) s.u8Interrupted = 1;
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
    if (end == WalkEnd::Interrupted) s.u8Interrupted = 1;
    if (end == WalkEnd::ReadError) s.u8ReadFailed = 1;
    outputQueueFlush(&s.files.tQueue);
    return feedStatus(s);
}

int32_t TS_Splitter_Settle(TS_Splitter* splitter) {
    if (!splitter) return -1;
    TS_Splitter& s = *splitter;
    if (feedStatus(s) != 0) return feedStatus(s);
    if (walkJudged(s.walk, true, false, PacketHandler{&s}) == WalkStep::Interrupted) s.u8Interrupted = 1;
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
    splitter->u8SelectAll = 0;
    setBit(splitter->selected, program);
    return 0;
}

int32_t TS_Splitter_SetReport(TS_Splitter* splitter, TS_SplitReport* report) {
    if (!splitter || !report) return -1;
    splitReportDestroy(splitter->pReport);
    splitter->pReport = splitReportCreate(report);
    return splitter->pReport ? 0 : TS_ERR_NO_MEMORY;
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
    const char* outputDir = options->strOutputDir;
    const LogSink log{options->pfLog, options->pLogUser};
    *status = TS_ERR_OPEN_OUTPUT;
    if (outputDir && !isFolder(outputDir)) {
        reportFolderFailure(outputDir, log);
        return nullptr;
    }
    *status = TS_ERR_NAME_TOO_LONG;
    size_t folderPart = outputDir ? std::strlen(outputDir) + 1 : 2;
    size_t namePart = options->strBaseName ? std::strlen(options->strBaseName) : 0;
    if (!outputNamesFit(basePath, kLongestSuffix + folderPart + namePart, log)) return nullptr;
    *status = TS_ERR_NO_MEMORY;
    TS_Splitter* s = new (std::nothrow) TS_Splitter;
    if (!s) return nullptr;
    resetSplitter(*s, *options);
    bool walking = walkOpen(&s->walk, WalkHook{flushQueueHook, &s->files.tQueue});
    if (walking) {
        s->walk.pfProgress = options->pfProgress;
        s->walk.pProgressUser = options->pProgressUser;
        s->walk.pStop = options->pStop;
    }
    bool cleanMissing = (options->u8CleanStart || options->u8Events) && !s->pClean;
    if (!s->files.tPlace.pWritten || !walking || cleanMissing || (options->u8Events && !s->pEvents)) {
        splitterDestroy(s);
        return nullptr;
    }
    std::snprintf(s->strInput, sizeof s->strInput, "%s", TS_InputName(basePath));
    bool live = !outputDir && isLiveInput(basePath);
    // A base name is a file name, made safe like a namer's: never a path.
    char baseName[TS_FILE_NAME_MAX + 1];
    if (options->strBaseName) {
        std::snprintf(baseName, sizeof baseName, "%s", options->strBaseName);
        safeFileName(baseName);
    }
    outputStem(s->strStem, basePath, live ? "." : outputDir, options->strBaseName ? baseName : nullptr);
    const char* slash = std::strrchr(s->strStem, '/');
    s->u32FolderLength = slash ? uint32_t(slash - s->strStem) + 1 : 0;
    s->pfNamer = options->pfNamer;
    s->pNamerUser = options->pNamerUser;
    s->pfObserver = options->pObservedPIDs ? options->pfObserver : nullptr;
    s->pObserverUser = options->pObserverUser;
    s->pObservedPIDs = options->pObservedPIDs;
    s->pFileCount = options->pFileCount;
    if (s->pFileCount) *s->pFileCount = 0;
    // The file the caller feeds (when the base path names one) is never an output.
    struct stat input;
    if (::stat(basePath, &input) == 0 && S_ISREG(input.st_mode)) {
        writtenFilesAdd(s->files.tPlace.pWritten, input, kFileProtected);
    }
    s->strPath[0] = '\0';
    *status = 0;
    return s;
}

int32_t splitterClose(TS_Splitter* splitter) {
    TS_Splitter& s = *splitter;
    WalkEnd end = WalkEnd::Stopped;
    // A stop asked for while the caller read: what is buffered stays out.
    if (s.u8Interrupted || walkStopRequested(s.walk)) {
        s.u8Interrupted = 1;
        end = WalkEnd::Interrupted;
    } else if (s.u8ReadFailed) {
        end = WalkEnd::ReadError;
    } else if (s.status == 0) {
        end = endOf(walkBuffered(s.walk, true, PacketHandler{&s}));
    }
    return finishRun(&s, end);
}

void splitterListen(TS_Splitter* s, const CutListener* listener) { s->pListener = listener; }

SplitterView splitterView(const TS_Splitter* s) {
    return SplitterView{&s->entries, &s->pat.tWhole, s->strStem, s->strPath};
}

void splitterDestroy(TS_Splitter* s) {
    splitReportDestroy(s->pReport);
    cleanStartDestroy(s->pClean);
    delete s->pEvents;
    writtenFilesDestroy(s->pOwnWritten);
    walkClose(&s->walk);
    delete s;
}

}  // namespace rivulet
