// ts/check: the stream check and the roles of its PIDs.
//
// The stream check: one pass over an input that counts, for every PID, its
// packets, continuity errors, duplicates, transport errors, scrambled
// packets and PCRs, names the PIDs' roles from the tables, and sums the
// figures per program. The chart's points go to the caller as they come, so
// that the check keeps no series of its own.
#include <cstring>
#include <new>

#include "rivulet/check.h"
#include "rivulet/services.h"
#include "rivulet/tables.h"
#include "ts/check/pid_roles.h"
#include "ts/input/input_file.h"
#include "ts/programs/pat_table.h"
#include "ts/programs/service_list.h"
#include "ts/section/sdt.h"
#include "ts/stream/continuity_count.h"
#include "ts/stream/gap_watch.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/pcr_track.h"
#include "ts/stream/stretch_counts.h"
#include "ts/tables/table_decoder.h"

using namespace rivulet;

namespace {

constexpr int16_t kNone = -1;
constexpr uint32_t kProgramNumbers = 65536;

// A program's line of the chart under way.
struct ChartLine {
    uint64_t u64Bytes;       // since its last point
    uint64_t u64NextSecond;  // of its PCR duration, in 27 MHz units
    bool bTimed;             // its timed line has been opened
};

struct CheckRun {
    PacketWalk tWalk;
    TableDecoder* pDecoder;                        // the PAT, the CAT, the PMTs and the SDT
    int16_t lnProgramOf[TS_PID_COUNT];             // the program whose line a PID's bytes add to
    int16_t lnIndexOf[kProgramNumbers];            // program number -> program index
    ContinuityState ltState[TS_PID_COUNT];
    PCRTrack ltPCR[TS_PID_COUNT];
    ChartLine ltLine[TS_PAT_MAX_PROGRAMS];
    GapWatch ltGaps[TS_PAT_MAX_PROGRAMS];
    uint64_t u64NextUntimed;                       // input offset of the next untimed points
    uint64_t u64Packets;
    TS_ServiceList tServices;
    TS_CheckResult* pResult;
    TS_CheckSampleCallback onSample;
    void* pUser;
};

// --- Chart points -------------------------------------------------------------

bool isTimed(const CheckRun& run, uint16_t index) {
    uint16_t pcrPID = run.pResult->ltProgram[index].u16PCRPID;
    return pcrPID != TS_PID_NULL && run.ltPCR[pcrPID].u64PCRs > 0;
}

void emit(CheckRun& run, uint8_t kind, uint16_t index, uint64_t offset, uint64_t lost = 0, uint16_t pid = 0) {
    if (!run.onSample) return;
    bool timed = index != TS_CHECK_NO_PROGRAM && isTimed(run, index);
    uint64_t time = timed ? run.ltPCR[run.pResult->ltProgram[index].u16PCRPID].u64Duration : offset;
    TS_CheckSample sample{kind, index, uint8_t(timed), time,
                          kind == TS_SAMPLE_BYTES ? run.ltLine[index].u64Bytes : 0, lost, pid};
    if (kind == TS_SAMPLE_BYTES) run.ltLine[index].u64Bytes = 0;
    run.onSample(&sample, run.pUser);
}

// A program's PCR has moved its duration on: a point at each second passed,
// and one at its first PCR, where its timed line begins.
void onProgramTime(CheckRun& run, uint16_t index, uint64_t offset) {
    ChartLine& line = run.ltLine[index];
    uint64_t duration = run.ltPCR[run.pResult->ltProgram[index].u16PCRPID].u64Duration;
    if (line.bTimed && duration < line.u64NextSecond) return;
    emit(run, TS_SAMPLE_BYTES, index, offset);
    line.bTimed = true;
    line.u64NextSecond = (duration / kPCRHz + 1) * kPCRHz;
}

void onUntimedStep(CheckRun& run, uint64_t offset) {
    for (uint16_t i = 0; i < run.pResult->u16ProgramCount; ++i) {
        if (!isTimed(run, i)) emit(run, TS_SAMPLE_BYTES, i, offset);
    }
    run.u64NextUntimed = (offset / TS_CHECK_UNTIMED_STEP + 1) * TS_CHECK_UNTIMED_STEP;
}

// --- Tables -------------------------------------------------------------------

int16_t programIndex(CheckRun& run, uint16_t number, uint16_t pmtPID) {
    TS_CheckResult& r = *run.pResult;
    int16_t& index = run.lnIndexOf[number];
    if (index == kNone && r.u16ProgramCount < TS_PAT_MAX_PROGRAMS) {
        index = int16_t(r.u16ProgramCount++);
        TS_CheckProgram& program = r.ltProgram[index];
        program = TS_CheckProgram{};
        program.u16ProgramNumber = number;
        program.u16PCRPID = TS_PID_NULL;
        run.ltLine[index] = ChartLine{0, kPCRHz, false};
        gapWatchReset(run.ltGaps[index]);
    }
    if (index != kNone) r.ltProgram[index].u16PMTPID = pmtPID;
    return index;
}

void onPAT(CheckRun& run, const TS_PAT& pat, uint64_t offset) {
    if (const TS_PAT_Program* network = patNetworkEntry(pat)) {
        rolesSetNetwork(run.pResult->ltPID, network->program_map_PID & (TS_PID_COUNT - 1));
    }
    forEachProgram(pat, [&](uint16_t, const TS_PAT_Program& entry) {
        uint16_t pmtPID = entry.program_map_PID & (TS_PID_COUNT - 1);
        int16_t index = programIndex(run, entry.program_number, pmtPID);
        if (index == kNone) return;
        TS_InputGap gap;
        if (gapWatchTransportStream(run.ltGaps[index], pat.transport_stream_id, offset, &gap)) {
            stretchAddGap(run.pResult->ltProgram[index].tVerdict, gap);
        }
        rolesSetPMT(run.pResult->ltPID, pmtPID, entry.program_number);
        if (run.lnProgramOf[pmtPID] == kNone) run.lnProgramOf[pmtPID] = index;
    });
}

void onPMT(CheckRun& run, const TS_PreSection& slot) {
    uint16_t number = 0;
    TS_PreSection_TableIdExtension(&slot, &number);
    int16_t index = run.lnIndexOf[number];
    if (index == kNone) return;
    TS_CheckProgram& program = run.pResult->ltProgram[index];
    rolesFromPMT(run.pResult->ltPID, program, slot);
    for (uint16_t i = 0; i < program.u16PIDCount; ++i) {
        int16_t& owner = run.lnProgramOf[program.lu16PID[i]];
        if (owner == kNone) owner = index;
    }
}

CheckRun& runOf(void* user) { return *static_cast<CheckRun*>(user); }

void takePAT(void* user, const TableSection& section) { onPAT(runOf(user), *section.pPAT, section.u64Offset); }
void takeCAT(void* user, const TableSection& section) { rolesFromCAT(runOf(user).pResult->ltPID, *section.pSlot); }
void takeSDT(void* user, const TableSection& section) { addSDTServices(&runOf(user).tServices, *section.pSlot); }
void takePMT(void* user, const TableSection& section) { onPMT(runOf(user), *section.pSlot); }

bool subscribe(CheckRun& run) {
    return tableSubscribe(run.pDecoder, TableKind::PAT, takePAT, &run) == 0 &&
           tableSubscribe(run.pDecoder, TableKind::CAT, takeCAT, &run) == 0 &&
           tableSubscribe(run.pDecoder, TableKind::SDTActual, takeSDT, &run) == 0 &&
           tableSubscribe(run.pDecoder, TableKind::PMT, takePMT, &run) == 0;
}

// --- Packets ------------------------------------------------------------------

void watchGaps(CheckRun& run, uint16_t program, const PacketFlags& flags, bool ccError, uint64_t offset) {
    const bool stream = isStreamKind(kindOfRole(run.pResult->ltPID[flags.u16PID].u8Role));
    TS_InputGap gaps[kGapsOfAPacket];
    const uint32_t found = gapWatchPacket(run.ltGaps[program], flags, stream, ccError, offset, gaps);
    for (uint32_t g = 0; g < found; ++g) stretchAddGap(run.pResult->ltProgram[program].tVerdict, gaps[g]);
}

bool onPacket(CheckRun& run, const uint8_t* packet, const TS_Packet& header) {
    const uint64_t offset = packetOffset(run.tWalk, packet);
    const PacketFlags flags = readPacketFlags(packet);
    const uint16_t pid = flags.u16PID;
    const int16_t program = run.lnProgramOf[pid];
    ++run.u64Packets;
    if (program != kNone) run.ltLine[program].u64Bytes += TS_PACKET_SIZE;
    CountedPacket counted = countPacket(run.ltState[pid], run.pResult->ltPID[pid], flags);
    if (program != kNone) watchGaps(run, uint16_t(program), flags, counted.ccError, offset);
    if (counted.ccError) {
        uint16_t line = program != kNone ? uint16_t(program) : TS_CHECK_NO_PROGRAM;
        emit(run, TS_SAMPLE_CC_ERROR, line, offset, counted.u8Lost, pid);
    }
    if (flags.tei) return true;
    if (flags.hasPCR) {
        pcrTrackAdd(run.ltPCR[pid], flags.u64PCR, flags.discontinuity);
        // PCRs are few: a look at every program costs little.
        for (uint16_t i = 0; i < run.pResult->u16ProgramCount; ++i) {
            if (run.pResult->ltProgram[i].u16PCRPID == pid) onProgramTime(run, i, offset);
        }
    }
    if (offset >= run.u64NextUntimed) onUntimedStep(run, offset);
    tableDecoderFeed(run.pDecoder, packet, header, offset);
    return true;
}

// --- The result ---------------------------------------------------------------

void fillPIDs(CheckRun& run) {
    TS_CheckResult& r = *run.pResult;
    for (uint32_t pid = 0; pid < TS_PID_COUNT; ++pid) {
        const PCRTrack& t = run.ltPCR[pid];
        TS_CheckPID& out = r.ltPID[pid];
        out.u64PCRs = t.u64PCRs;
        out.u64PCRDiscontinuities = t.u64Discontinuities;
        out.u64PCRDuration = t.u64Duration;
        if (t.u64Duration > r.u64Duration) r.u64Duration = t.u64Duration;
    }
}

void addCounts(TS_PIDCounts& to, const TS_PIDCounts& from) {
    to.u64Packets += from.u64Packets;
    to.u64CCErrors += from.u64CCErrors;
    to.u64LostPackets += from.u64LostPackets;
    to.u64Duplicates += from.u64Duplicates;
    to.u64TEI += from.u64TEI;
    to.u64Scrambled += from.u64Scrambled;
}

// The verdict's counts: each of the program's PIDs under its kind, and the PAT's.
void addKinds(const TS_CheckResult& r, TS_CheckProgram& p) {
    addCounts(p.tVerdict.ltKind[TS_KIND_PSI], r.ltPID[TS_PID_PAT]);
    for (uint16_t k = 0; k < p.u16PIDCount; ++k) {
        const TS_CheckPID& pid = r.ltPID[p.lu16PID[k]];
        const uint8_t kind = kindOfRole(pid.u8Role);
        if (kind < TS_KIND_COUNT) addCounts(p.tVerdict.ltKind[kind], pid);
    }
}

void fillPrograms(CheckRun& run) {
    TS_CheckResult& r = *run.pResult;
    r.u8ISDB = run.tServices.u8ISDB;
    for (uint16_t i = 0; i < r.u16ProgramCount; ++i) {
        TS_CheckProgram& p = r.ltProgram[i];
        if (!p.u8HasPMT) p.lu16PID[p.u16PIDCount++] = p.u16PMTPID;
        if (p.u16PCRPID != TS_PID_NULL) p.u64Duration = run.ltPCR[p.u16PCRPID].u64Duration;
        for (uint16_t k = 0; k < p.u16PIDCount; ++k) {
            const TS_CheckPID& pid = r.ltPID[p.lu16PID[k]];
            p.u64Packets += pid.u64Packets;
            p.u64CCErrors += pid.u64CCErrors;
            p.u64LostPackets += pid.u64LostPackets;
            p.u64TEI += pid.u64TEI;
            p.u64Scrambled += pid.u64Scrambled;
        }
        addKinds(r, p);
        copyServiceName(run.tServices, p.u16ProgramNumber, &p.u8ServiceNameLength, p.lu8ServiceName);
        if (run.ltLine[i].u64Bytes > 0) emit(run, TS_SAMPLE_BYTES, i, run.tWalk.tStats.u64End);
    }
}

void resetRun(CheckRun& run, TS_CheckResult* result, TS_CheckSampleCallback onSample, void* user) {
    std::memset(result, 0, sizeof *result);
    rolesReset(result->ltPID);
    run.pResult = result;
    run.onSample = onSample;
    run.pUser = user;
    for (int16_t& i : run.lnProgramOf) i = kNone;
    for (int16_t& i : run.lnIndexOf) i = kNone;
    std::memset(run.ltState, 0, sizeof run.ltState);
    std::memset(run.ltPCR, 0, sizeof run.ltPCR);
    run.u64NextUntimed = TS_CHECK_UNTIMED_STEP;
    run.u64Packets = 0;
    run.tServices.u16Count = 0;
    run.tServices.u8ISDB = 0;
}

// A check stopped by a signal after its first packet has figures to give,
// and no outputs to speak of: the caller tells what was read.
int32_t checkEnd(WalkEnd end, const char* path, const WalkStats& stats) {
    if (end != WalkEnd::Interrupted || stats.u64Packets == 0) return reportWalkEnd(end, path, stats);
    reportWalkEnd(WalkEnd::Stopped, path, stats);  // the skipped bytes, if any
    return TS_ERR_INTERRUPTED;
}

int32_t checkFile(CheckRun& run, const char* path) {
    if (!walkOpen(&run.tWalk, WalkHook{nullptr, nullptr})) return TS_ERR_NO_MEMORY;
    run.pDecoder = tableDecoderCreate();
    if (!run.pDecoder || !subscribe(run)) {
        tableDecoderDestroy(run.pDecoder);
        walkClose(&run.tWalk);
        return TS_ERR_NO_MEMORY;
    }
    int fd = openInput(path);
    if (fd < 0) {
        tableDecoderDestroy(run.pDecoder);
        walkClose(&run.tWalk);
        return TS_ERR_OPEN_INPUT;
    }
    WalkEnd end = walkFile(run.tWalk, fd, [&](const uint8_t* packet, const TS_Packet& header) {
        return onPacket(run, packet, header);
    });
    int32_t status = checkEnd(end, path, run.tWalk.tStats);
    TS_CheckResult& r = *run.pResult;
    r.u32PacketSize = run.tWalk.tFormat.u32Size;
    r.u64Packets = run.u64Packets;
    r.u64SkippedBytes = run.tWalk.tStats.u64Skipped;
    r.u64Bytes = run.tWalk.u64Base + run.tWalk.u64Size;
    fillPIDs(run);
    fillPrograms(run);
    closeInput(fd);
    tableDecoderDestroy(run.pDecoder);
    walkClose(&run.tWalk);
    return status;
}

}  // namespace

int32_t TS_CheckStream(TS_CheckResult* result, const char* path, TS_CheckSampleCallback onSample, void* pUser) {
    if (!result || !path) return -1;
    CheckRun* run = new (std::nothrow) CheckRun;
    if (!run) return TS_ERR_NO_MEMORY;
    resetRun(*run, result, onSample, pUser);
    int32_t status = checkFile(*run, path);
    delete run;
    return status;
}
