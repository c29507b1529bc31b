// Rivulet toolkit: the other drivers over a whole input. The stream dump
// (TS_Print, with flags of what to print) and the PMT-change tools: the
// survey of the runs of identical PMTs of a single-program stream and the
// split of such a stream at its PMT changes. Statuses: the table of driver
// results in rivulet/common.h.
#ifndef RIVULET_DRIVERS_H
#define RIVULET_DRIVERS_H

#include "rivulet/common.h"

constexpr uint32_t TS_PRINT_PACKET = 0x001;
constexpr uint32_t TS_PRINT_PAT = 0x002;
constexpr uint32_t TS_PRINT_CAT = 0x004;
constexpr uint32_t TS_PRINT_PMT = 0x008;
constexpr uint32_t TS_PRINT_PRIVATE = 0x010;
constexpr uint32_t TS_PRINT_EMM = 0x020;
constexpr uint32_t TS_PRINT_ES = 0x040;
constexpr uint32_t TS_PRINT_PIDLIST = 0x080;
constexpr uint32_t TS_PRINT_PCR = 0x100;

int32_t TS_Print(const char* path, uint32_t flags);

// One entry of a PMT-change table. TS_CheckPMTSplit fills one per run of
// identical PMTs (CRC, earlier runs of that PMT, bytes the run adds);
// TS_PMTSplitFile keeps one per distinct PMT, a file each, internally.
struct TS_PMTSplitEntry {
    uint32_t u32PMTCRC;
    uint16_t u16Occurrence;
    uint64_t u64Size;
    int32_t nFD;  // unused by the survey (0)
};

struct TS_PMTSplitData {
    uint16_t u16Count;
    TS_PMTSplitEntry ltEntry[TS_PMT_SPLIT_MAX_ENTRIES];
};

int32_t TS_CheckPMTSplit(TS_PMTSplitData* table, const char* path);
int32_t TS_PMTSplitFile(const char* path, uint8_t splitAll, uint32_t pmtCRC, const char* destPath);

#endif  // RIVULET_DRIVERS_H
