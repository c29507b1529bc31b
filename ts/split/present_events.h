// The present event of each program, as the EIT present/following actual
// (table 0x4E on PID 0x12, section 0) announces it: what cuts a program's
// files at event changes (-e). DVB and ISDB send the table alike.
#ifndef RIVULET_PRESENT_EVENTS_H
#define RIVULET_PRESENT_EVENTS_H

#include <cstdint>

#include "rivulet/ts.h"
#include "ts/section/eit_present.h"
#include "ts/stream/section_feed.h"

namespace rivulet {

constexpr uint32_t kProgramNumberCount = 65536;

struct PresentEvents {
    TS_PreSection tSlot;
    uint64_t lu64Known[kProgramNumberCount / 64];  // programs whose present event is known
    uint16_t lu16Event[kProgramNumberCount];       // their present event_id
};

struct EventChange {
    uint16_t u16Program;
    PresentEvent tEvent;
};

// The changes one packet brings: at most one per section it completes.
struct EventChanges {
    uint32_t u32Count;
    EventChange ltChange[kMaxSectionsPerPacket];
};

void presentEventsReset(PresentEvents& events);

// Whether the present event of `program` is known, and which it is.
bool presentEventOf(const PresentEvents& events, uint16_t program, uint16_t* eventId);

// Takes a packet of PID 0x12: the programs whose present event the sections
// it completes change. A section that names no present event changes nothing.
EventChanges presentEventsFeed(PresentEvents& events, const uint8_t* packet, const TS_Packet& header);

}  // namespace rivulet

#endif
