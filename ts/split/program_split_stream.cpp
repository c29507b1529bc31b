// Extraction of one program, chosen by the PID of its PMT or by its program
// number, into a file of the caller's choosing. The destination receives,
// unchanged and in input order, every packet of the PMT PID that carries
// bytes of a section reassembly keeps, and the packets of the PCR, CA and
// elementary stream PIDs of the PMT last verified, each packet once. No PAT
// is written. The pass ends at the first whole PAT that no longer announces
// the program; a program chosen by number follows its PMT PID from PAT to PAT.
#include <cstdio>
#include <cstring>
#include <new>

#include "rivulet/file_split.h"
#include "rivulet/split.h"
#include "ts/core/bit_set.h"
#include "ts/core/bounded_count.h"
#include "ts/input/input_file.h"
#include "ts/output/output_file.h"
#include "ts/programs/pat_table.h"
#include "ts/programs/program_routes.h"
#include "ts/split/component_stage.h"
#include "ts/split/si_carrier.h"
#include "ts/stream/packet_format.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/section_feed.h"
#include "ts/tables/table_decoder.h"

using namespace rivulet;

namespace {

constexpr uint32_t kProgramSlot = 0;
constexpr uint64_t kProgramBit = uint64_t(1) << kProgramSlot;

struct Extraction;

// The end of the chain when components are left out: the destination.
struct DestinationSink {
    OutputStage tStage;  // first: the chain knows the sink by it
    Extraction* pOwner;
};

struct Extraction {
    OutputFile dest;
    ProgramRoutes routes;   // PIDs of the program under the PMT last verified
    TableDecoder* pDecoder;
    const char* destPath;
    TS_ExtractOptions options;
    uint16_t u16ProgramNumber;  // of the chosen program, as the last PAT has it
    uint16_t u16PMTPID;
    uint16_t u16NetworkPID;     // of the last PAT, for --si
    SICarrier si;
    uint8_t u8Announced;    // a PAT has announced the program
    uint8_t u8Ended;        // a PAT ended the pass
    int inputFD;
    int32_t status;         // first failure, 0 while all is well
    uint64_t u64At;         // input offset of the packet in hand
    uint64_t streamPIDs[TS_PID_COUNT / 64];  // PIDs a PAT or PMT has named: never service information
    OutputQueue tQueue;
    PacketWalk tWalk;
    LogSink tLog;           // where its messages go
    // With components left out (--drop, --audio), each unit goes to the
    // destination through the component stage, in front of tSink.
    ComponentStage* pComponents;
    DestinationSink tSink;
};

Extraction& sinkOwner(OutputStage* stage) { return *reinterpret_cast<DestinationSink*>(stage)->pOwner; }

UnitOrigin sinkArrived(OutputStage*, const uint8_t*, const TS_Packet&, uint64_t offset) { return plainOrigin(offset); }
int32_t sinkOpen(OutputStage*, uint32_t, const FileToOpen&) { return 0; }
int32_t sinkWrite(OutputStage* stage, uint32_t, const uint8_t* unit, bool copy, const UnitOrigin&) {
    Extraction& x = sinkOwner(stage);
    const uint32_t size = outputUnitSize(x.tWalk.tFormat);
    return (copy ? outputWriteCopy(&x.dest, unit, size) : outputWrite(&x.dest, unit, size)) == 0 ? 0 : TS_ERR_WRITE;
}
int32_t sinkMove(OutputStage*, uint32_t, uint32_t) { return 0; }
int32_t sinkClose(OutputStage*, uint32_t) { return 0; }
bool sinkIsOpen(const OutputStage*, uint32_t) { return true; }
const char* sinkPath(const OutputStage*, uint32_t) { return ""; }
uint64_t sinkWritten(const OutputStage*, uint32_t) { return 0; }

constexpr OutputStageCalls kDestinationCalls{sinkArrived, sinkOpen,   sinkWrite, sinkMove,
                                             sinkClose,   sinkIsOpen, sinkPath,  sinkWritten};

// A unit for the destination, through the component stage when there is one.
int32_t writeUnit(Extraction& x, const uint8_t* unit, bool copy, uint64_t offset) {
    if (!x.pComponents) return sinkWrite(&x.tSink.tStage, 0, unit, copy, plainOrigin(offset));
    return stageWrite(&x.pComponents->tStage, 0, unit, copy, plainOrigin(offset));
}

// The component stage's file is the program's, on its PMT PID of the moment.
int32_t openComponents(Extraction& x, uint64_t offset) {
    if (!x.pComponents) return 0;
    const TS_PNSplitEntry entry{x.u16ProgramNumber, x.u16PMTPID, 0, 0, -1};
    return stageOpen(&x.pComponents->tStage, 0, FileToOpen{&entry, offset, false, -1});
}


void resetExtraction(Extraction& x, const char* destPath, const LogSink& log) {
    x.tLog = log;
    TS_InitialiseSimple(&g_tSimpleData);
    outputReset(&x.dest);
    outputQueueReset(&x.tQueue);
    std::memset(x.streamPIDs, 0, sizeof x.streamPIDs);
    routesClear(&x.routes);
    x.destPath = destPath;
    x.u8Announced = 0;
    x.u8Ended = 0;
    x.inputFD = -1;
    x.status = 0;
}

// The entry of the chosen program in `pat`, or null.
const TS_PAT_Program* chosenEntry(Extraction& x, const TS_PAT& pat) {
    const TS_PAT_Program* chosen = nullptr;
    forEachProgram(pat, [&](uint16_t, const TS_PAT_Program& p) {
        bool match = x.options.u8ByNumber ? p.program_number == x.options.u16ProgramNumber
                                          : p.program_map_PID == x.options.u16PMTPID;
        if (match && !chosen) chosen = &p;
    });
    return chosen;
}

// The input itself is refused as destination before anything is opened, so
// that it is never truncated.
bool openDestination(Extraction& x) {
    OutputPlace place{x.inputFD, nullptr, &x.tQueue, outputUnitSize(x.tWalk.tFormat), x.tLog};
    if (outputOpen(&x.dest, x.destPath, place) == OpenResult::Opened) {
        return true;
    }
    logMessage(x.tLog, TS_LOG_ERROR, "error - failed on _open(%s) [dest]\n", x.destPath);
    x.status = TS_ERR_OPEN_OUTPUT;
    return false;
}

// False when the pass ends at this PAT: it no longer announces the program,
// or the destination cannot be opened.
bool onPAT(Extraction& x, const TS_PAT& pat) {
    const TS_PAT_Program* entry = chosenEntry(x, pat);
    if (!entry) return false;
    x.u8Announced = 1;
    x.u16ProgramNumber = entry->program_number;
    x.u16NetworkPID = siNetworkPID(pat);
    const bool moved = x.u16PMTPID != entry->program_map_PID;
    x.u16PMTPID = entry->program_map_PID;
    if (outputIsOpen(&x.dest)) return !moved || openComponents(x, x.u64At) == 0;
    siFileOpened(&x.si, 0);
    return openDestination(x) && openComponents(x, x.u64At) == 0;
}

Extraction& extractionOf(void* user) { return *static_cast<Extraction*>(user); }

void takePAT(void* user, const TableSection& section) {
    Extraction& x = extractionOf(user);
    if (x.u8Ended) return;
    g_tSimpleData.tPAT = *section.pPAT;
    forEachProgram(*section.pPAT, [&](uint16_t, const TS_PAT_Program& p) { setBit(x.streamPIDs, p.program_map_PID); });
    x.u8Ended = !onPAT(x, g_tSimpleData.tPAT);
}

// A section of the program's PMT PID (a PMT PID may carry other programs'
// sections too).
void takePMT(void* user, const TableSection& section) {
    Extraction& x = extractionOf(user);
    if (!x.u8Announced || section.u16PID != x.u16PMTPID) return;
    forEachProgramPID(section.pSlot, [&](uint16_t pid) { setBit(x.streamPIDs, pid); });
    uint16_t number = 0;
    TS_PreSection_TableIdExtension(section.pSlot, &number);
    if (number == x.u16ProgramNumber) routesSetProgram(&x.routes, kProgramSlot, section.pSlot);
}

// Whether a packet of the PMT PID carries bytes of one of the program's
// sections that reassembly kept, completed or still being gathered.
bool carriesProgramSection(const Extraction& x, const SectionFeed& feed) {
    // Its own sections' bytes, and those of a section whose program is not known yet.
    bool carried = feed.u8UnknownPending;
    for (uint32_t s = 0; s < feed.u32Extensions; ++s) carried = carried || feed.lu16Extensions[s] == x.u16ProgramNumber;
    return carried;
}

int32_t programOfDestination(void* user, uint32_t) {
    const Extraction& x = *static_cast<const Extraction*>(user);
    return outputIsOpen(&x.dest) ? x.u16ProgramNumber : -1;
}

int32_t writeSIUnit(void* user, uint32_t, const uint8_t* unit) {
    Extraction& x = *static_cast<Extraction*>(user);
    return writeUnit(x, unit, true, x.u64At);
}

void takeSI(void* user, const TableSection& section) {
    Extraction& x = extractionOf(user);
    if (testBit(x.streamPIDs, section.u16PID)) return;
    SITargets targets{1, programOfDestination, writeSIUnit, &x, x.tWalk.tFormat.u32Prefix, nullptr};
    if (siTakeSection(&x.si, section, targets) != 0) x.status = TS_ERR_WRITE;
}

bool subscribe(Extraction& x) {
    bool all = tableSubscribe(x.pDecoder, TableKind::PAT, takePAT, &x) == 0 &&
               tableSubscribe(x.pDecoder, TableKind::PMT, takePMT, &x) == 0;
    if (!x.options.u8ServiceInformation) return all;
    for (TableKind kind : kSICarriedKinds) all = all && tableSubscribe(x.pDecoder, kind, takeSI, &x) == 0;
    return all;
}

// The decoder takes each packet once: a packet of the program's PMT PID
// before it is written, as it decides whether it is; any other after, so
// that service information carried goes out behind the packet that completed it.
bool onPacket(Extraction& x, const uint8_t* packet, const TS_Packet& header) {
    const uint64_t offset = packetOffset(x.tWalk, packet);
    x.u64At = offset;
    if (header.PID == TS_PID_PAT) {
        tableDecoderFeed(x.pDecoder, packet, header, offset);
        return !x.u8Ended;
    }
    const bool si = x.options.u8ServiceInformation;
    const bool streamPID = si && testBit(x.streamPIDs, header.PID);
    const PacketFormat& format = x.tWalk.tFormat;
    bool fed = false;
    if (x.u8Announced) {
        bool belongs = false;
        if (header.PID == x.u16PMTPID) {
            belongs = carriesProgramSection(x, tableDecoderFeed(x.pDecoder, packet, header, offset));
            fed = true;
        }
        if (routesOf(&x.routes, 0, header.PID) & kProgramBit) belongs = true;
        if (si && !streamPID && siIsCopiedPID(header.PID, x.u16NetworkPID)) belongs = true;
        if (belongs && writeUnit(x, outputUnit(format, packet), false, offset) != 0) x.status = TS_ERR_WRITE;
    }
    if (!fed) tableDecoderFeed(x.pDecoder, packet, header, offset);
    if (tableDecoderFailed(*x.pDecoder) && x.status == 0) x.status = TS_ERR_NO_MEMORY;  // said by the decoder
    return x.status == 0;
}

int32_t extract(Extraction& x, const char* srcPath) {
    x.inputFD = openInput(srcPath, x.tLog);
    if (x.inputFD < 0) return TS_ERR_OPEN_INPUT;
    WalkEnd end = walkFile(x.tWalk, x.inputFD, [&](const uint8_t* packet, const TS_Packet& header) {
        return onPacket(x, packet, header);
    });
    int32_t status = x.status != 0 ? x.status : reportWalkEnd(end, srcPath, x.tWalk.tStats, x.tLog);
    if (status == 0 && !g_tSimpleData.tPAT.valid) warnNoPAT(srcPath, x.tLog);
    if (status == 0 && x.options.u8ByNumber && !x.u8Announced) status = TS_ERR_NO_PROGRAM;
    int32_t closed = outputClose(&x.dest);
    closeInput(x.inputFD);
    return status != 0 ? status : closed;
}

}  // namespace

