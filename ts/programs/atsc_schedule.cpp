#include "ts/programs/atsc_schedule.h"

namespace rivulet {
namespace {

ATSCChannel* channelOf(ATSCSchedule& schedule, uint16_t source) {
    for (uint32_t i = 0; i < schedule.u32Channels; ++i) {
        if (schedule.ltChannel[i].u16Source == source) return &schedule.ltChannel[i];
    }
    if (schedule.u32Channels == kMaxATSCChannels) return nullptr;
    ATSCChannel& added = schedule.ltChannel[schedule.u32Channels++];
    added = ATSCChannel{};
    added.u16Source = source;
    return &added;
}

// An event listed again replaces its old entry; a new one takes a free slot,
// or the one that ended first.
void keepEvent(ATSCChannel& channel, const ATSCEvent& event) {
    uint32_t slot = channel.u32Events;
    for (uint32_t i = 0; i < channel.u32Events; ++i) {
        if (channel.ltEvent[i].tEvent.u16EventId == event.tEvent.u16EventId) {
            slot = i;
            break;
        }
    }
    if (slot == kMaxATSCChannelEvents) {
        slot = 0;
        for (uint32_t i = 1; i < kMaxATSCChannelEvents; ++i) {
            const ATSCEvent& e = channel.ltEvent[i];
            const ATSCEvent& first = channel.ltEvent[slot];
            if (uint64_t(e.u32Start) + e.u32Length < uint64_t(first.u32Start) + first.u32Length) slot = i;
        }
    }
    if (slot == channel.u32Events) ++channel.u32Events;
    channel.ltEvent[slot] = event;
}

// A section replaces what it listed before, and a table of fewer sections
// than before drops the events of those past its last: events a newer
// version leaves out are gone.
void dropReplaced(ATSCChannel& channel, uint8_t section, uint8_t lastSection) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < channel.u32Events; ++i) {
        const ATSCEvent& e = channel.ltEvent[i];
        if (e.u8Section != section && e.u8Section <= lastSection) channel.ltEvent[kept++] = e;
    }
    channel.u32Events = kept;
}

void onEIT(ATSCSchedule& schedule, const TS_PreSection& slot) {
    constexpr uint32_t kSectionNumber = 6;
    constexpr uint32_t kLastSectionNumber = 7;
    uint16_t source = 0;
    TS_PreSection_TableIdExtension(&slot, &source);
    ATSCChannel* channel = channelOf(schedule, source);
    if (!channel) return;
    dropReplaced(*channel, slot.body[kSectionNumber], slot.body[kLastSectionNumber]);
    forEachATSCEvent(slot, [](void* user, const ATSCEvent& event) { keepEvent(*static_cast<ATSCChannel*>(user), event); },
                     channel);
}

void onVCT(ATSCSchedule& schedule, const TS_PreSection& slot) {
    uint16_t carrier = 0;  // the transport stream the VCT is sent in
    TS_PreSection_TableIdExtension(&slot, &carrier);
    forEachVirtualChannel(slot, [&](const VirtualChannel& virtualChannel) {
        if (virtualChannel.u16ChannelTSID != carrier) return;  // a channel of another stream
        ATSCChannel* channel = channelOf(schedule, virtualChannel.u16SourceId);
        uint16_t program = virtualChannel.u16ProgramNumber;
        if (channel) channel->u16Program = program == kAnalogChannel ? 0 : program;
    });
}

bool onBaseSection(ATSCSchedule& schedule, const TS_PreSection& slot) {
    switch (slot.body[0]) {
    case kTableMGT: schedule.u16EITPID = eitZeroPID(slot); return false;
    case kTableSTT: schedule.u8TimeKnown = sttTime(slot, &schedule.u32Now, &schedule.u8GPSOffset); return true;
    case kTableTVCT:
    case kTableCVCT: onVCT(schedule, slot); return true;
    default: return false;
    }
}

}  // namespace

void atscScheduleReset(ATSCSchedule& schedule) {
    schedule.u16EITPID = kNoPID;
    schedule.u8TimeKnown = 0;
    schedule.u32Channels = 0;
}

bool atscScheduleTakeBase(ATSCSchedule& schedule, const TS_PreSection& slot) { return onBaseSection(schedule, slot); }

bool atscScheduleTakeEIT(ATSCSchedule& schedule, const TS_PreSection& slot) {
    onEIT(schedule, slot);
    return true;
}

bool atscEventOn(const ATSCSchedule& schedule, const ATSCChannel& channel, PresentEvent* on) {
    if (!schedule.u8TimeKnown) return false;
    for (uint32_t i = 0; i < channel.u32Events; ++i) {
        const ATSCEvent& e = channel.ltEvent[i];
        if (e.u32Start > schedule.u32Now || uint64_t(schedule.u32Now) >= uint64_t(e.u32Start) + e.u32Length) continue;
        *on = e.tEvent;
        showATSCTimes(*on, e.u32Start, e.u32Length, schedule.u8GPSOffset);
        return true;
    }
    return false;
}

}  // namespace rivulet
