// The program splitter: one output file per program of a multi-program
// stream. Every file starts each PAT of the input with a rebuilt PAT that
// lists only its program (behind the network entry), and carries, unchanged
// and in input order, the packets of its PMT, PCR, CA PIDs and elementary
// streams, each packet once.
#include <cstdio>
#include <cstring>

#include "rivulet/ts.h"
#include "ts/core/bounded_count.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/output_set.h"
#include "ts/drivers/pat_table.h"
#include "ts/drivers/program_routes.h"
#include "ts/drivers/si_carrier.h"
#include "ts/stream/packet_format.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

TS_PNSplitData g_tPNSplitData;

namespace {

constexpr int16_t kNoEntry = -1;
// "_%d_%d_%llu.m2ts" with its numbers at their longest.
constexpr size_t kLongestSuffix = sizeof("_65535_65535_18446744073709551615.m2ts") - 1;
constexpr uint32_t kProgramNumbers = 65536;

struct SplitState {
    OutputSet files;                           // file of split entry e
    ProgramRoutes routes;                      // PID -> split entries
    PATTable pat;                              // the PAT's sections, gathered
    TS_PreSection pmtSlots[TS_PAT_MAX_PROGRAMS];  // PMT reassembly, by position in the PAT
    uint16_t u16SlotsReady;                    // slots from this index on are not yet initialised
    int16_t patToEntry[TS_PAT_MAX_PROGRAMS];   // split entry of each entry of the current PAT
    int16_t pidToPATEntry[TS_PID_COUNT];       // first program entry of the current PAT on each PMT PID
    uint64_t pmtPIDs[TS_PID_COUNT / 64];       // PMT PIDs of the programs that have files
    uint64_t warnedPrograms[kProgramNumbers / 64];
    TS_SplitOptions options;
    uint64_t u64OpenEntries;                   // entries whose files are open
    uint16_t u16NetworkPID;                    // of the current PAT, for --si
    SICarrier si;
    int32_t status;                            // first failure, 0 while all is well
};

SplitState g_split;

bool testBit(const uint64_t* bits, uint32_t i) { return (bits[i / 64] >> (i % 64)) & 1; }
void setBit(uint64_t* bits, uint32_t i) { bits[i / 64] |= uint64_t(1) << (i % 64); }

void resetSplit() {
    std::memset(&g_tPNSplitData, 0, sizeof g_tPNSplitData);
    for (TS_PNSplitEntry& e : g_tPNSplitData.ltEntry) e.nFD = -1;
    outputSetReset(&g_split.files, -1);
    routesClear(&g_split.routes);
    patTableReset(&g_split.pat);
    g_split.u16SlotsReady = 0;
    for (int16_t& e : g_split.patToEntry) e = kNoEntry;
    for (int16_t& i : g_split.pidToPATEntry) i = kNoEntry;
    std::memset(g_split.pmtPIDs, 0, sizeof g_split.pmtPIDs);
    std::memset(g_split.warnedPrograms, 0, sizeof g_split.warnedPrograms);
    g_split.u64OpenEntries = 0;
    g_split.u16NetworkPID = kNoNetworkPID;
    siReset(&g_split.si);
    g_split.status = 0;
}

void fail(int32_t status) {
    if (g_split.status == 0) g_split.status = status;
}

// --- Output files -----------------------------------------------------------

bool openEntryFile(uint16_t e) {
    TS_PNSplitEntry& entry = g_tPNSplitData.ltEntry[e];
    int length = std::snprintf(g_strString2, sizeof g_strString2, "%s_%d_%d_%llu.%s", g_strString1,
                               entry.u16ProgramNumber, entry.u16Duplicate,
                               static_cast<unsigned long long>(entry.u64Revision), outputExtension());
    bool fits = length >= 0 && size_t(length) < sizeof g_strString2;
    if (!outputSetOpen(&g_split.files, e, fits ? g_strString2 : nullptr, g_strString2)) {
        fail(TS_ERR_OPEN_OUTPUT);
        return false;
    }
    entry.nFD = g_split.files.ltFile[e].nFD;
    g_split.u64OpenEntries |= uint64_t(1) << e;
    siFileOpened(&g_split.si, e);
    return true;
}

void closeEntryFile(uint16_t e) {
    int32_t status = outputClose(&g_split.files.ltFile[e]);
    if (status != 0) fail(status);
    g_tPNSplitData.ltEntry[e].nFD = -1;
    g_split.u64OpenEntries &= ~(uint64_t(1) << e);
}

int32_t closeAll() {
    for (uint16_t e = 0; e < g_tPNSplitData.u16Count; ++e) g_tPNSplitData.ltEntry[e].nFD = -1;
    return outputSetCloseAll(&g_split.files, g_tPNSplitData.u16Count);
}

// Writes an output unit (see outputUnit) to every entry of the mask: one of
// the stream buffer, or one built here (`built`), which the files copy.
void writeToEntries(uint64_t entries, const uint8_t* unit, bool built = false) {
    while (entries) {
        uint32_t e = uint32_t(__builtin_ctzll(entries));
        entries &= entries - 1;
        if (outputSetWrite(&g_split.files, e, unit, outputUnitSize(), built) != 0) fail(TS_ERR_WRITE);
    }
}

bool isSelected(uint16_t programNumber) {
    const TS_SplitOptions& options = g_split.options;
    if (options.u32ProgramCount == 0) return true;
    for (uint32_t i = 0; i < options.u32ProgramCount; ++i) {
        if (options.lu16Programs[i] == programNumber) return true;
    }
    return false;
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
    entry.u64Revision = 0;
    entry.nFD = -1;
    return int16_t(e);
}

uint16_t duplicateIndex(const TS_PAT& pat, uint16_t i) {
    uint16_t d = 0;
    for (uint16_t j = 0; j < i; ++j) d += pat.programs[j].program_number == pat.programs[i].program_number;
    return d;
}

// The PAT of one program's file: the network entry, if the input has one,
// and the program. Always a plain payload-only packet on PID 0, behind the
// TP_extra_header of the packet that completed the input's PAT, if any.
void buildProgramPAT(uint8_t* unit, const uint8_t* completingPacket, const TS_Packet& completing,
                     const TS_PAT& pat, const TS_PAT_Program& program) {
    uint32_t prefix = g_tPacketFormat.u32Prefix;
    std::memcpy(unit, outputUnit(completingPacket), prefix);
    TS_PAT single = pat;
    single.program_count = 0;
    if (const TS_PAT_Program* network = patNetworkEntry(pat)) single.programs[single.program_count++] = *network;
    single.programs[single.program_count++] = program;
    single.section_length = uint16_t(9 + 4 * single.program_count);

    TS_Packet header{};
    header.sync_byte = TS_SYNC_BYTE;
    header.payload_unit_start_indicator = 1;
    header.transport_priority = completing.transport_priority;
    header.PID = TS_PID_PAT;
    header.adaptation_field_control = 1;
    header.continuity_counter = completing.continuity_counter;
    TS_PAT_ToPacket(unit + prefix, &header, &single);
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
void closeDepartedPrograms(const TS_PAT& pat) {
    for (uint16_t e = 0; e < g_tPNSplitData.u16Count; ++e) {
        TS_PNSplitEntry& entry = g_tPNSplitData.ltEntry[e];
        if (patListsPair(pat, entry)) continue;
        if (outputSetIsOpen(&g_split.files, e)) closeEntryFile(e);
        ++entry.u64Revision;
    }
}

// The first program entry on each PMT PID, so that a PMT packet finds the
// slot that reassembles its PID with one lookup. Rebuilt at each PAT.
void unmapPMTPIDs(const TS_PAT& pat) {
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        g_split.pidToPATEntry[pat.programs[i].program_map_PID & (TS_PID_COUNT - 1)] = kNoEntry;
    }
}

void mapPMTPIDs(const TS_PAT& pat) {
    for (; g_split.u16SlotsReady < patEntryCount(pat); ++g_split.u16SlotsReady) {
        TS_PreSection_Initialise(&g_split.pmtSlots[g_split.u16SlotsReady]);
    }
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        const TS_PAT_Program& program = pat.programs[i];
        int16_t& first = g_split.pidToPATEntry[program.program_map_PID & (TS_PID_COUNT - 1)];
        if (program.program_number != 0 && first == kNoEntry) first = int16_t(i);
    }
}

