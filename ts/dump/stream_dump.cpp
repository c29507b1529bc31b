// ts/dump: the text dump of a whole stream.
//
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

#include <new>

#include "rivulet/drivers.h"
#include "rivulet/file_split.h"
#include "ts/core/bounded_count.h"
#include "ts/input/input_file.h"
#include "ts/programs/pat_table.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/section_feed.h"
#include "ts/tables/table_decoder.h"

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
    TableDecoder* pDecoder;  // every section of the PAT and the CAT, damaged or not
    PATTable tPATTable;
    TS_PAT tPATSection;  // the section just shown
    PacketWalk tWalk;
    LogSink tLog;  // where its messages go
};

void warnOnce(const LogSink& log, uint8_t& warned, const char* what) {
    if (warned) return;
    warned = 1;
    logMessage(log, TS_LOG_WARNING, "Warning: %s.\n", what);
}

bool selected(const DumpState& d, uint32_t flag) { return (d.u32Flags & flag) != 0; }

// Called before anything a packet prints.
void beginOutput(DumpState& d) {
    if (!d.u8SeparatorPending) return;
    d.u8SeparatorPending = 0;
    std::fputs(kSeparator, stdout);
}

void printWithHeader(DumpState& d, const TS_Packet& header) {
    beginOutput(d);
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
uint16_t programCount(DumpState& d) {
    uint16_t count = patEntryCount(g_tData.tPAT);
    if (count > TS_MAX_PMT_RECORDS) {
        warnOnce(d.tLog, d.u8WarnedPrograms,
                 "the PAT lists more than 64 programs; the PMTs of the first 64 are followed");
    }
    return uint16_t(boundedCount(count, TS_MAX_PMT_RECORDS));
}

// Flushes the dump; TS_ERR_WRITE after "Error: Failed write standard output."
// when any of it could not be written (the error is then cleared: it is told).
int32_t finishOutput(const LogSink& log, int32_t status) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::clearerr(stdout);
    logMessage(log, TS_LOG_ERROR, "Error: Failed write standard output.\n");
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

DumpState& dumpOf(void* user) { return *static_cast<DumpState*>(user); }

// Each PAT section is shown as it came; the programs followed are those of
// the last whole table, all its sections together.
void takePAT(void* user, const TableSection& section) {
    DumpState& d = dumpOf(user);
    if (patTableAdd(&d.tPATTable, section.pSlot)) g_tData.tPAT = d.tPATTable.tWhole;
    if (!selected(d, TS_PRINT_PAT)) return;
    TS_PAT_FromPreSection(&d.tPATSection, section.pSlot);
    printWithHeader(d, d.tPacket);
    TS_PAT_Print(&d.tPATSection);
}

void takeCAT(void* user, const TableSection& section) {
    DumpState& d = dumpOf(user);
    TS_CAT_FromPreSection(&g_tData.tCAT, section.pSlot);
    if (!selected(d, TS_PRINT_CAT)) return;
    printWithHeader(d, d.tPacket);
    TS_CAT_Print(&g_tData.tCAT);
}

// Feeds the packet to the PMT slot of PAT entry i; true when a section
// completed there.
bool importPMT(DumpState& d, uint16_t i, const uint8_t* packet, const TS_Packet& header) {
    TS_PMT& pmt = g_tData.ltPMT[i];
    SectionFeed feed = feedSections(g_tData.ltPMTPreSection[i], TS_PMT_ImportPreSection, packet, header, kAnyTableId,
                                    [&](const TS_PreSection& slot, bool) {
                                        TS_PMT_FromPreSection(&pmt, &slot, header.PID);
                                        if (pmt.truncated) {
                                            warnOnce(d.tLog, d.u8WarnedTruncated,
                                                     "a PMT lists more streams or descriptors than a record holds; "
                                                     "the dump leaves the rest out");
                                        }
                                        if (!selected(d, TS_PRINT_PMT)) return;
                                        printWithHeader(d, header);
                                        TS_PMT_Print(&pmt);
                                    });
    return feed.u32Completed > 0;
}

// PMT slots go by position in the PAT's program loop. A PID that several
// entries name goes to each of their slots in turn, up to the first one in
// which a section completes.
void handlePMT(DumpState& d, const uint8_t* packet, const TS_Packet& header) {
    const TS_PAT& pat = g_tData.tPAT;
    for (uint16_t i = 0; i < programCount(d); ++i) {
        const TS_PAT_Program& program = pat.programs[i];
        if (program.program_number == 0 || program.program_map_PID != header.PID) continue;
        if (importPMT(d, i, packet, header)) return;
    }
}

// --- Streams the PMTs name -------------------------------------------------------

bool isValidPMT(uint16_t i) { return g_tData.ltPMT[i].valid != 0; }

bool isPMTCAPID(DumpState& d, uint16_t pid) {
    for (uint16_t i = 0; i < programCount(d); ++i) {
        uint16_t caPID;
        if (isValidPMT(i) && TS_GetCAPIDFromPMT(&caPID, &g_tData.ltPMT[i]) == 0 && caPID == pid) return true;
    }
    return false;
}

bool isCATCAPID(uint16_t pid) {
    uint16_t caPID;
    return g_tData.tCAT.valid && TS_GetCAPIDFromCAT(&caPID, &g_tData.tCAT) == 0 && caPID == pid;
}

bool isElementaryStreamPID(DumpState& d, uint16_t pid) {
    for (uint16_t i = 0; i < programCount(d); ++i) {
        if (isValidPMT(i) && TS_IsStreamPIDOfPMT(&g_tData.ltPMT[i], pid)) return true;
    }
    return false;
}

// Only packets whose adaptation field carries a PCR give a clock line; the
// PCR is recorded for the first program that uses the PID as its clock.
void handlePCR(DumpState& d, const TS_Packet& header) {
    bool carriesPCR = (header.adaptation_field_control & 2) && header.adaptation_field.PCR_flag;
    if (!carriesPCR) return;
    for (uint16_t i = 0; i < programCount(d); ++i) {
        if (!isValidPMT(i) || g_tData.ltPMT[i].PCR_PID != header.PID) continue;
        TS_PCR& pcr = g_tData.ltPCR[i];
        TS_PCR_FromAdaptationField(&pcr, &header.adaptation_field);
        printWithHeader(d, header);
        TS_PCR_Print(&pcr);
        return;
    }
}

// Sections on a CA PID, whichever of the programs or the CAT names it, are
// gathered in one slot: a packet is fed to it once.
void handleCASections(DumpState& d, TS_PreSection& slot, TS_Section_Private& section, const uint8_t* packet,
                      const TS_Packet& header, int32_t (*print)(const TS_Section_Private*)) {
    feedSections(slot, TS_Section_ImportPreSection, packet, header, kAnyTableId, [&](const TS_PreSection&, bool) {
        TS_Section_PrivateFromPreSection(&section, &slot);
        printWithHeader(d, header);
        print(&section);
    });
}

// --- One packet ------------------------------------------------------------------

void handleProgramStreams(DumpState& d, const uint8_t* packet, const TS_Packet& header) {
    if (selected(d, TS_PRINT_PCR)) handlePCR(d, header);
    if (selected(d, TS_PRINT_PRIVATE) && isPMTCAPID(d, header.PID)) {
        handleCASections(d, g_tData.tECMPreSection, g_tData.tECM, packet, header, TS_Section_PrintPrivate);
    }
    if (selected(d, TS_PRINT_EMM) && isCATCAPID(header.PID)) {
        handleCASections(d, g_tData.tEMMPreSection, g_tData.tEMM, packet, header, TS_Section_PrintEMM);
    }
    if (selected(d, TS_PRINT_ES) && isElementaryStreamPID(d, header.PID)) {
        beginOutput(d);
        TS_Packet_Print(&header);
    }
}

// Streams of other than 188-byte packets say so before their first packet.
void printPacketFormat(DumpState& d) {
    if (d.u8FormatShown) return;
    d.u8FormatShown = 1;
    if (d.tWalk.tFormat.u32Size != TS_PACKET_SIZE) std::printf("Packet size: %u bytes\n", d.tWalk.tFormat.u32Size);
}

// Packet and clock lines show the adaptation field: then the packet is parsed
// whole, into one record kept from packet to packet; tables need its header only.
bool dumpPacket(DumpState& d, const uint8_t* packet) {
    TS_Packet& header = d.tPacket;
    if (selected(d, TS_PRINT_PACKET | TS_PRINT_ES | TS_PRINT_PCR)) {
        TS_Packet_Get(&header, packet);
    } else {
        TS_Packet_GetHeader(&header, packet);
    }
    printPacketFormat(d);
    d.u8SeparatorPending = 1;
    if (selected(d, TS_PRINT_PIDLIST)) notePID(header.PID);
    if (selected(d, TS_PRINT_PACKET)) {
        beginOutput(d);
        TS_Packet_Print(&header);
    }
    tableDecoderFeed(d.pDecoder, packet, header, packetOffset(d.tWalk, packet));
    if (g_tData.tPAT.valid) {
        handlePMT(d, packet, header);
        if (header.PID != TS_PID_PAT) handleProgramStreams(d, packet, header);
    }
    // Output that can no longer be written ends the dump.
    return !std::ferror(stdout);
}

}  // namespace

