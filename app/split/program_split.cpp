// The program splitter: one output file per program of a multi-program
// stream. Every file starts each PAT of the input with a rebuilt PAT that
// lists only its program (behind the network entry), and carries, unchanged
// and in input order, the packets of its PMT, PCR, CA PIDs and elementary
// streams, each packet once.
#include <cstdio>
#include <cstring>

#include "rivulet/ts.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/output_file.h"
#include "ts/drivers/program_routes.h"
#include "ts/section/pat_entries.h"

using namespace rivulet;

TS_PNSplitData g_tPNSplitData;

namespace {

constexpr int16_t kNoEntry = -1;
// "_%d_%d_%d.ts" with three 16-bit numbers at their longest.
constexpr size_t kLongestSuffix = sizeof("_65535_65535_65535.ts") - 1;
constexpr uint32_t kProgramNumbers = 65536;

struct SplitState {
    OutputFile files[TS_SPLIT_MAX_ENTRIES];    // file of split entry e
    ProgramRoutes routes;                      // PID -> split entries
    int16_t patToEntry[TS_PAT_MAX_PROGRAMS];   // split entry of each entry of the current PAT
    uint64_t pmtPIDs[TS_PID_COUNT / 64];       // PMT PIDs of the current PAT
    uint64_t warnedPrograms[kProgramNumbers / 64];
    uint8_t warnedDroppedPrograms;
    int inputFD;
    int32_t status;                            // first failure, 0 while all is well
};

SplitState g_split;

bool testBit(const uint64_t* bits, uint32_t i) { return (bits[i / 64] >> (i % 64)) & 1; }
void setBit(uint64_t* bits, uint32_t i) { bits[i / 64] |= uint64_t(1) << (i % 64); }

void resetSplit() {
    std::memset(&g_tPNSplitData, 0, sizeof g_tPNSplitData);
    for (TS_PNSplitEntry& e : g_tPNSplitData.ltEntry) e.nFD = -1;
    for (OutputFile& f : g_split.files) outputReset(&f);
    routesClear(&g_split.routes);
    for (int16_t& e : g_split.patToEntry) e = kNoEntry;
    std::memset(g_split.pmtPIDs, 0, sizeof g_split.pmtPIDs);
    std::memset(g_split.warnedPrograms, 0, sizeof g_split.warnedPrograms);
    g_split.warnedDroppedPrograms = 0;
    g_split.inputFD = -1;
    g_split.status = 0;
}

int32_t closeAll() {
    int32_t status = 0;
    for (uint16_t e = 0; e < g_tPNSplitData.u16Count; ++e) {
        int32_t closed = outputClose(&g_split.files[e]);
        if (status == 0) status = closed;
        g_tPNSplitData.ltEntry[e].nFD = -1;
    }
    return status;
}

void fail(int32_t status) {
    if (g_split.status == 0) g_split.status = status;
}

// --- Output files -----------------------------------------------------------

bool openEntryFile(uint16_t e) {
    TS_PNSplitEntry& entry = g_tPNSplitData.ltEntry[e];
    int length = std::snprintf(g_strString2, sizeof g_strString2, "%s_%d_%d_%d.ts", g_strString1,
                               entry.u16ProgramNumber, entry.u16Duplicate, entry.u16Revision);
    if (length < 0 || size_t(length) >= sizeof g_strString2 ||
        outputOpen(&g_split.files[e], g_strString2, g_split.inputFD) != OpenResult::Opened) {
        std::fprintf(stderr, "Error: Failed open %s.\n", g_strString2);
        fail(TS_ERR_OPEN_OUTPUT);
        return false;
    }
    entry.nFD = g_split.files[e].nFD;
    return true;
}

void closeEntryFile(uint16_t e) {
    int32_t status = outputClose(&g_split.files[e]);
    if (status != 0) fail(status);
    g_tPNSplitData.ltEntry[e].nFD = -1;
}

void writeToEntries(uint64_t entries, const uint8_t* packet) {
    while (entries) {
        uint32_t e = uint32_t(__builtin_ctzll(entries));
        entries &= entries - 1;
        if (outputWrite(&g_split.files[e], packet, TS_PACKET_SIZE) != 0) fail(TS_ERR_WRITE);
    }
}

// --- PAT --------------------------------------------------------------------

int16_t findEntry(uint16_t programNumber, uint16_t duplicate) {
    for (uint16_t e = 0; e < g_tPNSplitData.u16Count; ++e) {
        const TS_PNSplitEntry& entry = g_tPNSplitData.ltEntry[e];
        if (entry.u16ProgramNumber == programNumber && entry.u16Duplicate == duplicate) return int16_t(e);
    }
    return kNoEntry;
}

int16_t createEntry(uint16_t programNumber, uint16_t duplicate) {
    if (g_tPNSplitData.u16Count >= TS_SPLIT_MAX_ENTRIES) {
        if (!testBit(g_split.warnedPrograms, programNumber)) {
            setBit(g_split.warnedPrograms, programNumber);
            std::fprintf(stderr, "Warning: program %d skipped: more than %u programs.\n", programNumber,
                         TS_SPLIT_MAX_ENTRIES);
        }
        return kNoEntry;
    }
    uint16_t e = g_tPNSplitData.u16Count++;
    TS_PNSplitEntry& entry = g_tPNSplitData.ltEntry[e];
    entry.u16ProgramNumber = programNumber;
    entry.u16Duplicate = duplicate;
    entry.u16Revision = 0;
    entry.nFD = -1;
    return int16_t(e);
}

uint16_t duplicateIndex(const TS_PAT& pat, uint16_t i) {
    uint16_t d = 0;
    for (uint16_t j = 0; j < i; ++j) d += pat.programs[j].program_number == pat.programs[i].program_number;
    return d;
}

const TS_PAT_Program* networkEntry(const TS_PAT& pat) {
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        if (pat.programs[i].program_number == 0) return &pat.programs[i];
    }
    return nullptr;
}

