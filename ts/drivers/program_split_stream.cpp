// Extraction of one program, chosen by the PID of its PMT or by its program
// number, into a file of the caller's choosing. The destination receives,
// unchanged and in input order, every packet of the PMT PID that carries
// bytes of a section reassembly keeps, and the packets of the PCR, CA and
// elementary stream PIDs of the PMT last verified, each packet once. No PAT
// is written. The pass ends at the first whole PAT that no longer announces
// the program; a program chosen by number follows its PMT PID from PAT to PAT.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/core/bounded_count.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/output_file.h"
#include "ts/drivers/pat_table.h"
#include "ts/drivers/program_routes.h"
#include "ts/drivers/si_carrier.h"
#include "ts/stream/packet_format.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

namespace {

constexpr uint32_t kProgramSlot = 0;
constexpr uint64_t kProgramBit = uint64_t(1) << kProgramSlot;

struct Extraction {
    OutputFile dest;
    ProgramRoutes routes;   // PIDs of the program under the PMT last verified
    PATTable pat;
    const char* destPath;
    TS_ExtractOptions options;
    uint16_t u16ProgramNumber;  // of the chosen program, as the last PAT has it
    uint16_t u16PMTPID;
    uint16_t u16NetworkPID;     // of the last PAT, for --si
    SICarrier si;
    uint8_t u8Announced;    // a PAT has announced the program
    int inputFD;
    int32_t status;         // first failure, 0 while all is well
};

Extraction g_extraction;

void resetExtraction(const char* destPath) {
    TS_InitialiseSimple(&g_tSimpleData);
    outputReset(&g_extraction.dest);
    outputStartRun();
    routesClear(&g_extraction.routes);
    patTableReset(&g_extraction.pat);
    g_extraction.destPath = destPath;
    siReset(&g_extraction.si);
    g_extraction.u8Announced = 0;
    g_extraction.inputFD = -1;
    g_extraction.status = 0;
}

// The entry of the chosen program in `pat`, or null.
const TS_PAT_Program* chosenEntry(const TS_PAT& pat) {
    for (uint32_t i = 0; i < patEntryCount(pat); ++i) {
        const TS_PAT_Program& p = pat.programs[i];
        if (p.program_number == 0) continue;
        bool chosen = g_extraction.options.u8ByNumber ? p.program_number == g_extraction.options.u16ProgramNumber
                                                      : p.program_map_PID == g_extraction.options.u16PMTPID;
        if (chosen) return &p;
    }
    return nullptr;
}

// The input itself is refused as destination before anything is opened, so
// that it is never truncated.
bool openDestination() {
    if (outputOpen(&g_extraction.dest, g_extraction.destPath, g_extraction.inputFD) == OpenResult::Opened) {
        return true;
    }
    std::fprintf(stderr, "error - failed on _open(%s) [dest]\n", g_extraction.destPath);
    g_extraction.status = TS_ERR_OPEN_OUTPUT;
    return false;
}

// False when the pass ends at this PAT: it no longer announces the program,
// or the destination cannot be opened.
bool onPAT(const TS_PAT& pat) {
    const TS_PAT_Program* entry = chosenEntry(pat);
    if (!entry) return false;
    g_extraction.u8Announced = 1;
    g_extraction.u16ProgramNumber = entry->program_number;
    g_extraction.u16NetworkPID = siNetworkPID(pat);
    if (entry->program_map_PID != g_extraction.u16PMTPID) {
        // A section gathered on the PMT PID of before is abandoned.
        g_extraction.u16PMTPID = entry->program_map_PID;
        TS_PreSection_Initialise(&g_tSimpleData.tPMTPreSection);
    }
    if (outputIsOpen(&g_extraction.dest)) return true;
    siFileOpened(&g_extraction.si, 0);
    return openDestination();
}

bool handlePATPacket(const uint8_t* packet, const TS_Packet& header) {
    bool goOn = true;
    feedSections(g_tSimpleData.tPATPreSection, TS_PAT_ImportPreSection, packet, header, TS_TABLE_ID_PAT,
                 [&](const TS_PreSection& slot, bool) {
                     if (!goOn || !patTableAdd(&g_extraction.pat, &slot)) return;
                     g_tSimpleData.tPAT = g_extraction.pat.tWhole;
                     goOn = onPAT(g_tSimpleData.tPAT);
                 });
    return goOn;
}

// Imports a packet of the PMT PID; true when it carries bytes of one of the
// program's sections that reassembly kept, completed or still being gathered
// (a PMT PID may carry other programs' sections too).
bool handlePMTPacket(const uint8_t* packet, const TS_Packet& header) {
    const uint16_t program = g_extraction.u16ProgramNumber;
    SectionFeed feed = feedSections(g_tSimpleData.tPMTPreSection, TS_PMT_ImportPreSection, packet, header,
                                    TS_TABLE_ID_PMT, [&](const TS_PreSection& slot, bool) {
                                        uint16_t number = 0;
                                        TS_PreSection_TableIdExtension(&slot, &number);
                                        if (number == program) routesSetProgram(&g_extraction.routes, kProgramSlot, &slot);
                                    });
    // Its own sections' bytes, and those of a section whose program is not known yet.
    bool carried = feed.u8UnknownPending;
    for (uint32_t s = 0; s < feed.u32Extensions; ++s) carried = carried || feed.lu16Extensions[s] == program;
    return carried;
}

int32_t programOfDestination(uint32_t) {
    return outputIsOpen(&g_extraction.dest) ? g_extraction.u16ProgramNumber : -1;
}

int32_t writeSIUnit(uint32_t, const uint8_t* unit) {
    return outputWriteCopy(&g_extraction.dest, unit, outputUnitSize());
}

bool onPacket(const uint8_t* packet, const TS_Packet& header) {
    if (header.PID == TS_PID_PAT) return handlePATPacket(packet, header);
    const bool si = g_extraction.options.u8ServiceInformation;
    if (g_extraction.u8Announced) {
        bool belongs = header.PID == g_extraction.u16PMTPID && handlePMTPacket(packet, header);
        if (routesOf(&g_extraction.routes, header.PID) & kProgramBit) belongs = true;
        if (si && siIsCopiedPID(header.PID, g_extraction.u16NetworkPID)) belongs = true;
        if (belongs && outputWrite(&g_extraction.dest, outputUnit(packet), outputUnitSize()) != 0) {
            g_extraction.status = TS_ERR_WRITE;
        }
    }
    if (si && siIsSectionPID(header.PID)) {
        SITargets targets{1, programOfDestination, writeSIUnit};
        if (siFeed(&g_extraction.si, packet, header, targets) != 0) g_extraction.status = TS_ERR_WRITE;
    }
    return g_extraction.status == 0;
}

int32_t extract(const char* srcPath) {
    g_extraction.inputFD = openInput(srcPath);
    if (g_extraction.inputFD < 0) return TS_ERR_OPEN_INPUT;
    WalkEnd end = walkPackets(g_tSimpleData, g_extraction.inputFD, onPacket);
    int32_t status = g_extraction.status != 0 ? g_extraction.status : reportWalkEnd(end, srcPath);
    if (status == 0 && !g_tSimpleData.tPAT.valid) warnNoPAT(srcPath);
    if (status == 0 && g_extraction.options.u8ByNumber && !g_extraction.u8Announced) status = TS_ERR_NO_PROGRAM;
    int32_t closed = outputClose(&g_extraction.dest);
    closeInput(g_extraction.inputFD);
    return status != 0 ? status : closed;
}

}  // namespace

int32_t TS_ExtractProgram(const char* destPath, const char* srcPath, const TS_ExtractOptions* options) {
    if (!destPath || !srcPath || !options) return -1;
    resetExtraction(destPath);
    g_extraction.options = *options;
    g_extraction.u16PMTPID = options->u8ByNumber ? TS_PID_NULL : options->u16PMTPID;
    return extract(srcPath);
}

int32_t TS_ProgramSplitStream(const char* destPath, const char* srcPath, uint16_t pmtPID) {
    TS_ExtractOptions options{0, 0, pmtPID, 0};
    return TS_ExtractProgram(destPath, srcPath, &options);
}

int32_t TS_ProgramSplitStreamByNumber(const char* destPath, const char* srcPath, uint16_t programNumber) {
    TS_ExtractOptions options{1, programNumber, 0, 0};
    return TS_ExtractProgram(destPath, srcPath, &options);
}
