// An ATSC EIT event entry (A/65: event_id to the end of its descriptors)
// decoded into the guide's record of an event: its times, its title and,
// from the ETT that extends it, its description; texts as UTF-16BE.
#ifndef RIVULET_ATSC_EVENT_INFO_H
#define RIVULET_ATSC_EVENT_INFO_H

#include <cstdint>

#include "rivulet/guide.h"

namespace rivulet {

constexpr uint32_t kATSCEventHeader = 10;  // event_id .. title_length

// The entry at `entry` (`size` bytes) into `info`, its start in UTC by
// `gpsUtcOffset`; `text` (`textSize` bytes, null for none): the
// extended_text_message of its ETT. -2 when the entry is shorter than its
// header. The service and stream are the caller's to set.
int32_t atscEventInfoRead(TS_EventInfo* info, const uint8_t* entry, uint32_t size, uint8_t gpsUtcOffset,
                          const uint8_t* text, uint32_t textSize);

// The ETM_id of event `eventId` of source `source`: the key of its ETT.
inline uint32_t atscEventETM(uint16_t source, uint16_t eventId) {
    return uint32_t(source) << 16 | uint32_t(eventId & 0x3FFF) << 2 | 0x2;
}

}  // namespace rivulet

#endif
