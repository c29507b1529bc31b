// ATSC's events, as a cut at events reads them: the MGT names EIT-0's PID,
// the VCTs tie sources to programs, each EIT-0 section lists a source's
// events, and the STT's clock says which of them is on.
#ifndef RIVULET_ATSC_SCHEDULE_H
#define RIVULET_ATSC_SCHEDULE_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/section/psip.h"

namespace rivulet {

constexpr uint32_t kMaxATSCChannels = 64;       // sources whose events are kept
constexpr uint32_t kMaxATSCChannelEvents = 16;  // per source: EIT-0 spans three hours

struct ATSCChannel {
    uint16_t u16Source;
    uint16_t u16Program;  // 0 until a VCT of this stream ties the source to a program
    uint32_t u32Events;
    ATSCEvent ltEvent[kMaxATSCChannelEvents];
};

struct ATSCSchedule {
    uint16_t u16EITPID;       // EIT-0's, kNoPID until an MGT names it
    uint8_t u8TimeKnown;
    uint8_t u8GPSOffset;      // the STT's GPS_UTC_offset
    uint32_t u32Now;          // the STT's system_time, on the GPS scale as events' start times are
    uint32_t u32Channels;
    ATSCChannel ltChannel[kMaxATSCChannels];
};

void atscScheduleReset(ATSCSchedule& schedule);

// Takes one section gathered and verified (in force): of PID 0x1FFB (an
// MGT, an STT, a VCT; others change nothing), or of EIT-0. True when it may
// change which event is on: an STT, a VCT or an EIT-0.
bool atscScheduleTakeBase(ATSCSchedule& schedule, const TS_PreSection& slot);
bool atscScheduleTakeEIT(ATSCSchedule& schedule, const TS_PreSection& slot);

// The event of `channel` that the clock is in (start <= now < start +
// length, both GPS time), its start and end shown in UTC; false when the
// clock is not known or in none of its events.
bool atscEventOn(const ATSCSchedule& schedule, const ATSCChannel& channel, PresentEvent* on);

}  // namespace rivulet

#endif
