// The programme guide of an input: every event entry of its EIT sections,
// kept as broadcast (the last version of each event) and decoded when asked
// for, and the services that carry them. A section repeated at its version
// is passed over before any of its events is looked at.
#include <algorithm>
#include <cstring>
#include <new>

#include "ts/core/growable.h"
#include "ts/core/key_index.h"
#include "ts/input/input_file.h"
#include "ts/programs/service_list.h"
#include "ts/section/dvb_time.h"
#include "ts/section/section_reader.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/pcr_track.h"
#include "ts/services/event_guide.h"
#include "ts/tables/table_decoder.h"

using namespace rivulet;

namespace {

constexpr uint32_t kEITHeader = 6;      // transport_stream_id .. last_table_id, behind the long header
constexpr uint32_t kEventHeader = 12;   // event_id .. descriptors_loop_length
constexpr uint8_t kTablePresentFollowing = 0x4E;

struct GuideEvent {
    uint64_t u64Service;   // network << 32 | stream << 16 | service
    int64_t s64Start;      // for the order; INT64_MAX when undefined
    uint16_t u16Event;
    uint8_t u8TableId;
    uint8_t u8Section;
    uint32_t u32At;        // the entry's bytes in the guide's store
    uint32_t u32Length;
    uint32_t u32Present;   // the order in which events were first announced present (0: never)
};

uint64_t serviceKey(uint16_t network, uint16_t stream, uint16_t service) {
    return uint64_t(network) << 32 | uint64_t(stream) << 16 | service;
}

}  // namespace

struct TS_Guide {
    Growable<GuideEvent> events;
    Growable<uint8_t> bytes;   // the entries as broadcast
    KeyIndex eventOf;          // service key << 16 | event_id -> index in events
    KeyIndex versionOf;        // a section's key -> its version + 1
    Growable<uint64_t> services;  // service keys, each once
    KeyIndex serviceOf;
    TS_ServiceList tNames;     // the SDT actual's
    uint16_t u16NamedStream;   // its transport_stream_id
    uint16_t u16NamedNetwork;
    uint32_t u32Presents;      // events announced present so far
    uint8_t u8Failed;          // memory ran short: what came after is missing
};

namespace {

bool addService(TS_Guide& guide, uint64_t key) {
    uint32_t* known = keyFind(guide.serviceOf, key);
    if (known) return true;
    uint32_t* index = keyInsert(guide.serviceOf, key);
    if (!index || !growTo(guide.services, guide.services.u32Size + 1)) return false;
    *index = guide.services.u32Size - 1;
    guide.services[*index] = key;
    return true;
}

// The start of an entry as seconds since 1970 (the order of a guide), or INT64_MAX.
int64_t startOf(const uint8_t* entry) {
    constexpr uint32_t kStartAt = 2;  // behind event_id
    int64_t start = 0;
    return utcOfTime(entry + kStartAt, 5, &start) ? start : INT64_MAX;
}

bool keepEntry(TS_Guide& guide, uint64_t service, uint8_t tableId, uint8_t section, const uint8_t* entry,
               uint32_t length) {
    const uint16_t eventId = uint16_t(entry[0] << 8 | entry[1]);
    uint32_t* index = keyInsert(guide.eventOf, service << 16 | eventId);
    if (!index) return false;
    if (*index == 0) {
        if (!growTo(guide.events, guide.events.u32Size + 1)) return false;
        *index = guide.events.u32Size;  // index + 1: 0 is new
    }
    GuideEvent& event = guide.events[*index - 1];
    if (tableId == kTablePresentFollowing && section == 0 && event.u32Present == 0) event.u32Present = ++guide.u32Presents;
    if (event.u32Length == length && std::memcmp(guide.bytes.p + event.u32At, entry, length) == 0) return true;
    const uint32_t at = guide.bytes.u32Size;
    if (!growTo(guide.bytes, at + length)) return false;
    std::memcpy(guide.bytes.p + at, entry, length);
    event = GuideEvent{service, startOf(entry), eventId, tableId, section, at, length, event.u32Present};
    return true;
}

// A verified EIT section: its events, unless its version was seen already.
void takeEIT(TS_Guide& guide, const TS_PreSection& slot) {
    ByteReader section = sectionBytes(&slot);
    const uint8_t* head = section.current();
    if (!section.canRead(kLongHeaderSize + kEITHeader)) return;
    const uint8_t tableId = head[0];
    const uint16_t serviceId = uint16_t(head[3] << 8 | head[4]);
    const uint8_t version = (head[5] >> 1) & 0x1F;
    const uint8_t number = head[6];
    ByteReader loops = sectionLoops(section);
    const uint16_t stream = loops.u16();
    const uint16_t network = loops.u16();
    loops.skip(2);  // segment_last_section_number, last_table_id
    const uint64_t service = serviceKey(network, stream, serviceId);
    uint32_t* seen = keyInsert(guide.versionOf, service << 16 | uint64_t(tableId) << 8 | number);
    if (!seen || !addService(guide, service)) {
        guide.u8Failed = 1;
        return;
    }
    if (*seen == uint32_t(version) + 1) return;
    *seen = uint32_t(version) + 1;
    while (loops.canRead(kEventHeader)) {
        const uint8_t* entry = loops.current();
        loops.skip(kEventHeader - 2);
        loops.skip(loops.u16() & 0x0FFF);
        const uint32_t length = uint32_t(loops.current() - entry);
        if (!keepEntry(guide, service, tableId, number, entry, length)) {
            guide.u8Failed = 1;
            return;
        }
    }
}

void takeSDT(TS_Guide& guide, const TS_PreSection& slot) {
    addSDTServices(&guide.tNames, slot);
    ByteReader section = sectionBytes(&slot);
    guide.u16NamedStream = uint16_t(section.current()[3] << 8 | section.current()[4]);
    guide.u16NamedNetwork = sdtOriginalNetwork(slot);
    forEachSDTService(slot, [&](uint16_t serviceId, const uint8_t*, uint32_t, ByteReader) {
        if (!addService(guide, serviceKey(guide.u16NamedNetwork, guide.u16NamedStream, serviceId))) guide.u8Failed = 1;
    });
}

void onEIT(void* user, const TableSection& section) { takeEIT(*static_cast<TS_Guide*>(user), *section.pSlot); }
void onSDT(void* user, const TableSection& section) { takeSDT(*static_cast<TS_Guide*>(user), *section.pSlot); }

struct GuideRun {
    TS_Guide* pGuide;
    PacketWalk tWalk;
    TableDecoder* pDecoder;
    uint64_t u64Limit;          // 27 MHz of input time; 0: none
    uint16_t u16ClockPID;
    PCRTrack tClock;
};

// The input's time by its first PID with PCRs: true while within the limit.
bool withinTime(GuideRun& run, const uint8_t* packet) {
    if (run.u64Limit == 0) return true;
    const PacketFlags flags = readPacketFlags(packet);
    if (!flags.hasPCR || flags.tei) return true;
    if (run.u16ClockPID == TS_PID_NULL) run.u16ClockPID = flags.u16PID;
    if (flags.u16PID == run.u16ClockPID) pcrTrackAdd(run.tClock, flags.u64PCR, flags.discontinuity);
    return run.tClock.u64Duration < run.u64Limit;
}

}  // namespace