// The PAT of one program's file: the network entry, if the input has one,
// and the program. Always a plain payload-only packet on PID 0.
void buildProgramPAT(uint8_t* out, const TS_Packet& completing, const TS_PAT& pat,
                     const TS_PAT_Program& program) {
    TS_PAT single = pat;
    single.program_count = 0;
    if (const TS_PAT_Program* network = networkEntry(pat)) single.programs[single.program_count++] = *network;
    single.programs[single.program_count++] = program;
    single.section_length = uint16_t(9 + 4 * single.program_count);

    TS_Packet header{};
    header.sync_byte = TS_SYNC_BYTE;
    header.payload_unit_start_indicator = 1;
    header.transport_priority = completing.transport_priority;
    header.PID = TS_PID_PAT;
    header.adaptation_field_control = 1;
    header.continuity_counter = completing.continuity_counter;
    TS_PAT_ToPacket(out, &header, &single);
}

void warnDroppedPrograms(const TS_PAT& pat) {
    uint32_t dropped = TS_PAT_DroppedPrograms(&pat);
    if (dropped == 0 || g_split.warnedDroppedPrograms) return;
    g_split.warnedDroppedPrograms = 1;
    std::fprintf(stderr, "Warning: the PAT lists %u programs more than the %u that can be followed; they are skipped.\n",
                 dropped, TS_PAT_MAX_PROGRAMS);
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
// return) carries the next revision number.
void closeDepartedPrograms(const TS_PAT& pat) {
    for (uint16_t e = 0; e < g_tPNSplitData.u16Count; ++e) {
        TS_PNSplitEntry& entry = g_tPNSplitData.ltEntry[e];
        if (patListsPair(pat, entry)) continue;
        if (outputIsOpen(&g_split.files[e])) closeEntryFile(e);
        routesClearProgram(&g_split.routes, e);
        ++entry.u16Revision;
    }
}

void onPAT(const TS_Packet& completing) {
    const TS_PAT& pat = g_tData.tPAT;
    warnDroppedPrograms(pat);
    std::memset(g_split.pmtPIDs, 0, sizeof g_split.pmtPIDs);
    uint8_t packet[TS_PACKET_SIZE];
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        const TS_PAT_Program& program = pat.programs[i];
        g_split.patToEntry[i] = kNoEntry;
        if (program.program_number == 0) continue;
        uint16_t duplicate = duplicateIndex(pat, i);
        int16_t e = findEntry(program.program_number, duplicate);
        if (e == kNoEntry) e = createEntry(program.program_number, duplicate);
        if (e == kNoEntry) continue;
        g_tPNSplitData.ltEntry[e].u16PMTPID = program.program_map_PID;
        if (!outputIsOpen(&g_split.files[e]) && !openEntryFile(uint16_t(e))) return;
        g_split.patToEntry[i] = e;
        setBit(g_split.pmtPIDs, program.program_map_PID);
        buildProgramPAT(packet, completing, pat, program);
        writeToEntries(uint64_t(1) << e, packet);
    }
    closeDepartedPrograms(pat);
}

void handlePATPacket(const uint8_t* packet, const TS_Packet& header) {
    TS_Payload payload;
    TS_Payload_Begin(&payload, &header, packet);
    forEachSection(g_tData.tPATPreSection, TS_PAT_ImportPreSection, payload, [&] {
        if (g_split.status != 0 || TS_PreSection_Verify(&g_tData.tPATPreSection, 0x00) != 0) return;
        TS_PAT_FromPreSection(&g_tData.tPAT, &g_tData.tPATPreSection);
        onPAT(header);
    });
}