void onPAT(const uint8_t* completingPacket, const TS_Packet& completing) {
    const TS_PAT& pat = g_tData.tPAT;
    g_split.u16NetworkPID = siNetworkPID(pat);
    std::memset(g_split.pmtPIDs, 0, sizeof g_split.pmtPIDs);
    uint8_t unit[kMaxOutputUnitSize];
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        const TS_PAT_Program& program = pat.programs[i];
        g_split.patToEntry[i] = kNoEntry;
        // An unselected program needs no entry: its revisions and duplicate
        // indices count the same without one.
        if (program.program_number == 0 || !isSelected(program.program_number)) continue;
        uint16_t duplicate = duplicateIndex(pat, i);
        int16_t e = findEntry(program.program_number, duplicate);
        if (e == kNoEntry) e = createEntry(program.program_number, duplicate);
        if (e == kNoEntry) continue;
        g_tPNSplitData.ltEntry[e].u16PMTPID = program.program_map_PID;
        if (!outputSetIsOpen(&g_split.files, e) && !openEntryFile(uint16_t(e))) return;
        g_split.patToEntry[i] = e;
        setBit(g_split.pmtPIDs, program.program_map_PID);
        buildProgramPAT(unit, completingPacket, completing, pat, program);
        writeToEntries(uint64_t(1) << e, unit, true);
    }
    closeDepartedPrograms(pat);
}