namespace rivulet {

// Events by service, then start, then event_id.
void guideFinish(TS_Guide* guide) {
    if (!guide) return;
    TS_Guide& g = *guide;
    std::sort(g.events.p, g.events.p + g.events.u32Size, [](const GuideEvent& a, const GuideEvent& b) {
        if (a.u64Service != b.u64Service) return a.u64Service < b.u64Service;
        if (a.s64Start != b.s64Start) return a.s64Start < b.s64Start;
        return a.u16Event < b.u16Event;
    });
    std::sort(g.services.p, g.services.p + g.services.u32Size);
    // The index follows the events' new places.
    for (uint32_t i = 0; i < g.events.u32Size; ++i) {
        if (uint32_t* at = keyFind(g.eventOf, g.events[i].u64Service << 16 | g.events[i].u16Event)) *at = i + 1;
    }
    for (uint32_t i = 0; i < g.services.u32Size; ++i) {
        if (uint32_t* at = keyFind(g.serviceOf, g.services[i])) *at = i;
    }
}

TS_Guide* guideCreate() { return new (std::nothrow) TS_Guide{}; }

int32_t guideSubscribe(TS_Guide* guide, TableDecoder* decoder, bool other) {
    const bool all = tableSubscribe(decoder, TableKind::EITActual, onEIT, guide) == 0 &&
                     tableSubscribe(decoder, TableKind::SDTActual, onSDT, guide) == 0 &&
                     (!other || tableSubscribe(decoder, TableKind::EITOther, onEIT, guide) == 0);
    return all ? 0 : -1;
}

bool guideFailed(const TS_Guide* guide) { return guide && guide->u8Failed; }

}  // namespace rivulet

namespace {

int32_t readGuide(GuideRun& run, const char* path, bool other) {
    if (!walkOpen(&run.tWalk, WalkHook{nullptr, nullptr})) return TS_ERR_NO_MEMORY;
    run.pDecoder = tableDecoderCreate();
    const bool subscribed = run.pDecoder && guideSubscribe(run.pGuide, run.pDecoder, other) == 0;
    int fd = subscribed ? openInput(path) : -1;
    int32_t status = !subscribed ? TS_ERR_NO_MEMORY : fd < 0 ? TS_ERR_OPEN_INPUT : 0;
    if (status == 0) {
        WalkEnd end = walkFile(run.tWalk, fd, [&](const uint8_t* packet, const TS_Packet& header) {
            if (!withinTime(run, packet)) return false;
            tableDecoderFeed(run.pDecoder, packet, header, packetOffset(run.tWalk, packet));
            return true;
        });
        status = reportWalkEnd(end, path, run.tWalk.tStats);
        closeInput(fd);
    }
    if (status == 0 && (run.pGuide->u8Failed || tableDecoderFailed(*run.pDecoder))) status = TS_ERR_NO_MEMORY;
    tableDecoderDestroy(run.pDecoder);
    walkClose(&run.tWalk);
    guideFinish(run.pGuide);
    return status;
}

}  // namespace

