// Extraction of one program, chosen by the PID of its PMT, into a file of the
// caller's choosing. The destination receives, unchanged and in input order,
// every packet of the PMT PID that carries bytes of a section reassembly
// keeps, and the packets of the PCR, CA and elementary stream PIDs of the PMT
// last verified, each packet once. No PAT is written. The pass ends at the
// first verified PAT that no longer announces the PMT PID.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/core/bounded_count.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/output_file.h"
#include "ts/drivers/program_routes.h"
#include "ts/stream/packet_format.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

namespace {

constexpr uint32_t kProgramSlot = 0;
constexpr uint64_t kProgramBit = uint64_t(1) << kProgramSlot;

struct Extraction {
    OutputFile dest;
    ProgramRoutes routes;   // PIDs of the program under the PMT last verified
    const char* destPath;
    uint16_t u16PMTPID;
    int inputFD;
    int32_t status;         // first failure, 0 while all is well
};

Extraction g_extraction;

void resetExtraction(const char* destPath, uint16_t pmtPID) {
    outputReset(&g_extraction.dest);
    routesClear(&g_extraction.routes);
    g_extraction.destPath = destPath;
    g_extraction.u16PMTPID = pmtPID;
    g_extraction.inputFD = -1;
    g_extraction.status = 0;
}

bool announces(const TS_PAT& pat, uint16_t pmtPID) {
    uint32_t count = patEntryCount(pat);
    for (uint32_t i = 0; i < count; ++i) {
        if (pat.programs[i].program_number != 0 && pat.programs[i].program_map_PID == pmtPID) return true;
    }
    return false;
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

// False when the pass ends at this packet: a PAT without the PMT PID, or a
// destination that cannot be opened.
bool handlePATPacket(const uint8_t* packet, const TS_Packet& header) {
    bool goOn = true;
    feedSections(g_tSimpleData.tPATPreSection, TS_PAT_ImportPreSection, packet, header, TS_TABLE_ID_PAT,
                 [&](const TS_PreSection& slot, bool) {
        if (!goOn) return;
        TS_PAT_FromPreSection(&g_tSimpleData.tPAT, &slot);
        if (!announces(g_tSimpleData.tPAT, g_extraction.u16PMTPID)) {
            goOn = false;
        } else if (!outputIsOpen(&g_extraction.dest)) {
            goOn = openDestination();
        }
    });
    return goOn;
}

// Imports a packet of the PMT PID; true when it carries bytes of a section
// that reassembly kept: one completed in it, or one still being gathered.
bool handlePMTPacket(const uint8_t* packet, const TS_Packet& header) {
    SectionFeed feed = feedSections(g_tSimpleData.tPMTPreSection, TS_PMT_ImportPreSection, packet, header,
                                    TS_TABLE_ID_PMT, [&](const TS_PreSection& slot, bool) {
                                        TS_PMT_FromPreSection(&g_tSimpleData.tPMT, &slot, header.PID);
                                        routesSetProgram(&g_extraction.routes, kProgramSlot, &g_tSimpleData.tPMT);
                                    });
    return feed.u32Completed > 0 || (feed.hadPayload && feed.pendingAfter);
}

bool onPacket(const uint8_t* packet, const TS_Packet& header) {
    if (header.PID == TS_PID_PAT) return handlePATPacket(packet, header);
    if (!g_tSimpleData.tPAT.valid) return true;
    bool belongs = header.PID == g_extraction.u16PMTPID && handlePMTPacket(packet, header);
    if (g_tSimpleData.tPMT.valid && (routesOf(&g_extraction.routes, header.PID) & kProgramBit)) belongs = true;
    if (belongs && outputWrite(&g_extraction.dest, outputUnit(packet), outputUnitSize()) != 0) {
        g_extraction.status = TS_ERR_WRITE;
        return false;
    }
    return true;
}

}  // namespace

int32_t TS_ProgramSplitStream(const char* destPath, const char* srcPath, uint16_t pmtPID) {
    if (!destPath || !srcPath) return -1;
    TS_InitialiseSimple(&g_tSimpleData);
    resetExtraction(destPath, pmtPID);
    g_extraction.inputFD = openInput(srcPath);
    if (g_extraction.inputFD < 0) return TS_ERR_OPEN_INPUT;

    WalkEnd end = walkPackets(g_tSimpleData, g_extraction.inputFD, onPacket);
    int32_t status = g_extraction.status != 0 ? g_extraction.status : reportWalkEnd(end, srcPath);
    int32_t closed = outputClose(&g_extraction.dest);
    closeInput(g_extraction.inputFD);
    return status != 0 ? status : closed;
}