int32_t TS_ExtractProgram(const char* destPath, const char* srcPath, const TS_ExtractOptions* options) {
    if (!destPath || !srcPath || !options) return -1;
    Extraction* run = new (std::nothrow) Extraction;
    if (!run) return TS_ERR_NO_MEMORY;
    resetExtraction(*run, destPath, LogSink{options->pfLog, options->pLogUser});
    run->options = *options;
    run->u16PMTPID = options->u8ByNumber ? TS_PID_NULL : options->u16PMTPID;
    int32_t status = TS_ERR_BAD_OPTION;
    ComponentChoice components;
    if (!readComponentChoice(options->u32DropComponents, options->strAudio, run->tLog, &components)) {
        delete run;
        return status;
    }
    run->tSink = DestinationSink{OutputStage{&kDestinationCalls, nullptr}, run};
    run->pComponents = choosesComponents(components) ? componentStageCreate(components, false, nullptr, &run->tWalk.tFormat,
                                                                            run->tLog, &run->tSink.tStage)
                                                     : nullptr;
    status = TS_ERR_NO_MEMORY;
    const bool walking = routesReserve(&run->routes, 1) && siReserve(&run->si, 1) &&
                         walkOpen(&run->tWalk, WalkHook{flushQueueHook, &run->tQueue});
    run->pDecoder = walking ? tableDecoderCreate(run->tLog) : nullptr;
    const bool staged = !choosesComponents(components) || run->pComponents;
    if (staged && run->pDecoder && subscribe(*run)) status = extract(*run, srcPath);
    componentStageDestroy(run->pComponents);
    walkClose(&run->tWalk);
    tableDecoderDestroy(run->pDecoder);
    routesFree(&run->routes);
    siFree(&run->si);
    delete run;
    return status;
}

int32_t TS_ProgramSplitStream(const char* destPath, const char* srcPath, uint16_t pmtPID) {
    TS_ExtractOptions options{0, 0, pmtPID, 0};
    return TS_ExtractProgram(destPath, srcPath, &options);
}

int32_t TS_ProgramSplitStreamByNumber(const char* destPath, const char* srcPath, uint16_t programNumber) {
    TS_ExtractOptions options{1, programNumber, 0, 0};
    return TS_ExtractProgram(destPath, srcPath, &options);
}