int32_t TS_ReadGuide(const char* path, const TS_GuideOptions* options, TS_Guide** guide) {
    if (!path || !guide) return -1;
    *guide = guideCreate();
    GuideRun* run = new (std::nothrow) GuideRun{};
    if (!*guide || !run) {
        delete run;
        return TS_ERR_NO_MEMORY;
    }
    run->pGuide = *guide;
    run->u16ClockPID = TS_PID_NULL;
    run->u64Limit = options ? uint64_t(options->u32Seconds) * kPCRHz : 0;
    int32_t status = readGuide(*run, path, options && options->u8Other);
    delete run;
    return status;
}

uint32_t TS_Guide_EventCount(const TS_Guide* guide) { return guide ? guide->events.u32Size : 0; }

int32_t TS_Guide_Event(const TS_Guide* guide, uint32_t index, TS_EventInfo* info) {
    if (!guide || !info || index >= guide->events.u32Size) return -1;
    const GuideEvent& event = guide->events[index];
    if (TS_EventInfo_Read(info, guide->bytes.p + event.u32At, event.u32Length, event.u8TableId,
                          uint16_t(event.u64Service), uint16_t(event.u64Service >> 16),
                          uint16_t(event.u64Service >> 32)) != 0) {
        return -1;
    }
    info->u8SectionNumber = event.u8Section;
    return 0;
}

TS_Guide* TS_Guide_Create() { return guideCreate(); }

namespace {

// The event of `serviceId` of the input's own stream (its EIT actual) that
// `better` prefers of those `matches` takes; -1 when none does.
template <class Matches, class Better>
int32_t findEvent(const TS_Guide* guide, uint16_t serviceId, Matches matches, Better better) {
    int32_t found = -1;
    for (uint32_t i = 0; guide && i < guide->events.u32Size; ++i) {
        const GuideEvent& e = guide->events[i];
        const bool actual = e.u8TableId == kTablePresentFollowing || (e.u8TableId >= 0x50 && e.u8TableId <= 0x5F);
        if (!actual || uint16_t(e.u64Service) != serviceId || !matches(e)) continue;
        if (found < 0 || better(e, guide->events[uint32_t(found)])) found = int32_t(i);
    }
    return found;
}

}  // namespace

int32_t TS_Guide_Find(const TS_Guide* guide, uint16_t serviceId, uint16_t eventId, TS_EventInfo* info) {
    const int32_t at = findEvent(
        guide, serviceId, [&](const GuideEvent& e) { return e.u16Event == eventId; },
        [](const GuideEvent&, const GuideEvent&) { return false; });
    return at < 0 ? -1 : TS_Guide_Event(guide, uint32_t(at), info);
}

int32_t TS_Guide_FirstPresent(const TS_Guide* guide, uint16_t serviceId, TS_EventInfo* info) {
    const int32_t at = findEvent(
        guide, serviceId, [](const GuideEvent& e) { return e.u32Present != 0; },
        [](const GuideEvent& a, const GuideEvent& b) { return a.u32Present < b.u32Present; });
    return at < 0 ? -1 : TS_Guide_Event(guide, uint32_t(at), info);
}

uint32_t TS_Guide_ServiceCount(const TS_Guide* guide) { return guide ? guide->services.u32Size : 0; }

int32_t TS_Guide_Service(const TS_Guide* guide, uint32_t index, TS_GuideService* service) {
    if (!guide || !service || index >= guide->services.u32Size) return -1;
    const uint64_t key = guide->services[index];
    *service = TS_GuideService{};
    service->u16ServiceId = uint16_t(key);
    service->u16TransportStreamId = uint16_t(key >> 16);
    service->u16OriginalNetworkId = uint16_t(key >> 32);
    service->u8Text = isISDBNetwork(service->u16OriginalNetworkId) ? TS_TEXT_ARIB : TS_TEXT_DVB;
    const bool named = service->u16TransportStreamId == guide->u16NamedStream &&
                       service->u16OriginalNetworkId == guide->u16NamedNetwork;
    const TS_ServiceInfo* info = named ? findService(guide->tNames, service->u16ServiceId) : nullptr;
    if (!info) return 0;
    service->u8NameLength = info->service_name_length;
    std::memcpy(service->lu8Name, info->service_name, info->service_name_length);
    service->u8ProviderLength = info->provider_name_length;
    std::memcpy(service->lu8Provider, info->provider_name, info->provider_name_length);
    return 0;
}

void TS_Guide_Free(TS_Guide* guide) {
    if (!guide) return;
    release(guide->events);
    release(guide->bytes);
    release(guide->services);
    keyRelease(guide->eventOf);
    keyRelease(guide->versionOf);
    keyRelease(guide->serviceOf);
    delete guide;
}
