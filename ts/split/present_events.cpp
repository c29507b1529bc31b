#include "ts/split/present_events.h"

#include "ts/core/bit_set.h"

namespace rivulet {
namespace {

// Notes `event` as the present one of `program`; false when it already is.
bool notePresent(PresentEvents& events, uint16_t program, const PresentEvent& event, EventChanges& changes) {
    uint16_t known = 0;
    if (presentEventOf(events, program, &known) && known == event.u16EventId) return false;
    if (changes.u32Count == kMaxEventChanges) return false;
    setBit(events.lu64Known, program);
    events.lu16Event[program] = event.u16EventId;
    changes.ltChange[changes.u32Count++] = EventChange{program, event};
    return true;
}

void takePresentEvent(PresentEvents& events, const TS_PreSection& slot, EventChanges& changes) {
    constexpr uint32_t kSectionNumber = 6;
    uint16_t program = 0;
    if (slot.body[kSectionNumber] != kPresentSection) return;
    TS_PreSection_TableIdExtension(&slot, &program);
    PresentEvent present = readPresentEvent(slot);
    if (present.u8HasEvent) notePresent(events, program, present, changes);
}

void noteEventsOn(PresentEvents& events, EventChanges& changes) {
    const ATSCSchedule& schedule = events.tATSC;
    for (uint32_t i = 0; i < schedule.u32Channels; ++i) {
        const ATSCChannel& channel = schedule.ltChannel[i];
        PresentEvent on;
        if (channel.u16Program && atscEventOn(schedule, channel, &on)) notePresent(events, channel.u16Program, on, changes);
    }
}

PresentEvents& eventsOf(void* user) { return *static_cast<PresentEvents*>(user); }

void takeEIT(void* user, const TableSection& section) {
    PresentEvents& events = eventsOf(user);
    EventChanges& pending = events.tPending;
    const uint32_t before = pending.u32Count;
    takePresentEvent(events, *section.pSlot, pending);
    if (!events.tSink.fn) return;
    for (uint32_t i = before; i < pending.u32Count; ++i) events.tSink.fn(events.tSink.pUser, pending.ltChange[i]);
    pending.u32Count = before;
}

void takeATSCBase(void* user, const TableSection& section) {
    PresentEvents& events = eventsOf(user);
    if (atscScheduleTakeBase(events.tATSC, *section.pSlot)) events.u8ScheduleChanged = 1;
}

void takeATSCEIT(void* user, const TableSection& section) {
    PresentEvents& events = eventsOf(user);
    if (atscScheduleTakeEIT(events.tATSC, *section.pSlot)) events.u8ScheduleChanged = 1;
}

struct EventKind {
    TableKind eKind;
    TableCallback pfTake;
};

constexpr EventKind kEventKinds[] = {
    {TableKind::EITPresentFollowing, takeEIT},
    {TableKind::MGT, takeATSCBase},
    {TableKind::VCT, takeATSCBase},
    {TableKind::STT, takeATSCBase},
    {TableKind::ATSCEIT, takeATSCEIT},
};

}  // namespace

void presentEventsReset(PresentEvents& events) {
    atscScheduleReset(events.tATSC);
    for (uint64_t& word : events.lu64Known) word = 0;
    events.tPending.u32Count = 0;
    events.u8ScheduleChanged = 0;
    events.tSink = EventSink{nullptr, nullptr};
}

bool presentEventOf(const PresentEvents& events, uint16_t program, uint16_t* eventId) {
    if (!testBit(events.lu64Known, program)) return false;
    *eventId = events.lu16Event[program];
    return true;
}

int32_t presentEventsSubscribe(PresentEvents& events, TableDecoder* decoder, EventSink sink) {
    events.tSink = sink;
    for (const EventKind& kind : kEventKinds) {
        if (tableSubscribe(decoder, kind.eKind, kind.pfTake, &events) != 0) return -1;
    }
    return 0;
}

EventChanges presentEventsCollect(PresentEvents& events) {
    if (events.u8ScheduleChanged) noteEventsOn(events, events.tPending);
    events.u8ScheduleChanged = 0;
    EventChanges changes = events.tPending;
    events.tPending.u32Count = 0;
    return changes;
}

}  // namespace rivulet
