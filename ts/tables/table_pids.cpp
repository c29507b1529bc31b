#include "ts/tables/table_pids.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "ts/core/bit_set.h"
#include "ts/section/eit_present.h"
#include "ts/section/psip.h"
#include "ts/section/sdt.h"
#include "ts/section/sit.h"
#include "ts/section/vct.h"

namespace rivulet {
namespace {

constexpr uint16_t kPIDCAT = 0x0001;
constexpr uint16_t kPIDNITDefault = 0x0010;
constexpr uint16_t kPIDTDT = 0x0014;
constexpr uint16_t kPIDISDBEIT1 = 0x0026;
constexpr uint16_t kPIDISDBEIT2 = 0x0027;
constexpr uint16_t kDynamicPIDs = 0xFFFE;  // the PMT, network and EIT-0 PIDs: named by other tables
constexpr uint32_t kMaxKindPIDs = 3;
constexpr uint32_t kMaxKindRanges = 2;

struct TableRange {
    uint8_t u8First;
    uint8_t u8Last;
};

// The PIDs (kNoPID past the last) and table_ids of each kind.
struct KindRule {
    uint16_t lu16PID[kMaxKindPIDs];
    TableRange ltRange[kMaxKindRanges];  // {1, 0}: no range
    uint8_t u8CRC;
};

constexpr TableRange kNoRange = {1, 0};

constexpr KindRule kRules[kTableKinds] = {
    {{TS_PID_PAT, kNoPID, kNoPID}, {{TS_TABLE_ID_PAT, TS_TABLE_ID_PAT}, kNoRange}, 1},  // PAT
    {{kPIDCAT, kNoPID, kNoPID}, {{TS_TABLE_ID_CAT, TS_TABLE_ID_CAT}, kNoRange}, 1},     // CAT
    {{kDynamicPIDs, kNoPID, kNoPID}, {{TS_TABLE_ID_PMT, TS_TABLE_ID_PMT}, kNoRange}, 1},  // PMT
    {{kDynamicPIDs, kNoPID, kNoPID}, {{0x40, 0x40}, kNoRange}, 1},                 // NIT
    {{kPIDSDT, kNoPID, kNoPID}, {{kTableSDTActual, kTableSDTActual}, kNoRange}, 1},  // SDT actual
    {{kPIDEIT, kNoPID, kNoPID}, {{0x4E, 0x4E}, kNoRange}, 1},                      // EIT p/f actual
    {{kPIDEIT, kPIDISDBEIT1, kPIDISDBEIT2}, {{0x4E, 0x4E}, {0x50, 0x5F}}, 1},      // EIT actual
    {{kPIDEIT, kPIDISDBEIT1, kPIDISDBEIT2}, {{0x4F, 0x4F}, {0x60, 0x6F}}, 1},      // EIT other
    {{kPIDTDT, kNoPID, kNoPID}, {{0x70, 0x70}, kNoRange}, 0},                      // TDT
    {{kPIDTDT, kNoPID, kNoPID}, {{0x73, 0x73}, kNoRange}, 1},                      // TOT
    {{kPIDSIT, kNoPID, kNoPID}, {{kTableSIT, kTableSIT}, kNoRange}, 1},            // SIT
    {{kPIDPSIP, kNoPID, kNoPID}, {{kTableMGT, kTableMGT}, kNoRange}, 1},           // MGT
    {{kPIDPSIP, kNoPID, kNoPID}, {{kTableTVCT, kTableCVCT}, kNoRange}, 1},         // VCT
    {{kPIDPSIP, kNoPID, kNoPID}, {{kTableSTT, kTableSTT}, kNoRange}, 1},           // STT
    {{kDynamicPIDs, kNoPID, kNoPID}, {{kTableATSCEIT, kTableATSCEIT}, kNoRange}, 1},  // ATSC EIT-0
    {{kDynamicPIDs, kNoPID, kNoPID}, {{kTableATSCEIT, kTableETT}, kNoRange}, 1},    // ATSC EIT-0..3, ETT-0..3
};

bool carries(const TableDecoder& d, TableKind kind, uint16_t pid) {
    switch (kind) {
    case TableKind::PMT: return testBit(d.lu64PMTPIDs, pid);
    case TableKind::NIT: return pid == d.u16NetworkPID;
    case TableKind::ATSCEIT: return pid == d.u16ATSCEITPID;
    case TableKind::ATSCGuide: return std::find(std::begin(d.lu16ATSCGuidePID), std::end(d.lu16ATSCGuidePID), pid) !=
                                      std::end(d.lu16ATSCGuidePID);
    default: break;
    }
    for (uint16_t named : kRules[uint32_t(kind)].lu16PID) {
        if (named == pid) return true;
    }
    return false;
}

// A PID followed anew starts with an empty slot: its own, made the first
// time and kept.
void takeSlot(TableDecoder& d, uint16_t pid) {
    TS_PreSection*& slot = d.lpSlot[pid];
    if (!slot) slot = new (std::nothrow) TS_PreSection;
    if (slot) {
        TS_PreSection_Initialise(slot);
        return;
    }
    if (!d.u8MemoryShort) logMessage(d.tLog, TS_LOG_ERROR, "Error: Out of memory.\n");
    d.u8MemoryShort = 1;
}

void refreshProgramPID(TableDecoder& d, const TS_PAT_Program& program) {
    if (program.program_number != 0) refreshPID(d, program.program_map_PID);
}

}  // namespace

bool kindHasTable(TableKind kind, uint8_t tableId) {
    for (const TableRange& range : kRules[uint32_t(kind)].ltRange) {
        if (tableId >= range.u8First && tableId <= range.u8Last) return true;
    }
    return false;
}

bool kindHasCRC(TableKind kind) { return kRules[uint32_t(kind)].u8CRC != 0; }

uint16_t neededKinds(uint16_t wanted) {
    uint16_t needed = wanted;
    if (wanted & (kindBit(TableKind::PMT) | kindBit(TableKind::NIT))) needed |= kindBit(TableKind::PAT);
    if (wanted & (kindBit(TableKind::ATSCEIT) | kindBit(TableKind::ATSCGuide))) needed |= kindBit(TableKind::MGT);
    return needed;
}

void refreshPID(TableDecoder& d, uint16_t pid) {
    pid &= TS_PID_COUNT - 1;
    const uint16_t needed = uint16_t(neededKinds(d.u16Wanted) | d.u16WantedEvery);
    uint16_t kinds = 0;
    for (uint32_t k = 0; k < kTableKinds; ++k) {
        const TableKind kind = TableKind(k);
        if ((needed & kindBit(kind)) && carries(d, kind, pid)) kinds |= kindBit(kind);
    }
    const bool followed = d.lu16Kinds[pid] != 0;
    d.lu16Kinds[pid] = kinds;
    if (kinds && !followed) takeSlot(d, pid);
}

void refreshFixedPIDs(TableDecoder& d) {
    for (const KindRule& rule : kRules) {
        for (uint16_t pid : rule.lu16PID) {
            if (pid < TS_PID_COUNT) refreshPID(d, pid);
        }
    }
    refreshPID(d, d.u16NetworkPID);
    if (d.u16ATSCEITPID != kNoPID) refreshPID(d, d.u16ATSCEITPID);
    for (uint16_t pid : d.lu16ATSCGuidePID) {
        if (pid != kNoPID) refreshPID(d, pid);
    }
}

void followPAT(TableDecoder& d) {
    const Growable<TS_PAT_Program>& whole = d.tPAT.lWhole;
    const Growable<TS_PAT_Program>& previous = d.tPAT.lPrevious;
    std::fill(std::begin(d.lu64PMTPIDs), std::end(d.lu64PMTPIDs), 0);
    const uint16_t oldNetwork = d.u16NetworkPID;
    d.u16NetworkPID = kPIDNITDefault;
    for (uint32_t i = whole.u32Size; i-- > 0;) {  // the first network entry names it
        const uint16_t pid = whole[i].program_map_PID & (TS_PID_COUNT - 1);
        if (whole[i].program_number == 0) d.u16NetworkPID = pid;
        if (whole[i].program_number != 0) setBit(d.lu64PMTPIDs, pid);
    }
    refreshPID(d, oldNetwork);
    refreshPID(d, d.u16NetworkPID);
    for (uint32_t i = 0; i < previous.u32Size; ++i) refreshProgramPID(d, previous[i]);
    for (uint32_t i = 0; i < whole.u32Size; ++i) refreshProgramPID(d, whole[i]);
}

void followATSCGuide(TableDecoder& d, const uint16_t (&pids)[kATSCGuidePIDs]) {
    uint16_t old[kATSCGuidePIDs];
    std::copy(std::begin(d.lu16ATSCGuidePID), std::end(d.lu16ATSCGuidePID), old);
    for (uint32_t i = 0; i < kATSCGuidePIDs; ++i) d.lu16ATSCGuidePID[i] = pids[i] < TS_PID_COUNT ? pids[i] : kNoPID;
    for (uint16_t pid : old) {
        if (pid != kNoPID) refreshPID(d, pid);
    }
    for (uint16_t pid : d.lu16ATSCGuidePID) {
        if (pid != kNoPID) refreshPID(d, pid);
    }
}

void followATSCEIT(TableDecoder& d, uint16_t pid) {
    const uint16_t old = d.u16ATSCEITPID;
    d.u16ATSCEITPID = pid < TS_PID_COUNT ? pid : kNoPID;
    if (old != kNoPID) refreshPID(d, old);
    if (d.u16ATSCEITPID != kNoPID) refreshPID(d, d.u16ATSCEITPID);
}

}  // namespace rivulet
