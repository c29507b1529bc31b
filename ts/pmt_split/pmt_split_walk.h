// ts/pmt_split: the PMT-change tools (the walk, the survey, the writer).
//
// The walk that the PMT-change survey and the PMT-change writer share, so that
// the bytes the survey counts are, packet for packet, the bytes the writer
// writes.
//
// The input is a single-program stream: its PAT holds one program entry
// (program_number not 0), with or without a network entry. A PMT is known by
// the CRC_32 of its section. Each time a PMT section on the program's PMT PID
// completes and verifies, its segment head goes out: the last verified PAT
// packet, exactly as read, followed by every packet that carried bytes of the
// section. From then on every packet of the PCR, CA and elementary stream
// PIDs of that PMT goes out, each once, until the next PMT completes. Packets
// of the PMT PID travel only in segment heads.
#ifndef RIVULET_PMT_SPLIT_WALK_H
#define RIVULET_PMT_SPLIT_WALK_H

#include <cstdint>

#include "rivulet/tables.h"
#include "ts/core/log_sink.h"

namespace rivulet {

// What a pass does with the packets the walk selects. Each callback returns 0,
// or a negative status that ends the pass with that status.
struct PMTSplitSink {
    // A PMT section completed and verified; `pmt` holds it. The packets that
    // follow, up to the next call, belong to the output of this PMT; they
    // are `unitSize` bytes each.
    int32_t (*onPMT)(void* pUser, const TS_PMT* pmt, uint32_t unitSize);
    // One packet for the output of the PMT last reported: the `size` bytes
    // at `unit` (see outputUnit), which may change once the call returns.
    int32_t (*onPacket)(void* pUser, const uint8_t* unit, uint32_t size);
    void* pUser;
    LogSink tLog;  // where the walk's messages go
};

// Walks the input open as `fd` (named `path` in messages); the last whole
// PAT goes to g_tSimpleData.tPAT. Returns 0 at the end of the input,
// TS_ERR_NOT_SINGLE_PROGRAM at a PAT with more than one program entry,
// TS_ERR_READ after a failed read, or the first negative status of the sink.
// `sawPAT` tells whether a whole PAT arrived.
int32_t walkPMTSplit(int fd, const char* path, const PMTSplitSink* sink, bool* sawPAT);

}  // namespace rivulet

#endif
