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

void feedEIT(PresentEvents& events, const uint8_t* packet, const TS_Packet& header, EventChanges& changes) {
    feedSections(events.tSlot, TS_SI_ImportPreSection, packet, header, kTableEITPresentFollowing,
                 [&](const TS_PreSection& slot, bool) {
                     constexpr uint32_t kSectionNumber = 6;
                     uint16_t program = 0;
                     if (slot.body[kSectionNumber] != kPresentSection) return;
                     TS_PreSection_TableIdExtension(&slot, &program);
                     PresentEvent present = readPresentEvent(slot);
                     if (present.u8HasEvent) notePresent(events, program, present, changes);
                 });
}

void feedATSC(PresentEvents& events, const uint8_t* packet, const TS_Packet& header, EventChanges& changes) {
    ATSCSchedule& schedule = events.tATSC;
    if (!atscScheduleFeed(schedule, packet, header)) return;
    for (uint32_t i = 0; i < schedule.u32Channels; ++i) {
        const ATSCChannel& channel = schedule.ltChannel[i];
        PresentEvent on;
        if (channel.u16Program && atscEventOn(schedule, channel, &on)) notePresent(events, channel.u16Program, on, changes);
    }
}

}  // namespace

void presentEventsReset(PresentEvents& events) {
    TS_PreSection_Initialise(&events.tSlot);
    atscScheduleReset(events.tATSC);
    for (uint64_t& word : events.lu64Known) word = 0;
}

bool presentEventOf(const PresentEvents& events, uint16_t program, uint16_t* eventId) {
    if (!testBit(events.lu64Known, program)) return false;
    *eventId = events.lu16Event[program];
    return true;
}

bool presentEventsFollow(const PresentEvents& events, uint16_t pid) {
    return pid == kPIDEIT || atscScheduleFollows(events.tATSC, pid);
}

EventChanges presentEventsFeed(PresentEvents& events, const uint8_t* packet, const TS_Packet& header) {
    EventChanges changes{};
    if (header.PID == kPIDEIT) {
        feedEIT(events, packet, header, changes);
    } else {
        feedATSC(events, packet, header, changes);
    }
    return changes;
}

}  // namespace rivulet
