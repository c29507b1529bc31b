#include "ts/split/present_events.h"

#include "ts/core/bit_set.h"

namespace rivulet {

void presentEventsReset(PresentEvents& events) {
    TS_PreSection_Initialise(&events.tSlot);
    for (uint64_t& word : events.lu64Known) word = 0;
}

bool presentEventOf(const PresentEvents& events, uint16_t program, uint16_t* eventId) {
    if (!testBit(events.lu64Known, program)) return false;
    *eventId = events.lu16Event[program];
    return true;
}

EventChanges presentEventsFeed(PresentEvents& events, const uint8_t* packet, const TS_Packet& header) {
    EventChanges changes{};
    feedSections(events.tSlot, TS_SI_ImportPreSection, packet, header, kTableEITPresentFollowing,
                 [&](const TS_PreSection& slot, bool) {
                     constexpr uint32_t kSectionNumber = 6;
                     uint16_t program = 0;
                     if (slot.body[kSectionNumber] != kPresentSection) return;
                     TS_PreSection_TableIdExtension(&slot, &program);
                     PresentEvent present = readPresentEvent(slot);
                     uint16_t known = 0;
                     if (!present.u8HasEvent) return;
                     if (presentEventOf(events, program, &known) && known == present.u16EventId) return;
                     setBit(events.lu64Known, program);
                     events.lu16Event[program] = present.u16EventId;
                     changes.ltChange[changes.u32Count++] = EventChange{program, present};
                 });
    return changes;
}

}  // namespace rivulet
