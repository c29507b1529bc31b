#include "ts/split/split_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "ts/core/bit_set.h"
#include "ts/check/pid_roles.h"
#include "ts/core/growable.h"
#include "ts/programs/service_list.h"
#include "ts/section/sdt.h"
#include "ts/stream/continuity_count.h"
#include "ts/stream/gap_watch.h"
#include "ts/stream/pcr_track.h"
#include "ts/stream/stretch_counts.h"

namespace rivulet {

// An open file's part of the counting, what nearly every packet touches first.
struct OpenFile {
    uint32_t u32Record;       // in the list
    uint16_t u16PCRPID;       // the first of its PIDs with a PCR; TS_PID_NULL before
    // Nearly every packet is quiet: from the input, of a PID the file has
    // taken before, with no error, scrambling or PCR, and in the stretch of
    // input [u64QuietFrom, u64QuietTo): before the programme, the programme
    // or after it (the margins when u8QuietInMargins), where nothing marks
    // the programme's times and no break of continuity is under way. Its
    // figures wait in lu64Quiet, per PID, until the record is next needed.
    uint64_t u64QuietFrom;
    uint64_t u64QuietTo;      // empty until a packet that is not quiet sets the stretch
    uint8_t u8QuietInMargins;
    uint64_t u64From;         // as the record's u64ProgrammeFrom and To
    uint64_t u64To;
    uint64_t u64QuietFirst;   // the first and last input bytes of the quiet packets (none: first > last)
    uint64_t u64QuietLast;
    PCRTrack tClock;          // that PID's PCRs that the file holds
    GapWatch tGaps;           // of the packets it holds
    uint64_t lu64Quiet[TS_CHECK_PROGRAM_MAX_PIDS];  // by the index of the file's PIDs
    // Each PID's figures in the file's record: its index + 1 (0: none taken
    // yet, or no room), and kStreamSlot for a stream PID (gap_watch.h).
    uint8_t lu8Slot[TS_PID_COUNT];
    uint64_t lu64PIDs[TS_PID_COUNT / 64];
    uint64_t u64Drops;        // in the file so far
    uint64_t u64Scrambled;
    uint8_t u8Logged;         // the drop log has a line
    uint64_t u64LoggedAt;     // the file's clock at its last line
    uint64_t u64LoggedDrops;  // the figures that line told
    uint64_t u64LoggedScrambled;
    Growable<TS_DropLine> lines;
};

struct SplitReportState {
    TS_SplitFileList* pList;
    TS_SplitFileList tOwnList;      // the list behind a former fixed report
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    TS_SplitReport* pFixed;         // that report, or null
#pragma GCC diagnostic pop
    ContinuityState ltState[TS_PID_COUNT];  // the input's
    TS_ServiceList tServices;
    uint8_t lu8Kind[TS_PID_COUNT];  // each PID's kind, as the last PMT to name it says
    const char* lpCodec[TS_PID_COUNT];  // and its codec, null when none
    // The input's clock (its first PID with PCRs) and the broadcast time
    // the last TDT or TOT gave at a point of it.
    uint16_t u16ClockPID;
    PCRTrack tClock;
    uint8_t u8HasUTC;
    int64_t s64UTC;
    uint64_t u64ClockAtUTC;
    Growable<OpenFile*> open;       // by slot: each open file's counting, or null
};

namespace {

constexpr uint32_t kFirstRoom = 16;  // records an array first has room for
constexpr uint8_t kStreamSlot = 0x80;
constexpr uint8_t kSlotIndex = 0x7F;
static_assert(TS_CHECK_PROGRAM_MAX_PIDS <= kSlotIndex, "a slot holds a file PID's index + 1");

// Room for one more in `items` (`count` of them, room for `room`), doubled
// when full: only as a file opens, never per packet. False when memory is
// short.
template <typename T>
bool makeRoom(T*& items, uint32_t count, uint32_t& room) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (count < room) return true;
    if (room > UINT32_MAX / 2) return false;
    const uint32_t grown = room ? room * 2 : kFirstRoom;
    void* more = std::realloc(items, size_t(grown) * sizeof(T));
    if (!more) return false;
    items = static_cast<T*>(more);
    room = grown;
    return true;
}

// A packet looks its file up by slot, at the cost of one bound and one load.
OpenFile* findOpen(const SplitReportState& state, uint32_t slot) {
    return slot < state.open.u32Size ? state.open.p[slot] : nullptr;
}

void dropOpen(SplitReportState& state, uint32_t slot) {
    if (slot >= state.open.u32Size) return;
    if (state.open.p[slot]) release(state.open.p[slot]->lines);
    std::free(state.open.p[slot]);
    state.open.p[slot] = nullptr;
}

// The stretch of `file` that a packet from input `offset` falls in.
TS_StretchCounts& stretchOf(TS_SplitFileReport& file, uint64_t offset) {
    const bool margin = offset < file.u64ProgrammeFrom || offset >= file.u64ProgrammeTo;
    return margin ? file.tMargins : file.tProgramme;
}

// The verdict's part of a packet the file took: its kind's counts and the
// gaps it shows, in the stretch it falls in. Continuity is the input's, but
// at the file's first packet of a PID (what was lost before is not the
// file's); a unit built here (the file's PAT) has none to lose.
bool countForVerdict(OpenFile& open, TS_SplitFileReport& file, uint8_t kind, const PacketFlags& flags,
                     const UnitOrigin& origin, bool first, uint32_t index) {
    const bool counts = origin.u8Input && !first;
    const CountedPacket counted = counts ? CountedPacket{origin.u8Lost, origin.u8Lost != 0, false} : CountedPacket{};
    const uint64_t offset = origin.u8Input ? origin.u64Offset : file.u64ProgrammeFrom;
    TS_StretchCounts& stretch = stretchOf(file, offset);
    stretchCount(stretch, kind, flags, counted.ccError, counted.u8Lost);
    if (!origin.u8Input) return false;
    TS_InputGap gaps[kGapsOfAPacket];
    const uint32_t found = gapWatchPacketAt(open.tGaps, index, flags, isStreamKind(kind), counted.ccError, offset, gaps);
    for (uint32_t g = 0; g < found; ++g) stretchAddGap(stretch, gaps[g]);
    return counted.ccError;
}

// The file's clock at the first packet it takes of its programme, and of what follows it.
void markProgrammeTimes(TS_SplitFileReport& file, uint64_t clock, uint64_t offset) {
    if (!file.u8HasProgrammeStart && offset >= file.u64ProgrammeFrom) {
        file.u8HasProgrammeStart = 1;
        file.u64ProgrammeStart = clock;
    }
    if (!file.u8HasProgrammeEnd && offset >= file.u64ProgrammeTo) {
        file.u8HasProgrammeEnd = 1;
        file.u64ProgrammeEnd = clock;
    }
}

// Takes a quiet packet (see OpenFile) of `size` bytes at `offset`; false,
// touching nothing, when the packet is not one.
bool tookQuietly(OpenFile& open, const PacketFlags& flags, uint64_t offset, uint32_t size) {
    const uint8_t slot = open.lu8Slot[flags.u16PID];
    // Below the stretch, offset - u64QuietFrom wraps past its width.
    if (slot == 0 || flags.tei || flags.scrambled || flags.hasPCR ||
        offset - open.u64QuietFrom >= open.u64QuietTo - open.u64QuietFrom) {
        return false;
    }
    const uint32_t index = (slot & kSlotIndex) - 1u;
    ++open.lu64Quiet[index];
    open.u64QuietFirst = std::min(open.u64QuietFirst, offset);
    open.u64QuietLast = std::max(open.u64QuietLast, offset + size - 1);
    // No break is under way in a quiet stretch (setQuietStretch).
    gapWatchUneventful(open.tGaps, index, (slot & kStreamSlot) != 0 && flags.payload);
    return true;
}

// No packet is quiet until a packet that is not sets a stretch anew: both
// ends go together, the quiet test reading the stretch's width.
void emptyQuietStretch(OpenFile& open) {
    open.u64QuietFrom = 0;
    open.u64QuietTo = 0;
}

// The stretch of input around `offset` where the file's packets may be
// quiet: before its programme, the programme or after it; none while a break
// is under way. The packet at `offset` has marked the programme's times it
// passed, when the file has a clock (a PCR is never quiet).
void setQuietStretch(OpenFile& open, uint64_t offset) {
    emptyQuietStretch(open);
    if (open.tGaps.u8Breaking) return;
    open.u8QuietInMargins = offset < open.u64From || offset >= open.u64To;
    if (offset < open.u64From) {
        open.u64QuietTo = open.u64From;
    } else if (offset < open.u64To) {
        open.u64QuietFrom = open.u64From;
        open.u64QuietTo = open.u64To;
    } else {
        open.u64QuietFrom = open.u64To;
        open.u64QuietTo = UINT64_MAX;
    }
}

// No quiet packet waits: the first of them above the last.
void forgetQuiet(OpenFile& open) {
    open.u64QuietFirst = UINT64_MAX;
    open.u64QuietLast = 0;
}

// Each PID's slot as its kind now is.
void setStreamSlots(const SplitReportState& state, OpenFile& open, const TS_SplitFileReport& file) {
    for (uint32_t i = 0; i < file.u16FilePIDCount; ++i) {
        const uint16_t pid = file.ltFilePID[i].u16PID;
        open.lu8Slot[pid] = uint8_t((i + 1) | (isStreamKind(state.lu8Kind[pid]) ? kStreamSlot : 0));
    }
}

// Adds the quiet packets' figures to the file's record, each under its
// PID's kind as it is now.
void foldQuiet(const SplitReportState& state, OpenFile& open, TS_SplitFileReport& file) {
    if (open.u64QuietFirst > open.u64QuietLast) return;  // none
    TS_StretchCounts& stretch = open.u8QuietInMargins ? file.tMargins : file.tProgramme;
    for (uint32_t i = 0; i < file.u16FilePIDCount; ++i) {
        const uint64_t packets = open.lu64Quiet[i];
        if (packets == 0) continue;
        TS_FilePID& figures = file.ltFilePID[i];
        figures.u64Packets += packets;
        const uint8_t kind = state.lu8Kind[figures.u16PID];
        if (kind < TS_KIND_COUNT) stretch.ltKind[kind].u64Packets += packets;
        open.lu64Quiet[i] = 0;
    }
    file.u64FirstOffset = std::min(file.u64FirstOffset, open.u64QuietFirst);
    file.u64LastOffset = std::max(file.u64LastOffset, open.u64QuietLast);
    forgetQuiet(open);
}

// Before the kinds change: the quiet packets' figures, under the kinds they
// had when taken; `kinds` then makes them anew and sets every slot by them.
template <class Kinds>
void rekind(SplitReportState& state, Kinds&& kinds) {
    for (uint32_t slot = 0; slot < state.open.u32Size; ++slot) {
        OpenFile* open = state.open.p[slot];
        if (open) foldQuiet(state, *open, state.pList->ltFile[open->u32Record]);
    }
    kinds();
    for (uint32_t slot = 0; slot < state.open.u32Size; ++slot) {
        OpenFile* open = state.open.p[slot];
        if (open) setStreamSlots(state, *open, state.pList->ltFile[open->u32Record]);
    }
}

static_assert(kGapWatchedPIDs == TS_CHECK_PROGRAM_MAX_PIDS, "a file numbers its PIDs once, for its figures and its gaps");

// The index of `pid`'s figures in the file's record, added at its first
// packet; TS_CHECK_PROGRAM_MAX_PIDS past the record's room.
uint32_t filePIDIndex(const SplitReportState& state, OpenFile& open, TS_SplitFileReport& file, uint16_t pid) {
    uint8_t& slot = open.lu8Slot[pid];
    if (slot == 0) {
        if (file.u16FilePIDCount == TS_CHECK_PROGRAM_MAX_PIDS) return TS_CHECK_PROGRAM_MAX_PIDS;
        file.ltFilePID[file.u16FilePIDCount].u16PID = pid;
        slot = uint8_t(++file.u16FilePIDCount | (isStreamKind(state.lu8Kind[pid]) ? kStreamSlot : 0));
    }
    return (slot & kSlotIndex) - 1u;
}

// A line of the drop log when the figures changed, at most one per
// TS_DROP_LINE_SECONDS of the file's clock (`last`: the file's end).
void logDrops(SplitReportState& state, OpenFile& open, bool last) {
    const bool changed = open.u64Drops != open.u64LoggedDrops || open.u64Scrambled != open.u64LoggedScrambled;
    const uint64_t clock = open.tClock.u64Duration;
    if (!changed || (!last && open.u8Logged && clock - open.u64LoggedAt < TS_DROP_LINE_SECONDS * kPCRHz)) return;
    if (!growTo(open.lines, open.lines.u32Size + 1)) return;
    TS_DropLine& line = open.lines[open.lines.u32Size - 1];
    line.u8HasUTC = state.u8HasUTC;
    line.s64UTC = state.s64UTC + int64_t((state.tClock.u64Duration - state.u64ClockAtUTC) / kPCRHz);
    line.u64Clock = clock;
    line.u64Drops = open.u64Drops;
    line.u64Scrambled = open.u64Scrambled;
    open.u8Logged = 1;
    open.u64LoggedAt = clock;
    open.u64LoggedDrops = open.u64Drops;
    open.u64LoggedScrambled = open.u64Scrambled;
}

// The drop log's part of a packet of the file, with what the verdict counted of it.
void countForLog(SplitReportState& state, OpenFile& open, TS_SplitFileReport& file, const PacketFlags& flags,
                 bool ccError, uint32_t index) {
    if (index < TS_CHECK_PROGRAM_MAX_PIDS) {
        TS_FilePID& figures = file.ltFilePID[index];
        ++figures.u64Packets;
        figures.u64Drops += ccError;
        figures.u64Scrambled += flags.scrambled;
    }
    open.u64Drops += ccError;
    open.u64Scrambled += flags.scrambled;
    const bool pending = open.u64Drops != open.u64LoggedDrops || open.u64Scrambled != open.u64LoggedScrambled;
    if (pending) logDrops(state, open, false);
}

// Counting into `list`, or into a list of its own when null; null when
// memory is short.
SplitReportState* newState(TS_SplitFileList* list) {
    SplitReportState* state = new (std::nothrow) SplitReportState{};
    if (!state) return nullptr;
    state->pList = list ? list : &state->tOwnList;
    std::memset(state->lu8Kind, TS_KIND_NONE, sizeof state->lu8Kind);
    state->u16ClockPID = TS_PID_NULL;
    state->lu8Kind[TS_PID_PAT] = TS_KIND_PSI;
    return state;
}

void listPIDs(const OpenFile& open, TS_SplitFileReport& file) {
    file.u16PIDCount = 0;
    file.lu16PID[file.u16PIDCount++] = TS_PID_PAT;  // the rebuilt PAT
    for (uint32_t pid = 1; pid < TS_PID_COUNT && file.u16PIDCount < TS_CHECK_PROGRAM_MAX_PIDS; ++pid) {
        if (testBit(open.lu64PIDs, pid)) file.lu16PID[file.u16PIDCount++] = uint16_t(pid);
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// The former fixed report takes the list's first files, and counts the rest.
void fillFixedReport(const TS_SplitFileList& list, TS_SplitReport& report) {
    report.u8ISDB = list.u8ISDB;
    report.u32Count = std::min(list.u32Count, TS_SPLIT_REPORT_MAX_FILES);
    report.u32Dropped = list.u32Count - report.u32Count;
    std::copy_n(list.ltFile, report.u32Count, report.ltFile);
    // Its records outlive the list: they hold no drop log.
    for (uint32_t i = 0; i < report.u32Count; ++i) {
        report.ltFile[i].ltDropLine = nullptr;
        report.ltFile[i].u32DropLines = 0;
    }
}
#pragma GCC diagnostic pop

}  // namespace

SplitReportState* splitReportCreate(TS_SplitFileList* list) {
    SplitReportState* state = newState(list);
    if (state) *list = TS_SplitFileList{};
    return state;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
SplitReportState* splitReportCreateFixed(TS_SplitReport* report) {
    std::memset(report, 0, sizeof *report);
    SplitReportState* state = newState(nullptr);
    if (state) state->pFixed = report;
    return state;
}

void splitReportDestroy(SplitReportState* state) {
    if (!state) return;
    if (state->pFixed) fillFixedReport(*state->pList, *state->pFixed);
    TS_SplitFileList_Release(&state->tOwnList);
    for (uint32_t slot = 0; slot < state->open.u32Size; ++slot) dropOpen(*state, slot);
    release(state->open);
    delete state;
}
#pragma GCC diagnostic pop

int32_t splitReportOpened(SplitReportState* state, uint32_t slot, const char* path, const TS_PNSplitEntry& split,
                          uint64_t offset, bool cutAtEvents, int32_t eventId) {
    TS_SplitFileList& list = *state->pList;
    dropOpen(*state, slot);  // a file the slot held unclosed
    if (!makeRoom(list.ltFile, list.u32Count, list.u32Capacity) || !growTo(state->open, slot + 1)) {
        return TS_ERR_NO_MEMORY;
    }
    OpenFile* open = static_cast<OpenFile*>(std::calloc(1, sizeof(OpenFile)));
    if (!open) return TS_ERR_NO_MEMORY;
    open->u32Record = list.u32Count;
    open->u16PCRPID = TS_PID_NULL;
    open->u64From = offset;
    open->u64To = UINT64_MAX;
    forgetQuiet(*open);
    gapWatchReset(open->tGaps);
    state->open.p[slot] = open;
    TS_SplitFileReport& file = list.ltFile[list.u32Count++];
    std::memset(&file, 0, sizeof file);
    std::snprintf(file.strPath, sizeof file.strPath, "%s", path);
    file.u16ProgramNumber = split.u16ProgramNumber;
    file.u16Duplicate = split.u16Duplicate;
    file.u64Revision = split.u64Revision;
    file.u64FirstOffset = offset;
    file.u64LastOffset = offset;
    file.u64ProgrammeFrom = offset;
    file.u64ProgrammeTo = UINT64_MAX;
    file.u8CutAtEvents = cutAtEvents;
    file.u8HasEvent = cutAtEvents && eventId >= 0;
    file.u16EventId = uint16_t(eventId >= 0 ? eventId : 0);
    return 0;
}

int32_t splitReportMoved(SplitReportState* state, uint32_t from, uint32_t to) {
    OpenFile* source = findOpen(*state, from);
    if (!source || from == to) return 0;
    // A file cut at events moves on at its cut: what it takes of the input
    // from here (after its last packet: a move may come later than the cut,
    // as a held program's calls do) is past its programme.
    TS_SplitFileReport& file = state->pList->ltFile[source->u32Record];
    foldQuiet(*state, *source, file);
    if (file.u8CutAtEvents && file.u64ProgrammeTo == UINT64_MAX) file.u64ProgrammeTo = file.u64LastOffset + 1;
    source->u64To = file.u64ProgrammeTo;
    emptyQuietStretch(*source);  // its stretches are others now
    if (!growTo(state->open, to + 1)) return TS_ERR_NO_MEMORY;
    dropOpen(*state, to);
    state->open.p[to] = source;
    state->open.p[from] = nullptr;
    return 0;
}

UnitOrigin splitReportArrived(SplitReportState* state, const uint8_t* packet, const TS_Packet&, uint64_t offset) {
    return splitReportArrivedFlags(state, readPacketFlags(packet), offset);
}

namespace {

// The input's clock (its first PID with PCRs) at a packet with a PCR; the
// packet's `origin` passed on (the call stays off the path of the others).
[[gnu::noinline]] UnitOrigin clockArrived(SplitReportState& state, const PacketFlags& flags, UnitOrigin origin) {
    if (state.u16ClockPID == TS_PID_NULL) state.u16ClockPID = flags.u16PID;
    if (flags.u16PID == state.u16ClockPID) pcrTrackAdd(state.tClock, flags.u64PCR, flags.discontinuity);
    return origin;
}

}  // namespace

UnitOrigin splitReportArrivedFlags(SplitReportState* state, const PacketFlags& flags, uint64_t offset) {
    const UnitOrigin origin{offset, 1, continuityStep(state->ltState[flags.u16PID], flags).u8Lost};
    if (flags.hasPCR && !flags.tei) return clockArrived(*state, flags, origin);
    return origin;
}

void splitReportTakeSDT(SplitReportState* state, const TS_PreSection& section) {
    addSDTServices(&state->tServices, section);
}

void splitReportTakePMT(SplitReportState* state, uint16_t pmtPID, const TS_PreSection& section) {
    rekind(*state, [&] { kindsFromPMT(state->lu8Kind, state->lpCodec, pmtPID, section); });
}

void splitReportTakeTime(SplitReportState* state, int64_t utc) {
    state->u8HasUTC = 1;
    state->s64UTC = utc;
    state->u64ClockAtUTC = state->tClock.u64Duration;
}

void splitReportTakePAT(SplitReportState* state, const TS_PAT& pat, uint64_t offset) {
    // A PMT PID is PSI from the PAT on: its packets may come before a whole PMT does, or without one.
    rekind(*state, [&] {
        for (uint16_t i = 0; i < pat.program_count; ++i) {
            if (pat.programs[i].program_number != 0) state->lu8Kind[pat.programs[i].program_map_PID & 0x1FFF] = TS_KIND_PSI;
        }
    });
    const uint16_t transportStream = pat.transport_stream_id;
    for (uint32_t slot = 0; slot < state->open.u32Size; ++slot) {
        OpenFile* open = state->open.p[slot];
        TS_InputGap gap;
        if (open && gapWatchTransportStream(open->tGaps, transportStream, offset, &gap)) {
            stretchAddGap(stretchOf(state->pList->ltFile[open->u32Record], offset), gap);
        }
    }
}

void splitReportTook(SplitReportState* state, uint32_t slot, const uint8_t* packet, uint32_t size,
                     const UnitOrigin& origin) {
    splitReportTookFlags(state, slot, readPacketFlags(packet), size, origin);
}

namespace {

// A packet that is not quiet: every figure it touches.
[[gnu::noinline]] void tookLoudly(SplitReportState* state, OpenFile* open, const PacketFlags& flags, uint32_t size,
                                  const UnitOrigin& origin) {
    TS_SplitFileReport& file = state->pList->ltFile[open->u32Record];
    foldQuiet(*state, *open, file);
    const bool first = !testBit(open->lu64PIDs, flags.u16PID);
    setBit(open->lu64PIDs, flags.u16PID);
    const uint32_t index = filePIDIndex(*state, *open, file, flags.u16PID);
    const bool ccError = countForVerdict(*open, file, state->lu8Kind[flags.u16PID], flags, origin, first, index);
    if (origin.u8Input) {
        file.u64CCErrors += origin.u8Lost != 0;
        file.u64TEI += flags.tei;
        file.u64Scrambled += flags.scrambled;
        file.u64FirstOffset = std::min(file.u64FirstOffset, origin.u64Offset);
        file.u64LastOffset = std::max(file.u64LastOffset, origin.u64Offset + size - 1);
    }
    if (!flags.tei && flags.hasPCR) {
        if (open->u16PCRPID == TS_PID_NULL) open->u16PCRPID = flags.u16PID;
        if (flags.u16PID == open->u16PCRPID) pcrTrackAdd(open->tClock, flags.u64PCR, flags.discontinuity);
    }
    if (origin.u8Input && open->tClock.u64PCRs > 0) markProgrammeTimes(file, open->tClock.u64Duration, origin.u64Offset);
    countForLog(*state, *open, file, flags, ccError, index);
    if (origin.u8Input) setQuietStretch(*open, origin.u64Offset);
}

}  // namespace

void splitReportTookFlags(SplitReportState* state, uint32_t slot, const PacketFlags& flags, uint32_t size,
                          const UnitOrigin& origin) {
    OpenFile* open = findOpen(*state, slot);
    if (!open) return;
    const bool input = origin.u8Input && origin.u8Lost == 0;
    if (input && tookQuietly(*open, flags, origin.u64Offset, size)) return;
    tookLoudly(state, open, flags, size, origin);
}

void splitReportClosed(SplitReportState* state, uint32_t slot, uint64_t bytes, uint32_t unit) {
    OpenFile* open = findOpen(*state, slot);
    if (!open) return;
    TS_SplitFileReport& file = state->pList->ltFile[open->u32Record];
    foldQuiet(*state, *open, file);
    file.u64Bytes = bytes;
    file.u64Packets = unit ? bytes / unit : 0;
    file.u64Duration = open->tClock.u64Duration;
    listPIDs(*open, file);
    logDrops(*state, *open, true);
    for (uint32_t i = 0; i < file.u16FilePIDCount; ++i) {
        TS_FilePID& pid = file.ltFilePID[i];
        pid.u8Kind = state->lu8Kind[pid.u16PID];
        const char* codec = state->lpCodec[pid.u16PID];
        std::snprintf(pid.strCodec, sizeof pid.strCodec, "%s", codec ? codec : "");
    }
    file.ltDropLine = open->lines.p;
    file.u32DropLines = open->lines.u32Size;
    open->lines = Growable<TS_DropLine>{};
    copyServiceName(state->tServices, file.u16ProgramNumber, &file.u8ServiceNameLength, file.lu8ServiceName);
    state->pList->u8ISDB = state->tServices.u8ISDB;
    dropOpen(*state, slot);
}

}  // namespace rivulet

void TS_SplitFileList_Release(TS_SplitFileList* list) {
    if (!list) return;
    for (uint32_t i = 0; i < list->u32Count; ++i) std::free(list->ltFile[i].ltDropLine);
    std::free(list->ltFile);
    *list = TS_SplitFileList{};
}
