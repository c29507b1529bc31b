// Feeding the service watch: each table's sections gathered, checked and
// decoded into the history of the service it describes.
#include "ts/services/service_watch.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "ts/core/bit_set.h"
#include "ts/programs/service_list.h"
#include "ts/section/eit_present.h"
#include "ts/section/sdt.h"
#include "ts/section/sit.h"
#include "ts/section/stream_kind.h"
#include "ts/section/vct.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/section_feed.h"

namespace rivulet {
namespace {

constexpr int16_t kNone = -1;
constexpr uint8_t kAdaptationFieldFlag = 0x20;  // of a packet's fourth byte
constexpr uint8_t kServiceDescriptorTag = 0x48;

// A free entry: a new one, or, once all are taken, that of a service the
// last whole PAT does not list (an SDT may describe hundreds of others).
int16_t freeEntry(TS_ServiceWatch& w) {
    if (w.u16ServiceCount < TS_WATCH_MAX_SERVICES) return int16_t(w.u16ServiceCount++);
    for (uint16_t i = 0; i < TS_WATCH_MAX_SERVICES; ++i) {
        uint16_t program = w.ltService[i].u16Program;
        if (testBit(w.lu64Listed, program)) continue;
        w.lnServiceOf[program] = kNone;
        return int16_t(i);
    }
    return kNone;
}

WatchedService* serviceOf(TS_ServiceWatch& w, uint16_t program) {
    int16_t& index = w.lnServiceOf[program];
    if (index != kNone) return &w.ltService[index];
    int16_t entry = freeEntry(w);
    if (entry == kNone) return nullptr;
    index = entry;
    WatchedService* service = &w.ltService[index];
    std::memset(service, 0, sizeof *service);
    service->u16Program = program;
    return service;
}

// Adds `value` at `offset` unless it repeats the last; the oldest goes when full.
template <class T>
void remember(History<T>& history, const T& value, uint64_t offset) {
    if (history.u8Count > 0 && std::memcmp(&history.ltItem[history.u8Count - 1], &value, sizeof value) == 0) return;
    if (history.u8Count == TS_WATCH_HISTORY) {
        std::memmove(history.ltItem, history.ltItem + 1, sizeof(T) * (TS_WATCH_HISTORY - 1));
        std::memmove(history.lu64At, history.lu64At + 1, sizeof(uint64_t) * (TS_WATCH_HISTORY - 1));
        --history.u8Count;
    }
    history.ltItem[history.u8Count] = value;
    history.lu64At[history.u8Count++] = offset;
}

// Takes a description from an SDT (or SIT) or a VCT. The first of them that
// names the service (a virtual channel is named by its number at least)
// describes it for good: the other's descriptions are left out, so that a
// name does not change with the table that came last.
void describe(const TS_ServiceWatch& w, WatchedService& service, const ServiceDescription& d) {
    const NamedBy table = d.u8Virtual ? NamedBy::VCT : NamedBy::SDT;
    if (service.eNamedBy != NamedBy::None && service.eNamedBy != table) return;
    if (d.u8NameLength > 0 || d.u8Virtual) service.eNamedBy = table;
    remember(service.tDescriptions, d, w.u64Offset);
}

// Notes a section of a table version (the facts tell when all have come).
void noteSection(SectionSet& set, const TS_PreSection& slot) {
    uint8_t version = (slot.body[5] >> 1) & 0x1F;
    if (set.n16Version != version) {
        set = SectionSet{version, slot.body[7], {0, 0, 0, 0}};
    }
    set.u8Last = slot.body[7];
    setBit(set.lu64Arrived, slot.body[6]);
}

// False when the loop holds no service descriptor.
bool readServiceDescriptor(ServiceDescription& d, ByteReader descriptors) {
    bool found = false;
    while (descriptors.canRead(2)) {
        uint8_t tag = descriptors.u8();
        ByteReader body = descriptors.take(descriptors.u8());
        if (tag != kServiceDescriptorTag) continue;
        d.u8ServiceType = body.u8();
        d.u8ProviderLength = uint8_t(body.copy(d.lu8Provider, body.u8(), TS_SERVICE_NAME_SIZE));
        d.u8NameLength = uint8_t(body.copy(d.lu8Name, body.u8(), TS_SERVICE_NAME_SIZE));
        found = true;
    }
    return found;
}

void onSDT(TS_ServiceWatch& w, const TS_PreSection& slot) {
    uint8_t text = isISDBNetwork(sdtOriginalNetwork(slot)) ? TS_TEXT_ARIB : TS_TEXT_DVB;
    forEachSDTService(slot, [&](uint16_t serviceId, const uint8_t* entry, uint32_t, ByteReader descriptors) {
        WatchedService* service = serviceOf(w, serviceId);
        if (!service) return;
        ServiceDescription d{};
        d.u8Text = text;
        d.u8EITPresentFollowing = entry[2] & 1;
        readServiceDescriptor(d, descriptors);
        describe(w, *service, d);
    });
    noteSection(w.tSDTSections, slot);
}

// A partial stream's SIT stands for its SDT: a SIT that the stream repeats
// is a whole table of the services it carries.
void onSIT(TS_ServiceWatch& w, const TS_PreSection& slot) {
    uint8_t text = sitIsARIB(slot) ? TS_TEXT_ARIB : TS_TEXT_DVB;
    forEachSITService(slot, [&](uint16_t serviceId, ByteReader descriptors) {
        ServiceDescription d{};
        d.u8Text = text;
        // A recorder's SIT may list a service without describing it.
        if (!readServiceDescriptor(d, descriptors)) return;
        WatchedService* service = serviceOf(w, serviceId);
        if (service) describe(w, *service, d);
    });
    noteSection(w.tSDTSections, slot);
}

void onVCT(TS_ServiceWatch& w, const TS_PreSection& slot) {
    const TS_PAT& pat = w.tPAT;
    forEachVirtualChannel(slot, [&](const VirtualChannel& channel) {
        if (channel.u16ProgramNumber == 0 || channel.u16ProgramNumber == kAnalogChannel) return;
        // A VCT also lists the channels of other transport streams.
        if (pat.valid && channel.u16ChannelTSID != pat.transport_stream_id) return;
        WatchedService* service = serviceOf(w, channel.u16ProgramNumber);
        if (!service) return;
        ServiceDescription d{};
        d.u8Text = TS_TEXT_UTF16;
        d.u8ServiceType = channel.u8ServiceType;
        d.u8Virtual = 1;
        d.u16Major = channel.u16Major;
        d.u16Minor = channel.u16Minor;
        d.u8NameLength = channel.u8ShortNameLength;
        std::memcpy(d.lu8Name, channel.lu8ShortName, channel.u8ShortNameLength);
        describe(w, *service, d);
    });
    noteSection(w.tVCTSections, slot);
}

// Only the events of programs that may get files, or have had them: the
// events tables may describe every service of the network.
bool followsEventsOf(const TS_ServiceWatch& w, uint16_t program) {
    return w.lnServiceOf[program] != kNone || testBit(w.lu64Listed, program);
}

void onPresentEvent(TS_ServiceWatch& w, const TS_PreSection& slot) {
    uint16_t serviceId = 0;
    TS_PreSection_TableIdExtension(&slot, &serviceId);
    if (slot.body[6] != kPresentSection || !followsEventsOf(w, serviceId)) return;
    WatchedService* service = serviceOf(w, serviceId);
    if (!service) return;
    remember(service->tEvents, serviceEventOf(readPresentEvent(slot)), w.u64Offset);
}

// After an STT, a VCT or an EIT-0: the event each virtual channel is on.
void onSchedule(TS_ServiceWatch& w) {
    for (uint32_t i = 0; i < w.tATSC.u32Channels; ++i) {
        const ATSCChannel& channel = w.tATSC.ltChannel[i];
        PresentEvent on;
        bool known = atscEventOn(w.tATSC, channel, &on);
        WatchedService* service = known && followsEventsOf(w, channel.u16Program) ? serviceOf(w, channel.u16Program) : nullptr;
        if (service) remember(service->tEvents, serviceEventOf(on), w.u64Offset);
    }
}

void onPMT(TS_ServiceWatch& w, const TS_PreSection& slot) {
    uint16_t program = 0;
    TS_PreSection_TableIdExtension(&slot, &program);
    WatchedService* service = serviceOf(w, program);
    if (!service) return;
    service->u8PMTSeen = 1;
    service->u8StreamCount = 0;
    forEachClassifiedStream(&slot, [&](uint16_t pid, uint8_t streamType, const StreamClass& stream) {
        if (service->u8StreamCount == TS_PMT_MAX_STREAMS) return;
        TS_StreamSummary& summary = service->ltStream[service->u8StreamCount++];
        summary = TS_StreamSummary{pid, streamType, uint8_t(stream.kind), stream.component, {}, {}};
        std::snprintf(summary.strCodec, sizeof summary.strCodec, "%s", stream.codec);
        std::memcpy(summary.strLanguage, stream.language, sizeof summary.strLanguage);
    });
}

void wantTablePIDs(TS_ServiceWatch& w) {
    std::memset(w.lu64WantedPIDs, 0, sizeof w.lu64WantedPIDs);
    for (uint16_t pid : {TS_PID_PAT, kPIDSDT, kPIDEIT, kPIDSIT, kPIDPSIP}) setBit(w.lu64WantedPIDs, pid);
    if (w.tATSC.u16EITPID != kNoPID) setBit(w.lu64WantedPIDs, w.tATSC.u16EITPID);
}

void mapPMTPIDs(TS_ServiceWatch& w) {
    std::memset(w.lu64Listed, 0, sizeof w.lu64Listed);
    wantTablePIDs(w);
    forEachProgram(w.tPAT, [&](uint16_t, const TS_PAT_Program& program) {
        setBit(w.lu64Listed, program.program_number);
        setBit(w.lu64WantedPIDs, program.program_map_PID & (TS_PID_COUNT - 1));
    });
}

// The watch's subscriptions: each takes the offset of the section's packet.
// Null for a section the watch has read already.
TS_ServiceWatch* watchOf(void* user, const TableSection& section) {
    TS_ServiceWatch* w = static_cast<TS_ServiceWatch*>(user);
    if (section.u64Offset < w->u64TakeFrom) return nullptr;
    w->u64Offset = section.u64Offset;
    return w;
}

void takePAT(void* user, const TableSection& section) {
    TS_ServiceWatch* w = watchOf(user, section);
    if (!w) return;
    w->tPAT = *section.pPAT;
    mapPMTPIDs(*w);
}

template <void (*onSection)(TS_ServiceWatch&, const TS_PreSection&)>
void take(void* user, const TableSection& section) {
    if (TS_ServiceWatch* w = watchOf(user, section)) onSection(*w, *section.pSlot);
}

void takeATSCBase(void* user, const TableSection& section) {
    TS_ServiceWatch* w = watchOf(user, section);
    if (!w) return;
    if (atscScheduleTakeBase(w->tATSC, *section.pSlot)) w->u8ScheduleChanged = 1;
    if (w->tATSC.u16EITPID != kNoPID) setBit(w->lu64WantedPIDs, w->tATSC.u16EITPID);
}

void takeATSCEIT(void* user, const TableSection& section) {
    TS_ServiceWatch* w = watchOf(user, section);
    if (w && atscScheduleTakeEIT(w->tATSC, *section.pSlot)) w->u8ScheduleChanged = 1;
}

struct WatchedKind {
    TableKind eKind;
    TableCallback pfTake;
};

// In the order the watch read them when it gathered its own sections: a
// VCT's names before the schedule's channels.
constexpr WatchedKind kWatchedKinds[] = {
    {TableKind::PAT, takePAT},
    {TableKind::PMT, take<onPMT>},
    {TableKind::SDTActual, take<onSDT>},
    {TableKind::SIT, take<onSIT>},
    {TableKind::EITPresentFollowing, take<onPresentEvent>},
    {TableKind::VCT, take<onVCT>},
    {TableKind::MGT, takeATSCBase},
    {TableKind::VCT, takeATSCBase},
    {TableKind::STT, takeATSCBase},
    {TableKind::ATSCEIT, takeATSCEIT},
};

// Stream time for the waits of live input: the PCR of the first PID that
// has one. Whether the packet gave it.
bool followClock(TS_ServiceWatch& w, const uint8_t* packet, uint16_t pid) {
    if (w.u16ClockPID != TS_PID_NULL && pid != w.u16ClockPID) return false;
    PacketFlags flags = readPacketFlags(packet);
    if (!flags.hasPCR || flags.tei) return false;
    w.u16ClockPID = pid;
    w.u64Clock = flags.u64PCR;
    pcrTrackAdd(w.tTime, flags.u64PCR, flags.discontinuity);
    return true;
}

void watchReset(TS_ServiceWatch* w) {
    for (int16_t& index : w->lnServiceOf) index = kNone;
    w->tPAT.valid = 0;
    w->tPAT.program_count = 0;
    w->u16ServiceCount = 0;
    w->tSDTSections = SectionSet{-1, 0, {0, 0, 0, 0}};
    w->tVCTSections = SectionSet{-1, 0, {0, 0, 0, 0}};
    std::memset(w->lu64GivenUp, 0, sizeof w->lu64GivenUp);
    std::memset(w->lu64Listed, 0, sizeof w->lu64Listed);
    w->u64Offset = 0;
    w->u16ClockPID = TS_PID_NULL;
    w->u64Clock = 0;
    w->tTime = PCRTrack{};
    atscScheduleReset(w->tATSC);
    w->u8ScheduleChanged = 0;
    w->u64TakeFrom = 0;
    wantTablePIDs(*w);
}

}  // namespace

bool watchOpen(TS_ServiceWatch* w) {
    watchReset(w);
    w->pDecoder = tableDecoderCreate();
    return w->pDecoder && watchSubscribe(w, w->pDecoder, 0) == 0;
}

void watchClose(TS_ServiceWatch* w) {
    tableDecoderDestroy(w->pDecoder);
    w->pDecoder = nullptr;
}

int32_t watchSubscribe(TS_ServiceWatch* w, TableDecoder* decoder, uint64_t from) {
    w->u64TakeFrom = from;
    for (const WatchedKind& watched : kWatchedKinds) {
        if (tableSubscribe(decoder, watched.eKind, watched.pfTake, w) != 0) return -1;
    }
    return 0;
}

void watchTablesFed(TS_ServiceWatch* watch, uint64_t offset) {
    TS_ServiceWatch& w = *watch;
    w.u64Offset = offset;
    if (w.u8ScheduleChanged) onSchedule(w);
    w.u8ScheduleChanged = 0;
}

bool watchFollowClock(TS_ServiceWatch* watch, const uint8_t* packet, uint16_t pid) {
    return followClock(*watch, packet, pid);
}

bool watchPacket(TS_ServiceWatch* watch, const uint8_t* packet, const TS_Packet& header, uint64_t offset) {
    const bool followed = tableDecoderFollows(*watch->pDecoder, header.PID);
    if (packet[3] & kAdaptationFieldFlag) followClock(*watch, packet, header.PID);
    tableDecoderFeed(watch->pDecoder, packet, header, offset);
    watchTablesFed(watch, offset);
    return followed;
}

}  // namespace rivulet
