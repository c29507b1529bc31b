#include "ts/split/split_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ts/core/bit_set.h"
#include "ts/programs/service_list.h"
#include "ts/section/sdt.h"
#include "ts/stream/continuity_count.h"
#include "ts/stream/pcr_track.h"
#include "ts/stream/section_feed.h"

namespace rivulet {

constexpr int32_t kNoRecord = -1;

// An open file's part of the counting.
struct OpenFile {
    int32_t nRecord;          // in the report, or kNoRecord
    uint16_t u16PCRPID;       // the first of its PIDs with a PCR; TS_PID_NULL before
    PCRTrack tClock;          // that PID's PCRs that the file holds
    uint64_t lu64PIDs[TS_PID_COUNT / 64];
};

struct SplitReportState {
    TS_SplitReport* pReport;
    ContinuityState ltState[TS_PID_COUNT];
    PIDCounts ltCounts[TS_PID_COUNT];
    TS_PreSection tSDTSlot;
    TS_ServiceList tServices;
    OpenFile ltFile[kReportSlots];
};

namespace {


void listPIDs(const OpenFile& open, TS_SplitFileReport& file) {
    file.u16PIDCount = 0;
    file.lu16PID[file.u16PIDCount++] = TS_PID_PAT;  // the rebuilt PAT
    for (uint32_t pid = 1; pid < TS_PID_COUNT && file.u16PIDCount < TS_CHECK_PROGRAM_MAX_PIDS; ++pid) {
        if (testBit(open.lu64PIDs, pid)) file.lu16PID[file.u16PIDCount++] = uint16_t(pid);
    }
}

}  // namespace

SplitReportState* splitReportCreate(TS_SplitReport* report) {
    SplitReportState* state = new (std::nothrow) SplitReportState;
    if (!state) return nullptr;
    std::memset(report, 0, sizeof *report);
    std::memset(state, 0, sizeof *state);
    state->pReport = report;
    TS_PreSection_Initialise(&state->tSDTSlot);
    for (OpenFile& open : state->ltFile) open.nRecord = kNoRecord;
    return state;
}

void splitReportDestroy(SplitReportState* state) { delete state; }

void splitReportOpened(SplitReportState* state, uint32_t slot, const char* path, const TS_PNSplitEntry& split,
                       uint64_t offset, bool cutAtEvents, int32_t eventId) {
    TS_SplitReport& report = *state->pReport;
    OpenFile& open = state->ltFile[slot];
    open.nRecord = kNoRecord;
    if (report.u32Count == TS_SPLIT_REPORT_MAX_FILES) {
        ++report.u32Dropped;
        return;
    }
    open.nRecord = int32_t(report.u32Count++);
    open.u16PCRPID = TS_PID_NULL;
    open.tClock = PCRTrack{};
    std::memset(open.lu64PIDs, 0, sizeof open.lu64PIDs);
    TS_SplitFileReport& file = report.ltFile[open.nRecord];
    std::snprintf(file.strPath, sizeof file.strPath, "%s", path);
    file.u16ProgramNumber = split.u16ProgramNumber;
    file.u16Duplicate = split.u16Duplicate;
    file.u64Revision = split.u64Revision;
    file.u64FirstOffset = offset;
    file.u64LastOffset = offset;
    file.u8CutAtEvents = cutAtEvents;
    file.u8HasEvent = cutAtEvents && eventId >= 0;
    file.u16EventId = uint16_t(eventId >= 0 ? eventId : 0);
}

void splitReportMoved(SplitReportState* state, uint32_t from, uint32_t to) {
    state->ltFile[to] = state->ltFile[from];
    state->ltFile[from].nRecord = kNoRecord;
}

UnitOrigin splitReportArrived(SplitReportState* state, const uint8_t* packet, const TS_Packet& header,
                              uint64_t offset) {
    const PacketFlags flags = readPacketFlags(packet);
    const uint16_t pid = flags.u16PID;
    CountedPacket counted = countPacket(state->ltState[pid], state->ltCounts[pid], flags);
    if (!flags.tei && pid == kPIDSDT) {
        feedSections(state->tSDTSlot, TS_SI_ImportPreSection, packet, header, kTableSDTActual,
                     [&](const TS_PreSection& slot, bool) { addSDTServices(&state->tServices, slot); });
    }
    return UnitOrigin{offset, counted.ccError, 1};
}

void splitReportTook(SplitReportState* state, uint32_t slot, const uint8_t* packet, uint32_t size,
                     const UnitOrigin& origin) {
    OpenFile& open = state->ltFile[slot];
    if (open.nRecord == kNoRecord) return;
    TS_SplitFileReport& file = state->pReport->ltFile[open.nRecord];
    const PacketFlags flags = readPacketFlags(packet);
    setBit(open.lu64PIDs, flags.u16PID);
    if (origin.u8Input) {
        file.u64CCErrors += origin.u8CCError;
        file.u64TEI += flags.tei;
        file.u64Scrambled += flags.scrambled;
        file.u64FirstOffset = std::min(file.u64FirstOffset, origin.u64Offset);
        file.u64LastOffset = std::max(file.u64LastOffset, origin.u64Offset + size - 1);
    }
    if (flags.tei || !flags.hasPCR) return;
    if (open.u16PCRPID == TS_PID_NULL) open.u16PCRPID = flags.u16PID;
    if (flags.u16PID == open.u16PCRPID) pcrTrackAdd(open.tClock, flags.u64PCR, flags.discontinuity);
}

void splitReportClosed(SplitReportState* state, uint32_t slot, uint64_t bytes, uint32_t unit) {
    OpenFile& open = state->ltFile[slot];
    if (open.nRecord == kNoRecord) return;
    TS_SplitFileReport& file = state->pReport->ltFile[open.nRecord];
    file.u64Bytes = bytes;
    file.u64Packets = unit ? bytes / unit : 0;
    file.u64Duration = open.tClock.u64Duration;
    listPIDs(open, file);
    copyServiceName(state->tServices, file.u16ProgramNumber, &file.u8ServiceNameLength, file.lu8ServiceName);
    state->pReport->u8ISDB = state->tServices.u8ISDB;
    open.nRecord = kNoRecord;
}

}  // namespace rivulet
