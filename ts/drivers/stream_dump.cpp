// The stream dump: walks a whole transport stream and prints, as selected by
// the caller's flags, its packets, each PAT, CAT, PMT, ECM and EMM section as
// it completes, the PCRs of the programs' clock PIDs, the packets of their
// elementary streams and, at the end, every PID of the file. The PAT, the CAT
// and the PMTs are always reassembled and parsed, damaged or not: the later
// steps depend on them, and a diagnostic dump must show broken tables too.
// Everything a packet causes to be printed stands behind one separator line.
#include <unistd.h>

#include <cstdio>
#include <stdio_ext.h>

#include "rivulet/ts.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/pat_table.h"
#include "ts/core/bounded_count.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

namespace {

constexpr const char* kSeparator = "========================================\n";
// Large enough that a dump into a file or a pipe is written in big pieces.
constexpr size_t kStdoutBufferSize = 1 << 20;

char g_stdoutBuffer[kStdoutBufferSize];

struct DumpState {
    uint32_t u32Flags;
    uint8_t u8SeparatorPending;  // set for each packet until its first output
    uint8_t u8FormatShown;
    uint8_t u8WarnedPrograms;
    uint8_t u8WarnedTruncated;
    TS_Packet tPacket;
    PATTable tPATTable;
    TS_PAT tPATSection;  // the section just shown
};

DumpState g_dump;

void warnOnce(uint8_t& warned, const char* what) {
    if (warned) return;
    warned = 1;
    std::fprintf(stderr, "Warning: %s.\n", what);
}

bool selected(uint32_t flag) { return (g_dump.u32Flags & flag) != 0; }

// Called before anything a packet prints.
void beginOutput() {
    if (!g_dump.u8SeparatorPending) return;
    g_dump.u8SeparatorPending = 0;
    std::fputs(kSeparator, stdout);
}

void printWithHeader(const TS_Packet& header) {
    beginOutput();
    TS_Packet_PrintHeader(&header);
}

// A dump into a file or pipe is fully buffered. The buffering of a stream can
// only be chosen before its first output, which is when it has no buffer yet;
// otherwise it is left as it is.
void bufferStdout() {
    if (::isatty(STDOUT_FILENO) || __fbufsize(stdout) != 0) return;
    std::setvbuf(stdout, g_stdoutBuffer, _IOFBF, sizeof g_stdoutBuffer);
}

// The programs whose PMTs the dump follows: those it keeps records for.
uint16_t programCount() {
    uint16_t count = patEntryCount(g_tData.tPAT);
    if (count > TS_MAX_PMT_RECORDS) warnOnce(g_dump.u8WarnedPrograms, "the PAT lists more than 64 programs; the PMTs of the first 64 are followed");
    return uint16_t(boundedCount(count, TS_MAX_PMT_RECORDS));
}

// Flushes the dump; TS_ERR_WRITE after "Error: Failed write standard output."
// when any of it could not be written (the error is then cleared: it is told).
int32_t finishOutput(int32_t status) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::clearerr(stdout);
    std::fputs("Error: Failed write standard output.\n", stderr);
    return status != 0 ? status : TS_ERR_WRITE;
}

// --- PID list ------------------------------------------------------------------

void notePID(uint16_t pid) {
    if (pid >= TS_PID_COUNT) return;
    uint64_t& word = g_tData.lu64PIDSeen[pid / 64];
    uint64_t bit = uint64_t(1) << (pid % 64);
    if (word & bit) return;
    word |= bit;
    g_tData.lu16PID[g_tData.u16PIDCount++] = pid;
}

void printPIDList() {
    std::fputs(kSeparator, stdout);
    std::puts("PID List:");
    for (uint16_t i = 0; i < g_tData.u16PIDCount; ++i) std::printf("  0x%04X,\n", unsigned(g_tData.lu16PID[i]));
}

// --- PSI tables ----------------------------------------------------------------

