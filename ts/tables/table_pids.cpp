#include "ts/tables/table_pids.h"

#include <algorithm>
#include <iterator>

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
    {{TS_PID_PAT, kNoPID, kNoPID}, {{0x00, 0x00}, kNoRange}, 1},                   // PAT
    {{kPIDCAT, kNoPID, kNoPID}, {{0x01, 0x01}, kNoRange}, 1},                      // CAT
    {{kDynamicPIDs, kNoPID, kNoPID}, {{0x02, 0x02}, kNoRange}, 1},                 // PMT
    {{kDynamicPIDs, kNoPID, kNoPID}, {{0x40, 0x40}, kNoRange}, 1},                 // NIT
    {{kPIDSDT, kNoPID, kNoPID}, {{kTableSDTActual, kTableSDTActual}, kNoRange}, 1},  // SDT actual
    {{kPIDEIT, kNoPID, kNoPID}, {{0x4E, 0x4E}, kNoRange}, 1},                      // EIT p/f actual
    {{kPIDEIT, kPIDISDBEIT1, kPIDISDBEIT2}, {{0x4E, 0x4E}, {0x50, 0x5F}}, 1},      // EIT actual
    {{kPIDTDT, kNoPID, kNoPID}, {{0x70, 0x70}, kNoRange}, 0},                      // TDT
    {{kPIDTDT, kNoPID, kNoPID}, {{0x73, 0x73}, kNoRange}, 1},                      // TOT
    {{kPIDSIT, kNoPID, kNoPID}, {{kTableSIT, kTableSIT}, kNoRange}, 1},            // SIT
    {{kPIDPSIP, kNoPID, kNoPID}, {{kTableMGT, kTableMGT}, kNoRange}, 1},           // MGT
    {{kPIDPSIP, kNoPID, kNoPID}, {{kTableTVCT, kTableCVCT}, kNoRange}, 1},         // VCT
    {{kPIDPSIP, kNoPID, kNoPID}, {{kTableSTT, kTableSTT}, kNoRange}, 1},           // STT
    {{kDynamicPIDs, kNoPID, kNoPID}, {{kTableATSCEIT, kTableATSCEIT}, kNoRange}, 1},  // ATSC EIT-0
};

bool carries(const TableDecoder& d, TableKind kind, uint16_t pid) {
    switch (kind) {
    case TableKind::PMT: return testBit(d.lu64PMTPIDs, pid);
    case TableKind::NIT: return pid == d.u16NetworkPID;
    case TableKind::ATSCEIT: return pid == d.u16ATSCEITPID;
    default: break;
    }
    for (uint16_t named : kRules[uint32_t(kind)].lu16PID) {
        if (named == pid) return true;
    }
    return false;
}

void takeSlot(TableDecoder& d, uint16_t pid) {
    if (d.u32FreeSlots == 0) return;  // more PIDs than slots: this one goes unread
    int16_t slot = d.lnFree[--d.u32FreeSlots];
    TS_PreSection_Initialise(&d.ltSlot[slot]);
    d.lnSlotOf[pid] = slot;
}

void freeSlot(TableDecoder& d, uint16_t pid) {
    d.lnFree[d.u32FreeSlots++] = d.lnSlotOf[pid];
    d.lnSlotOf[pid] = kNoSlot;
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
    if (wanted & kindBit(TableKind::ATSCEIT)) needed |= kindBit(TableKind::MGT);
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
    d.lu16Kinds[pid] = kinds;
    const bool followed = d.lnSlotOf[pid] != kNoSlot;
    if (kinds && !followed) takeSlot(d, pid);
    if (!kinds && followed) freeSlot(d, pid);
}

void refreshFixedPIDs(TableDecoder& d) {
    for (const KindRule& rule : kRules) {
        for (uint16_t pid : rule.lu16PID) {
            if (pid < TS_PID_COUNT) refreshPID(d, pid);
        }
    }
    refreshPID(d, d.u16NetworkPID);
    if (d.u16ATSCEITPID != kNoPID) refreshPID(d, d.u16ATSCEITPID);
}

void followPAT(TableDecoder& d, const TS_PAT& previous, const TS_PAT& whole) {
    std::fill(std::begin(d.lu64PMTPIDs), std::end(d.lu64PMTPIDs), 0);
    const uint16_t oldNetwork = d.u16NetworkPID;
    const TS_PAT_Program* network = patNetworkEntry(whole);
    d.u16NetworkPID = network ? uint16_t(network->program_map_PID & (TS_PID_COUNT - 1)) : kPIDNITDefault;
    forEachProgram(whole, [&](uint16_t, const TS_PAT_Program& program) {
        setBit(d.lu64PMTPIDs, program.program_map_PID & (TS_PID_COUNT - 1));
    });
    refreshPID(d, oldNetwork);
    refreshPID(d, d.u16NetworkPID);
    if (previous.valid) forEachProgram(previous, [&](uint16_t, const TS_PAT_Program& p) { refreshPID(d, p.program_map_PID); });
    forEachProgram(whole, [&](uint16_t, const TS_PAT_Program& p) { refreshPID(d, p.program_map_PID); });
}

void followATSCEIT(TableDecoder& d, uint16_t pid) {
    const uint16_t old = d.u16ATSCEITPID;
    d.u16ATSCEITPID = pid < TS_PID_COUNT ? pid : kNoPID;
    if (old != kNoPID) refreshPID(d, old);
    if (d.u16ATSCEITPID != kNoPID) refreshPID(d, d.u16ATSCEITPID);
}

}  // namespace rivulet