void handlePATPacket(const uint8_t* packet, const TS_Packet& header) {
    feedSections(g_tData.tPATPreSection, TS_PAT_ImportPreSection, packet, header, TS_TABLE_ID_PAT,
                 [&](const TS_PreSection& slot, bool) {
                     if (g_split.status != 0 || !patTableAdd(&g_split.pat, &slot)) return;
                     unmapPMTPIDs(g_tData.tPAT);
                     g_tData.tPAT = g_split.pat.tWhole;
                     mapPMTPIDs(g_tData.tPAT);
                     onPAT(packet, header);
                 });
}

// --- PMT --------------------------------------------------------------------

// The PAT entry that owns the sections of `programNumber` on `pid`: the first
// naming both (a PAT may list one program twice on a PID), found from `first`,
// the first entry on the PID. kNoEntry when that entry has no file.
int16_t ownerOfSection(int16_t first, uint16_t pid, uint16_t programNumber) {
    const TS_PAT& pat = g_tData.tPAT;
    for (uint16_t i = uint16_t(first); i < patEntryCount(pat); ++i) {
        const TS_PAT_Program& p = pat.programs[i];
        if (p.program_map_PID != pid || p.program_number != programNumber) continue;
        return g_split.patToEntry[i] == kNoEntry ? kNoEntry : int16_t(i);
    }
    return kNoEntry;
}

uint64_t entriesOnPID(int16_t first, uint16_t pid) {
    const TS_PAT& pat = g_tData.tPAT;
    uint64_t entries = 0;
    for (uint16_t i = uint16_t(first); i < patEntryCount(pat); ++i) {
        bool owns = pat.programs[i].program_map_PID == pid && pat.programs[i].program_number != 0;
        if (owns && g_split.patToEntry[i] != kNoEntry) entries |= uint64_t(1) << g_split.patToEntry[i];
    }
    return entries;
}