// Each PAT section is shown as it came; the programs followed are those of
// the last whole table, all its sections together.
void handlePAT(const uint8_t* packet, const TS_Packet& header) {
    feedSections(g_tData.tPATPreSection, TS_PAT_ImportPreSection, packet, header, kAnyTableId,
                 [&](const TS_PreSection& slot, bool) {
        if (patTableAdd(&g_dump.tPATTable, &slot)) g_tData.tPAT = g_dump.tPATTable.tWhole;
        if (!selected(TS_PRINT_PAT)) return;
        TS_PAT_FromPreSection(&g_dump.tPATSection, &slot);
        printWithHeader(header);
        TS_PAT_Print(&g_dump.tPATSection);
    });
}

void handleCAT(const uint8_t* packet, const TS_Packet& header) {
    feedSections(g_tData.tCATPreSection, TS_CAT_ImportPreSection, packet, header, kAnyTableId,
                 [&](const TS_PreSection& slot, bool) {
        TS_CAT_FromPreSection(&g_tData.tCAT, &slot);
        if (!selected(TS_PRINT_CAT)) return;
        printWithHeader(header);
        TS_CAT_Print(&g_tData.tCAT);
    });
}

// Feeds the packet to the PMT slot of PAT entry i; true when a section
// completed there.
bool importPMT(uint16_t i, const uint8_t* packet, const TS_Packet& header) {
    TS_PMT& pmt = g_tData.ltPMT[i];
    SectionFeed feed = feedSections(g_tData.ltPMTPreSection[i], TS_PMT_ImportPreSection, packet, header, kAnyTableId,
                                    [&](const TS_PreSection& slot, bool) {
                                        TS_PMT_FromPreSection(&pmt, &slot, header.PID);
                                        if (pmt.truncated) {
                                            warnOnce(g_dump.u8WarnedTruncated,
                                                     "a PMT lists more streams or descriptors than a record holds; "
                                                     "the dump leaves the rest out");
                                        }
                                        if (!selected(TS_PRINT_PMT)) return;
                                        printWithHeader(header);
                                        TS_PMT_Print(&pmt);
                                    });
    return feed.u32Completed > 0;
}

// PMT slots go by position in the PAT's program loop. A PID that several
// entries name goes to each of their slots in turn, up to the first one in
// which a section completes.
void handlePMT(const uint8_t* packet, const TS_Packet& header) {
    const TS_PAT& pat = g_tData.tPAT;
    for (uint16_t i = 0; i < programCount(); ++i) {
        const TS_PAT_Program& program = pat.programs[i];
        if (program.program_number == 0 || program.program_map_PID != header.PID) continue;
        if (importPMT(i, packet, header)) return;
    }
}

// --- Streams the PMTs name -------------------------------------------------------

bool isValidPMT(uint16_t i) { return g_tData.ltPMT[i].valid != 0; }

bool isPMTCAPID(uint16_t pid) {
    for (uint16_t i = 0; i < programCount(); ++i) {
        uint16_t caPID;
        if (isValidPMT(i) && TS_GetCAPIDFromPMT(&caPID, &g_tData.ltPMT[i]) == 0 && caPID == pid) return true;
    }
    return false;
}

bool isCATCAPID(uint16_t pid) {
    uint16_t caPID;
    return g_tData.tCAT.valid && TS_GetCAPIDFromCAT(&caPID, &g_tData.tCAT) == 0 && caPID == pid;
}

bool isElementaryStreamPID(uint16_t pid) {
    for (uint16_t i = 0; i < programCount(); ++i) {
        if (isValidPMT(i) && TS_IsStreamPIDOfPMT(&g_tData.ltPMT[i], pid)) return true;
    }
    return false;
}

// Only packets whose adaptation field carries a PCR give a clock line; the
// PCR is recorded for the first program that uses the PID as its clock.
void handlePCR(const TS_Packet& header) {
    bool carriesPCR = (header.adaptation_field_control & 2) && header.adaptation_field.PCR_flag;
    if (!carriesPCR) return;
    for (uint16_t i = 0; i < programCount(); ++i) {
        if (!isValidPMT(i) || g_tData.ltPMT[i].PCR_PID != header.PID) continue;
        TS_PCR& pcr = g_tData.ltPCR[i];
        TS_PCR_FromAdaptationField(&pcr, &header.adaptation_field);
        printWithHeader(header);
        TS_PCR_Print(&pcr);
        return;
    }
}

