// What a split's report says of each output file, as written: the stretch
// of input its packets come from, the continuity errors, transport errors
// and scrambled packets among them, every PID it holds and its duration by
// its own PCRs. The splitter tells it of every file it opens and closes, of
// every packet that arrives and of every unit each file takes, whenever it
// takes it (a held or replayed packet carries its origin along); the report
// counts every PID as the check does (continuity_count.h), and each file
// takes the counts of the packets it holds.
#ifndef RIVULET_SPLIT_REPORT_H
#define RIVULET_SPLIT_REPORT_H

#include <cstdint>

#include "rivulet/file_split.h"
#include "rivulet/split.h"
#include "ts/split/start_point.h"
#include "ts/stream/packet_flags.h"

namespace rivulet {

struct SplitReportState;

// Empties `list` and starts counting into it; null when memory is short.
SplitReportState* splitReportCreate(TS_SplitFileList* list);
// The same for the former fixed report, which takes the first files when
// the state is destroyed.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
SplitReportState* splitReportCreateFixed(TS_SplitReport* report);
#pragma GCC diagnostic pop
void splitReportDestroy(SplitReportState* state);

// Files are counted by slot: any number the splitter gives a file while it
// is open (an entry's file, or an older file of its cut, which takes packets
// a while); the report keeps as many as are open.
//
// Slot `slot` opened a file as `path`, for the packet at input `offset`;
// cut at events, of event `eventId` (-1: none known). 0, or
// TS_ERR_NO_MEMORY when the file's record cannot be had.
int32_t splitReportOpened(SplitReportState* state, uint32_t slot, const char* path, const TS_PNSplitEntry& split,
                          uint64_t offset, bool cutAtEvents, int32_t eventId);
// The file of slot `from` is now that of slot `to` (whose file is closed);
// 0, or TS_ERR_NO_MEMORY.
int32_t splitReportMoved(SplitReportState* state, uint32_t from, uint32_t to);
// The packet at input `offset` arrived (its header parsed): counted, its
// origin returned for the files that take it.
UnitOrigin splitReportArrived(SplitReportState* state, const uint8_t* packet, const TS_Packet& header,
                              uint64_t offset);
// The same, for a caller that has read the packet's flags.
UnitOrigin splitReportArrivedFlags(SplitReportState* state, const PacketFlags& flags, uint64_t offset);
// A verified SDT actual section in force, once a PAT has come: the names
// the files' records take when they close.
void splitReportTakeSDT(SplitReportState* state, const TS_PreSection& section);
// A verified PMT section in force, carried on `pmtPID`: the kinds of the
// PIDs it names, for every file's verdict.
void splitReportTakePMT(SplitReportState* state, uint16_t pmtPID, const TS_PreSection& section);
// A TDT or TOT gave the broadcast time `utc` (seconds since 1970) now.
void splitReportTakeTime(SplitReportState* state, int64_t utc);
// A whole PAT completed at input `offset`: its PMT PIDs are PSI, and a gap
// in every open file when the last one named another transport stream.
void splitReportTakePAT(SplitReportState* state, const TS_PAT& pat, uint64_t offset);
// Slot `slot`'s file took `packet` (behind any TP_extra_header), of `size`
// input bytes, from `origin`.
void splitReportTook(SplitReportState* state, uint32_t slot, const uint8_t* packet, uint32_t size,
                     const UnitOrigin& origin);
void splitReportTookFlags(SplitReportState* state, uint32_t slot, const PacketFlags& flags, uint32_t size,
                          const UnitOrigin& origin);
// Slot `slot`'s file is closed, holding `bytes` in packets of `unit` bytes.
void splitReportClosed(SplitReportState* state, uint32_t slot, uint64_t bytes, uint32_t unit);

}  // namespace rivulet

#endif