// Imports a packet of a PMT PID and returns the split entries whose sections
// it carries bytes of.
uint64_t handlePMTPacket(const uint8_t* packet, const TS_Packet& header) {
    int16_t owner = g_split.pidToPATEntry[header.PID];
    if (owner == kNoEntry) return 0;
    SectionFeed feed = feedSections(
        g_split.pmtSlots[owner], TS_PMT_ImportPreSection, packet, header, TS_TABLE_ID_PMT,
        [&](const TS_PreSection& slot, bool) {
            uint16_t programNumber = 0;
            TS_PreSection_TableIdExtension(&slot, &programNumber);
            int16_t i = ownerOfSection(owner, header.PID, programNumber);
            if (i != kNoEntry) routesSetProgram(&g_split.routes, uint32_t(g_split.patToEntry[i]), &slot);
        });
    uint64_t entries = 0;
    for (uint32_t s = 0; s < feed.u32Extensions; ++s) {
        int16_t i = ownerOfSection(owner, header.PID, feed.lu16Extensions[s]);
        if (i != kNoEntry) entries |= uint64_t(1) << g_split.patToEntry[i];
    }
    // A section begun in the packet's last bytes, its program not known yet:
    // the packet goes to every program on the PID, so that its own has it.
    if (feed.u8UnknownPending) entries |= entriesOnPID(owner, header.PID);
    return entries;
}

// --- Service information ----------------------------------------------------

int32_t programOfEntry(uint32_t e) {
    bool open = (g_split.u64OpenEntries >> e) & 1;
    return open ? g_tPNSplitData.ltEntry[e].u16ProgramNumber : -1;
}

int32_t writeSIUnit(uint32_t e, const uint8_t* unit) {
    return outputSetWrite(&g_split.files, e, unit, outputUnitSize(), true);
}

void carrySI(const uint8_t* packet, const TS_Packet& header) {
    SITargets targets{g_tPNSplitData.u16Count, programOfEntry, writeSIUnit};
    if (siFeed(&g_split.si, packet, header, targets) != 0) fail(TS_ERR_WRITE);
}

// --- Packets ----------------------------------------------------------------

bool onPacket(const uint8_t* packet, const TS_Packet& header) {
    const bool si = g_split.options.u8ServiceInformation;
    if (header.PID == TS_PID_PAT) {
        handlePATPacket(packet, header);
        return g_split.status == 0;
    }
    if (g_tData.tPAT.valid) {
        uint64_t entries = routesOf(&g_split.routes, header.PID);
        if (testBit(g_split.pmtPIDs, header.PID)) entries |= handlePMTPacket(packet, header);
        if (si && siIsCopiedPID(header.PID, g_split.u16NetworkPID)) entries |= g_split.u64OpenEntries;
        writeToEntries(entries, outputUnit(packet));
    }
    // Reassembled from the start, like the PAT: what completes before a file
    // is open goes nowhere.
    if (si && siIsSectionPID(header.PID)) carrySI(packet, header);
    return g_split.status == 0;
}

}  // namespace

int32_t TS_ProgramSplitFile(const char* path) {
    TS_SplitOptions everything{};
    return TS_ProgramSplitFileWith(path, &everything);
}

int32_t TS_ProgramSplitFileWith(const char* path, const TS_SplitOptions* options) {
    if (!path || !options) return -1;
    TS_Initialise(&g_tData);
    resetSplit();
    g_split.options = *options;
    if (!options->u8ContinueRun) outputStartRun();
    const char* outputDir = options->strOutputDir;
    if (outputDir && !isFolder(outputDir)) {
        std::fprintf(stderr, "Error: Failed open %s.\n", outputDir);
        return TS_ERR_OPEN_OUTPUT;
    }
    size_t folderPart = outputDir ? std::strlen(outputDir) + 1 : 0;
    if (!outputNamesFit(path, kLongestSuffix + folderPart)) return TS_ERR_NAME_TOO_LONG;
    outputStem(g_strString1, path, outputDir);
    int inputFD = openInput(path);
    if (inputFD < 0) return TS_ERR_OPEN_INPUT;
    g_split.files.inputFD = inputFD;

    WalkEnd end = walkPackets(g_tData, inputFD, onPacket);
    int32_t status = g_split.status != 0 ? g_split.status : reportWalkEnd(end, path);
    if (status == 0 && !g_tData.tPAT.valid) warnNoPAT(path);
    int32_t closed = closeAll();
    closeInput(inputFD);
    return status != 0 ? status : closed;
}
