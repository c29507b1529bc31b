// ts/services: what the service information says of each program (the
// watch, its facts, the program list).
//
// The service watch: what a stream's service information says of each of
// its programs, and from which input offset on. It reads the PAT, each
// program's PMT, the SDT actual (or a partial stream's SIT), the ATSC
// TVCT/CVCT and the EIT
// present/following actual, and keeps, per service, the last few distinct
// descriptions (name, provider, type) and present events with the offset of
// the packet that completed each: a file that begins at an offset is named
// from what was in force there, or from what came first after it.
#ifndef RIVULET_SERVICE_WATCH_H
#define RIVULET_SERVICE_WATCH_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "rivulet/services.h"
#include "ts/programs/atsc_schedule.h"
#include "ts/programs/pat_table.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/pcr_track.h"
#include "ts/tables/table_decoder.h"

namespace rivulet {

using ServiceDescription = TS_ServiceDescription;
using ServiceEvent = TS_ServiceEvent;

// The last TS_WATCH_HISTORY distinct values, each with the offset it came at.
template <class T>
struct History {
    T ltItem[TS_WATCH_HISTORY];
    uint64_t lu64At[TS_WATCH_HISTORY];
    uint8_t u8Count;
};

// The table that named a service first, and so describes it from then on.
enum class NamedBy : uint8_t { None, SDT, VCT };  // an SIT counts as the SDT

struct WatchedService {
    uint16_t u16Program;
    NamedBy eNamedBy;
    History<ServiceDescription> tDescriptions;
    History<ServiceEvent> tEvents;
    uint8_t u8PMTSeen;
    uint8_t u8StreamCount;
    TS_StreamSummary ltStream[TS_PMT_MAX_STREAMS];
};

// The sections of one table version that have arrived.
struct SectionSet {
    int16_t n16Version;  // -1 before the first
    uint8_t u8Last;
    uint64_t lu64Arrived[4];
};

}  // namespace rivulet

struct TS_ServiceWatch {
    rivulet::PacketWalk tWalk;
    rivulet::TableDecoder* pDecoder;  // the watch's own, for the packets it is fed
    TS_PAT tPAT;                      // the last whole PAT (valid 0 before the first)
    int16_t lnServiceOf[rivulet::kProgramNumberCount];
    rivulet::WatchedService ltService[TS_WATCH_MAX_SERVICES];
    uint16_t u16ServiceCount;
    rivulet::SectionSet tSDTSections;
    rivulet::SectionSet tVCTSections;
    uint64_t lu64GivenUp[rivulet::kProgramNumberCount / 64];
    uint64_t lu64Listed[rivulet::kProgramNumberCount / 64];  // programs of the last whole PAT
    uint64_t u64Offset;  // of the packet in hand
    uint64_t lu64WantedPIDs[TS_PID_COUNT / 64];  // the tables' PIDs and the PMT PIDs of the last whole PAT
    uint16_t u16ClockPID;  // the first PID seen with a PCR: the stream's clock; TS_PID_NULL until then
    uint64_t u64Clock;     // its last PCR, 27 MHz
    rivulet::PCRTrack tTime;  // its PCRs' steps: the stream's time, jumps left out
    rivulet::ATSCSchedule tATSC;  // ATSC's events and clock: the present event of a virtual channel
    uint8_t u8ScheduleChanged;    // a section of the packet in hand may have changed the event on
    uint64_t u64TakeFrom;         // sections completed before this input offset were read already
};

namespace rivulet {

// An empty watch (walk opened by the caller), its tables read by its own
// decoder. False when the decoder cannot be had.
bool watchOpen(TS_ServiceWatch* watch);
void watchClose(TS_ServiceWatch* watch);
// Reads one packet of the stream; true when it belonged to a table the
// watch follows (the PAT, a PMT, the SDT, the EIT p/f or the PSIP PID).
bool watchPacket(TS_ServiceWatch* watch, const uint8_t* packet, const TS_Packet& header, uint64_t offset);

// A run that decodes its tables for others too: the watch takes them from
// `decoder` (the run's), those completed at `from` and after (a watch that
// read ahead of the run has the earlier ones), and watchTablesFed follows
// each packet the run fed the decoder, at input offset `offset`. 0, or -1
// when the decoder's subscriptions are full.
int32_t watchSubscribe(TS_ServiceWatch* watch, TableDecoder* decoder, uint64_t from);
void watchTablesFed(TS_ServiceWatch* watch, uint64_t offset);
// The run's packet of `pid`, which carries an adaptation field: the watch's
// clock (TS_ServiceWatch_Clock) follows the stream by it. Whether it moved.
bool watchFollowClock(TS_ServiceWatch* watch, const uint8_t* packet, uint16_t pid);

}  // namespace rivulet

#endif
