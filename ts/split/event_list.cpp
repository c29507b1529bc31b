// The event list: a splitter cutting at events that writes nothing and tells
// instead, so that the list says what a cut at events does because it is
// that cut.
#include <cstring>
#include <new>

#include "rivulet/split.h"
#include "ts/core/bit_set.h"
#include "ts/input/input_file.h"
#include "ts/programs/pat_table.h"
#include "ts/programs/service_list.h"
#include "ts/services/event_guide.h"
#include "ts/split/splitter.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/pcr_track.h"

using namespace rivulet;

namespace {

// Announcements still waiting for their cut: one per program at most, and
// as many programs as one watch follows.
constexpr uint32_t kPendingSlots = TS_WATCH_MAX_SERVICES;

struct EventListing {
    TS_EventListener pfListener;
    void* pUser;
    uint64_t lu64AllPIDs[TS_PID_COUNT / 64];
    uint16_t u16ClockPID;  // the first PID with a PCR; TS_PID_NULL before
    PCRTrack tClock;
    uint32_t u32Pending;
    TS_AnnouncedEvent ltPending[kPendingSlots];
    uint64_t lu64Filed[kProgramNumberCount / 64];  // programs told of a file without event
};

void tell(EventListing& list, uint32_t slot) {
    list.pfListener(list.pUser, &list.ltPending[slot]);
    list.ltPending[slot] = list.ltPending[--list.u32Pending];
}

int32_t pendingSlot(const EventListing& list, uint16_t program) {
    for (uint32_t i = 0; i < list.u32Pending; ++i) {
        if (list.ltPending[i].u16ProgramNumber == program) return int32_t(i);
    }
    return -1;
}

void followClock(void* user, const uint8_t* packet, uint64_t) {
    EventListing& list = *static_cast<EventListing*>(user);
    PacketFlags flags = readPacketFlags(packet);
    if (!flags.hasPCR || flags.tei) return;
    if (list.u16ClockPID == TS_PID_NULL) list.u16ClockPID = flags.u16PID;
    if (flags.u16PID == list.u16ClockPID) pcrTrackAdd(list.tClock, flags.u64PCR, flags.discontinuity);
}

// A newer announcement of a program leaves the one before it without a cut.
void announced(void* user, uint16_t program, const PresentEvent& event, uint64_t offset) {
    EventListing& list = *static_cast<EventListing*>(user);
    if (int32_t slot = pendingSlot(list, program); slot >= 0) tell(list, uint32_t(slot));
    if (list.u32Pending == kPendingSlots) tell(list, 0);
    TS_AnnouncedEvent& row = list.ltPending[list.u32Pending++];
    row = TS_AnnouncedEvent{};
    row.u16ProgramNumber = program;
    row.tEvent = serviceEventOf(event);
    row.u64AnnouncedAt = offset;
    row.u8Timed = list.u16ClockPID != TS_PID_NULL;
    row.u64Time = list.tClock.u64Duration;
}

// A program's first file without an event is told as a row without one, so
// that a program with no event is listed too.
void openedWithout(EventListing& list, uint16_t program, uint64_t offset) {
    if (testBit(list.lu64Filed, program)) return;
    setBit(list.lu64Filed, program);
    TS_AnnouncedEvent row{};
    row.u16ProgramNumber = program;
    row.u64AnnouncedAt = offset;
    list.pfListener(list.pUser, &row);
}

void opened(void* user, uint16_t program, uint16_t duplicate, int32_t eventId, uint64_t offset) {
    EventListing& list = *static_cast<EventListing*>(user);
    if (eventId < 0) openedWithout(list, program, offset);
    int32_t slot = pendingSlot(list, program);
    if (duplicate != 0 || slot < 0 || int32_t(list.ltPending[slot].tEvent.u16EventId) != eventId) return;
    list.ltPending[slot].u8Cut = 1;
    list.ltPending[slot].u64CutAt = offset;
    tell(list, uint32_t(slot));
}

}  // namespace

int32_t TS_ListEvents(const char* path, TS_EventListener listener, void* user) {
    return TS_ListEventsAndGuide(path, listener, user, nullptr);
}

int32_t TS_ListEventsAndGuide(const char* path, TS_EventListener listener, void* user, TS_Guide** guide) {
    if (!path || !listener) return -1;
    if (guide) {
        *guide = guideCreate();
        if (!*guide) return TS_ERR_NO_MEMORY;
    }
    EventListing* list = new (std::nothrow) EventListing();
    if (!list) return TS_ERR_NO_MEMORY;
    list->pfListener = listener;
    list->pUser = user;
    list->u16ClockPID = TS_PID_NULL;
    std::memset(list->lu64AllPIDs, 0xFF, sizeof list->lu64AllPIDs);
    TS_SplitOptions options{};
    options.u8Events = 1;
    options.pfObserver = followClock;
    options.pObserverUser = list;
    options.pObservedPIDs = list->lu64AllPIDs;
    int32_t status = 0;
    TS_Splitter* splitter = splitterCreate(path, &options, &status);
    int inputFD = splitter ? openInput(path) : -1;
    if (inputFD >= 0 && guide && guideSubscribe(*guide, splitterTableDecoder(splitter), false) != 0) {
        status = TS_ERR_NO_MEMORY;
    } else if (inputFD >= 0) {
        CutListener told{list, announced, opened};
        splitterListen(splitter, &told);
        TS_Splitter_FeedFrom(splitter, inputFD);
        status = splitterClose(splitter);
        closeInput(inputFD);
    } else if (splitter) {
        status = TS_ERR_OPEN_INPUT;
    }
    if (splitter) splitterDestroy(splitter);
    closeInput(inputFD);
    while (list->u32Pending > 0) tell(*list, 0);
    delete list;
    guideFinish(guide ? *guide : nullptr);
    if (status == 0 && guide && guideFailed(*guide)) status = TS_ERR_NO_MEMORY;
    return status;
}