// Sections on a CA PID, whichever of the programs or the CAT names it, are
// gathered in one slot: a packet is fed to it once.
void handleCASections(TS_PreSection& slot, TS_Section_Private& section, const uint8_t* packet,
                      const TS_Packet& header, int32_t (*print)(const TS_Section_Private*)) {
    feedSections(slot, TS_Section_ImportPreSection, packet, header, kAnyTableId, [&](const TS_PreSection&, bool) {
        TS_Section_PrivateFromPreSection(&section, &slot);
        printWithHeader(header);
        print(&section);
    });
}

// --- One packet ------------------------------------------------------------------

void handleProgramStreams(const uint8_t* packet, const TS_Packet& header) {
    if (selected(TS_PRINT_PCR)) handlePCR(header);
    if (selected(TS_PRINT_PRIVATE) && isPMTCAPID(header.PID)) {
        handleCASections(g_tData.tECMPreSection, g_tData.tECM, packet, header, TS_Section_PrintPrivate);
    }
    if (selected(TS_PRINT_EMM) && isCATCAPID(header.PID)) {
        handleCASections(g_tData.tEMMPreSection, g_tData.tEMM, packet, header, TS_Section_PrintEMM);
    }
    if (selected(TS_PRINT_ES) && isElementaryStreamPID(header.PID)) {
        beginOutput();
        TS_Packet_Print(&header);
    }
}

// Streams of other than 188-byte packets say so before their first packet.
void printPacketFormat() {
    if (g_dump.u8FormatShown) return;
    g_dump.u8FormatShown = 1;
    if (g_tPacketFormat.u32Size != TS_PACKET_SIZE) std::printf("Packet size: %u bytes\n", g_tPacketFormat.u32Size);
}

// Packet and clock lines show the adaptation field: then the packet is parsed
// whole, into one record kept from packet to packet; tables need its header only.
bool dumpPacket(const uint8_t* packet, const TS_Packet&) {
    TS_Packet& header = g_dump.tPacket;
    if (selected(TS_PRINT_PACKET | TS_PRINT_ES | TS_PRINT_PCR)) {
        TS_Packet_Get(&header, packet);
    } else {
        TS_Packet_GetHeader(&header, packet);
    }
    printPacketFormat();
    g_dump.u8SeparatorPending = 1;
    if (selected(TS_PRINT_PIDLIST)) notePID(header.PID);
    if (selected(TS_PRINT_PACKET)) {
        beginOutput();
        TS_Packet_Print(&header);
    }
    if (header.PID == TS_PID_PAT) handlePAT(packet, header);
    if (header.PID == TS_PID_CAT) handleCAT(packet, header);
    if (g_tData.tPAT.valid) {
        handlePMT(packet, header);
        if (header.PID != TS_PID_PAT) handleProgramStreams(packet, header);
    }
    // Output that can no longer be written ends the dump.
    return !std::ferror(stdout);
}

}  // namespace

int32_t TS_Print(const char* path, uint32_t flags) {
    if (!path) return -1;
    bufferStdout();
    TS_Initialise(&g_tData);
    g_dump.u32Flags = flags;
    g_dump.u8SeparatorPending = 0;
    g_dump.u8FormatShown = 0;
    g_dump.u8WarnedPrograms = 0;
    g_dump.u8WarnedTruncated = 0;
    patTableReset(&g_dump.tPATTable);
    int fd = openInput(path);
    if (fd < 0) return finishOutput(TS_ERR_OPEN_INPUT);

    WalkEnd end = walkPackets(g_tData, fd, dumpPacket);
    int32_t status = reportWalkEnd(end, path);
    if (selected(TS_PRINT_PIDLIST)) printPIDList();
    closeInput(fd);
    return finishOutput(status);
}
