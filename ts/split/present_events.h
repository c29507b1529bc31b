// The present event of each program: what cuts a program's files at event
// changes (-e). DVB and ISDB announce it in the EIT present/following actual
// (table 0x4E on PID 0x12, section 0); ATSC lists the events of the next
// hours in EIT-0, on the PID its MGT names, and the present one is the
// event whose time the STT's clock is in.
#ifndef RIVULET_PRESENT_EVENTS_H
#define RIVULET_PRESENT_EVENTS_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/programs/atsc_schedule.h"
#include "ts/programs/pat_table.h"
#include "ts/section/eit_present.h"
#include "ts/stream/section_feed.h"
#include "ts/tables/table_decoder.h"

namespace rivulet {

struct EventChange {
    uint16_t u16Program;
    PresentEvent tEvent;
};

// The changes one packet brings: one per section of an EIT present/following
// it completes; after an STT, one per program whose event's time has come.
constexpr uint32_t kMaxEventChanges =
    kMaxSectionsPerPacket > kMaxATSCChannels ? kMaxSectionsPerPacket : kMaxATSCChannels;
struct EventChanges {
    uint32_t u32Count;
    EventChange ltChange[kMaxEventChanges];
};

// Where changes go as their sections come: null fn, to presentEventsCollect.
struct EventSink {
    void (*fn)(void* pUser, const EventChange& change);
    void* pUser;
};

struct PresentEvents {
    ATSCSchedule tATSC;
    uint64_t lu64Known[kProgramNumberCount / 64];  // programs whose present event is known
    uint16_t lu16Event[kProgramNumberCount];       // their present event_id
    EventChanges tPending;                         // brought by the sections of the packet in hand
    uint8_t u8ScheduleChanged;                     // an ATSC section of it may change the event on
    EventSink tSink;
};

void presentEventsReset(PresentEvents& events);

// Whether the present event of `program` is known, and which it is.
bool presentEventOf(const PresentEvents& events, uint16_t program, uint16_t* eventId);

// The events take the EIT p/f and ATSC's tables from a run's `decoder`, and
// presentEventsCollect, called after each packet the run fed it, gives the
// programs whose present event that packet's sections changed. A section
// that names no present event changes nothing, nor does a time outside every
// event ATSC lists.
// With a sink, each change an EIT p/f section brings goes to it at once
// instead, ahead of what the decoder hands later subscribers of the same
// section (the EIT the SI carrier copies). ATSC's changes wait for the
// packet's end: its sections change the event on together.
// 0, or -1 when the decoder's subscriptions are full.
int32_t presentEventsSubscribe(PresentEvents& events, TableDecoder* decoder, EventSink sink);
EventChanges presentEventsCollect(PresentEvents& events);
// Whether a collect would give anything: a packet's path asks first, as the
// changes are a large record.
inline bool presentEventsWaiting(const PresentEvents& events) {
    return events.u8ScheduleChanged || events.tPending.u32Count > 0;
}

}  // namespace rivulet

#endif
