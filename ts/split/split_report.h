// What a split's report says of each output file: the stretch of input it
// took packets from, the continuity errors, transport errors and scrambled
// packets among them, its PIDs and its duration from PCR. The splitter tells
// it of every file it opens and closes and of every packet it routes; the
// report counts every PID as the check does (continuity_count.h), and each
// file takes the counts of the packets it was given.
#ifndef RIVULET_SPLIT_REPORT_H
#define RIVULET_SPLIT_REPORT_H

#include <cstdint>

#include "rivulet/ts.h"

namespace rivulet {

struct SplitReportState;

// Clears `report` and starts counting; null when memory is short.
SplitReportState* splitReportCreate(TS_SplitReport* report);
void splitReportDestroy(SplitReportState* state);

// Files are counted by slot: a split entry's file, or the older file of
// its cut (slot entry + TS_SPLIT_MAX_ENTRIES) and the one before it (slot
// entry + 2 * TS_SPLIT_MAX_ENTRIES), which take packets a while.
constexpr uint32_t kReportSlots = 3 * TS_SPLIT_MAX_ENTRIES;

// Slot `slot` opened a file as `path`, for the packet at input `offset`;
// cut at events, of event `eventId` (-1: none known).
void splitReportOpened(SplitReportState* state, uint32_t slot, const char* path, const TS_PNSplitEntry& split,
                       uint64_t offset, bool cutAtEvents, int32_t eventId);
// The file of slot `from` is now that of slot `to`.
void splitReportMoved(SplitReportState* state, uint32_t from, uint32_t to);
// The packet of `size` input bytes at `offset` (its header parsed) went to
// the files of `entries`.
void splitReportPacket(SplitReportState* state, const uint8_t* packet, const TS_Packet& header, uint64_t offset,
                       uint32_t size, uint64_t entries);
// Slot `slot`'s file is closed, holding `bytes` in packets of `unit` bytes.
void splitReportClosed(SplitReportState* state, uint32_t slot, uint64_t bytes, uint32_t unit);

}  // namespace rivulet

#endif