int32_t TS_Print(const char* path, uint32_t flags) {
    if (!path) return -1;
    bufferStdout();
    TS_Initialise(&g_tData);
    const LogSink log{};  // no options: standard error
    DumpState* dump = new (std::nothrow) DumpState;
    if (!dump) return TS_ERR_NO_MEMORY;
    DumpState& d = *dump;
    d.u32Flags = flags;
    d.u8SeparatorPending = 0;
    d.u8FormatShown = 0;
    d.u8WarnedPrograms = 0;
    d.u8WarnedTruncated = 0;
    d.tLog = log;
    patTableReset(&d.tPATTable, d.tLog);
    int32_t status = TS_ERR_NO_MEMORY;
    int fd = -1;
    const bool walking = walkOpen(&d.tWalk, WalkHook{nullptr, nullptr});
    d.pDecoder = walking ? tableDecoderCreate() : nullptr;
    if (d.pDecoder && tableSubscribeEvery(d.pDecoder, TableKind::PAT, takePAT, &d) == 0 &&
        tableSubscribeEvery(d.pDecoder, TableKind::CAT, takeCAT, &d) == 0) {
        fd = openInput(path, d.tLog);
        status = TS_ERR_OPEN_INPUT;
    }
    if (fd >= 0) {
        WalkEnd end = walkFile(d.tWalk, fd, [&](const uint8_t* packet, const TS_Packet&) { return dumpPacket(d, packet); });
        status = reportDumpEnd(end, path, d.tWalk.tStats, d.tLog);
        if (selected(d, TS_PRINT_PIDLIST)) printPIDList();
        closeInput(fd);
    }
    tableDecoderDestroy(d.pDecoder);
    walkClose(&d.tWalk);
    delete dump;
    return finishOutput(log, status);
}