// --- PMT --------------------------------------------------------------------

uint16_t sectionProgramNumber(const TS_PreSection& slot) {
    return uint16_t(slot.body[3] << 8 | slot.body[4]);
}

int16_t firstPATIndexOf(uint16_t pid, uint16_t programNumber, bool anyProgram);

// The split entry that owns the sections of `programNumber` on `pid`: that of
// the first PAT entry naming both (a PAT may list one program twice on a PID).
uint64_t entriesOfProgramOnPID(uint16_t pid, uint16_t programNumber) {
    int16_t i = firstPATIndexOf(pid, programNumber, false);
    if (i == kNoEntry || g_split.patToEntry[i] == kNoEntry) return 0;
    return uint64_t(1) << g_split.patToEntry[i];
}

int16_t firstPATIndexOf(uint16_t pid, uint16_t programNumber, bool anyProgram) {
    const TS_PAT& pat = g_tData.tPAT;
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        const TS_PAT_Program& p = pat.programs[i];
        if (p.program_number != 0 && p.program_map_PID == pid && (anyProgram || p.program_number == programNumber)) {
            return int16_t(i);
        }
    }
    return kNoEntry;
}

// A pending section whose header (with its program_number) is in the slot.
bool pendingKnowsProgram(const TS_PreSection& slot) { return !slot.complete && slot.received_length >= 5; }

void onPMT(TS_PreSection& slot, uint16_t pid) {
    if (TS_PreSection_Verify(&slot, 0x02) != 0) return;
    int16_t i = firstPATIndexOf(pid, sectionProgramNumber(slot), false);
    if (i == kNoEntry || g_split.patToEntry[i] == kNoEntry) return;
    TS_PMT& pmt = g_tData.ltPMT[i];
    TS_PMT_FromPreSection(&pmt, &slot, pid);
    routesSetProgram(&g_split.routes, uint32_t(g_split.patToEntry[i]), &pmt);
}

// Imports a packet of a PMT PID and returns the split entries whose sections
// it carries bytes of.
uint64_t handlePMTPacket(const uint8_t* packet, const TS_Packet& header) {
    int16_t owner = firstPATIndexOf(header.PID, 0, true);
    if (owner == kNoEntry) return 0;
    TS_PreSection& slot = g_tData.ltPMTPreSection[owner];
    uint64_t entries = 0;
    TS_Payload payload;
    TS_Payload_Begin(&payload, &header, packet);
    // Bytes that continue the pending section belong to its program.
    bool continuesPending = TS_Payload_HasData(&payload) && payload.u16Pos < payload.u16ContinuationEnd &&
                            header.continuity_counter == ((slot.last_continuity_counter + 1) & 0x0F);
    if (continuesPending && pendingKnowsProgram(slot)) {
        entries |= entriesOfProgramOnPID(header.PID, sectionProgramNumber(slot));
    }
    forEachSection(slot, TS_PMT_ImportPreSection, payload, [&] {
        entries |= entriesOfProgramOnPID(header.PID, sectionProgramNumber(slot));
        onPMT(slot, header.PID);
    });
    if (pendingKnowsProgram(slot)) entries |= entriesOfProgramOnPID(header.PID, sectionProgramNumber(slot));
    return entries;
}

// --- Packets ----------------------------------------------------------------

bool onPacket(const uint8_t* packet, const TS_Packet& header) {
    if (header.PID == TS_PID_PAT) {
        handlePATPacket(packet, header);
        return g_split.status == 0;
    }
    if (!g_tData.tPAT.valid) return true;
    uint64_t entries = routesOf(&g_split.routes, header.PID);
    if (testBit(g_split.pmtPIDs, header.PID)) entries |= handlePMTPacket(packet, header);
    writeToEntries(entries, packet);
    return g_split.status == 0;
}

bool nameFits(const char* path) { return std::strlen(path) + kLongestSuffix < TS_NAME_BUFFER_SIZE; }

}  // namespace

int32_t TS_ProgramSplitFile(const char* path) {
    if (!path) return -1;
    TS_Initialise(&g_tData);
    resetSplit();
    if (!nameFits(path)) {
        std::fprintf(stderr, "Error: File name too long.\n");
        return TS_ERR_NAME_TOO_LONG;
    }
    GetBaseFileName(g_strString1, path);
    g_split.inputFD = openInput(path);
    if (g_split.inputFD < 0) return TS_ERR_OPEN_INPUT;

    WalkEnd end = walkPackets(g_tData, g_split.inputFD, onPacket);
    int32_t status = g_split.status != 0 ? g_split.status : reportWalkEnd(end, path);
    int32_t closed = closeAll();
    closeInput(g_split.inputFD);
    return status != 0 ? status : closed;
}
