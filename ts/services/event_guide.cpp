// The programme guide of an input: every event entry of its EIT sections,
// kept as broadcast (the last version of each event) and decoded when asked
// for, and the services that carry them. A section repeated at its version
// is passed over before any of its events is looked at. ATSC's events are
// kept by source, with the ETTs that extend them, until the input is read:
// then the VCTs tell each source's program, and events of a source no VCT
// ties to a program are left out.
#include <algorithm>
#include <cstring>
#include <new>

#include "ts/core/growable.h"
#include "ts/core/key_index.h"
#include "ts/input/input_file.h"
#include "ts/programs/service_list.h"
#include "ts/section/dvb_time.h"
#include "ts/section/psip.h"
#include "ts/section/vct.h"
#include "ts/section/section_reader.h"
#include "ts/stream/packet_flags.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/pcr_track.h"
#include "ts/services/atsc_event_info.h"
#include "ts/services/event_guide.h"
#include "ts/tables/table_decoder.h"

using namespace rivulet;

namespace {

constexpr uint32_t kEITHeader = 6;      // transport_stream_id .. last_table_id, behind the long header
constexpr uint32_t kEventHeader = 12;   // event_id .. descriptors_loop_length
constexpr uint8_t kTablePresentFollowing = 0x4E;

struct GuideEvent {
    uint64_t u64Service;   // network << 32 | stream << 16 | service; ATSC's: its source_id until the guide is finished
    int64_t s64Start;      // for the order; INT64_MAX when undefined
    uint16_t u16Event;
    uint16_t u16Source;    // ATSC's source_id
    uint8_t u8TableId;
    uint8_t u8Section;
    uint32_t u32At;        // the entry's bytes in the guide's store
    uint32_t u32Length;
    uint32_t u32Present;   // the order in which events were first announced present (0: never)
};

uint64_t serviceKey(uint16_t network, uint16_t stream, uint16_t service) {
    return uint64_t(network) << 32 | uint64_t(stream) << 16 | service;
}

// A stretch of the guide's bytes: an ETT's text.
struct GuideText {
    uint32_t u32At;
    uint32_t u32Length;
};

// A VCT's channel: the program its source is, and its name.
struct SourceChannel {
    uint16_t u16Source;
    uint16_t u16Stream;
    uint16_t u16Program;
    uint8_t u8NameLength;
    uint8_t lu8Name[kShortNameSize];
};

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
    // ATSC's
    Growable<SourceChannel> channels;  // the first channel of each source that names a program
    KeyIndex ettOf;            // ETM_id -> index + 1 in etts
    Growable<GuideText> etts;
    KeyIndex atscVersionOf;    // an EIT or ETT section's key -> its version + 1
    KeyIndex atscEventOf;      // source_id << 16 | event_id -> index + 1 in events
    uint8_t u8HasTime;         // an STT came
    uint8_t u8GPSOffset;       // its GPS_UTC_offset
    uint32_t u32Now;           // its system_time
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

// An event entry as it came: kept unless the guide holds the same bytes.
struct Entry {
    uint64_t u64Service;   // ATSC's: its source_id, until its program is known
    uint8_t u8TableId;
    uint8_t u8Section;
    uint16_t u16Event;
    uint16_t u16Source;
    int64_t s64Start;
    const uint8_t* pBytes;
    uint32_t u32Length;
};

bool keepEntry(TS_Guide& guide, const Entry& in) {
    const uint64_t service = in.u64Service;
    const uint16_t eventId = in.u16Event;
    const uint8_t* entry = in.pBytes;
    const uint32_t length = in.u32Length;
    const bool atsc = in.u8TableId == kTableATSCEIT;
    uint32_t* index = keyInsert(atsc ? guide.atscEventOf : guide.eventOf, service << 16 | eventId);
    if (!index) return false;
    if (*index == 0) {
        if (!growTo(guide.events, guide.events.u32Size + 1)) return false;
        *index = guide.events.u32Size;  // index + 1: 0 is new
    }
    GuideEvent& event = guide.events[*index - 1];
    if (in.u8TableId == kTablePresentFollowing && in.u8Section == 0 && event.u32Present == 0) {
        event.u32Present = ++guide.u32Presents;
    }
    if (event.u32Length == length && std::memcmp(guide.bytes.p + event.u32At, entry, length) == 0) return true;
    const uint32_t at = guide.bytes.u32Size;
    if (!growTo(guide.bytes, at + length)) return false;
    std::memcpy(guide.bytes.p + at, entry, length);
    event = GuideEvent{service, in.s64Start, eventId, in.u16Source, in.u8TableId, in.u8Section, at, length,
                       event.u32Present};
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
        const uint16_t eventId = uint16_t(entry[0] << 8 | entry[1]);
        if (!keepEntry(guide, Entry{service, tableId, number, eventId, 0, startOf(entry), entry, length})) {
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

// --- ATSC ---------------------------------------------------------------------

// True when the section `id` of `pid` comes at a new version: ATSC's tables
// share table_ids across their PIDs (EIT-0 and EIT-1 are both 0xCB).
bool newATSCVersion(TS_Guide& guide, uint16_t pid, uint64_t id, uint8_t version) {
    uint32_t* seen = keyInsert(guide.atscVersionOf, uint64_t(pid) << 48 | id);
    if (!seen) {
        guide.u8Failed = 1;
        return false;
    }
    if (*seen == uint32_t(version) + 1) return false;
    *seen = uint32_t(version) + 1;
    return true;
}

// The events the STT's clock is in are present, in the order the clock reached them.
void markATSCPresent(TS_Guide& guide) {
    if (!guide.u8HasTime) return;
    for (uint32_t i = 0; i < guide.events.u32Size; ++i) {
        GuideEvent& event = guide.events[i];
        if (event.u8TableId != kTableATSCEIT || event.u32Present) continue;
        ByteReader entry(guide.bytes.p + event.u32At, event.u32Length);
        entry.skip(2);  // event_id
        const uint32_t start = entry.u32();
        const uint32_t length = entry.u24() & 0xFFFFF;  // behind ETM_location
        if (start <= guide.u32Now && guide.u32Now - start < length) event.u32Present = ++guide.u32Presents;
    }
}

// An EIT-k section: its source's events.
void takeATSCEIT(TS_Guide& guide, const TS_PreSection& slot, uint16_t pid) {
    ByteReader section = sectionBytes(&slot);
    const uint8_t* head = section.current();
    if (!section.canRead(kLongHeaderSize + 2)) return;
    const uint16_t source = uint16_t(head[3] << 8 | head[4]);
    const uint8_t number = head[6];
    if (!newATSCVersion(guide, pid, uint64_t(source) << 8 | number, (head[5] >> 1) & 0x1F)) return;
    ByteReader loops = sectionLoops(section);
    loops.u8();  // protocol_version
    const uint8_t count = loops.u8();
    for (uint8_t i = 0; i < count && loops.canRead(kATSCEventHeader); ++i) {
        const uint8_t* entry = loops.current();
        const uint16_t eventId = loops.u16() & 0x3FFF;
        const uint32_t start = loops.u32();
        loops.skip(3);           // ETM_location, length_in_seconds
        loops.skip(loops.u8());  // title_text
        loops.skip(loops.u16() & 0x0FFF);
        if (loops.overrun()) return;
        const Entry kept{source, kTableATSCEIT, number, eventId, source, kGPSEpoch + start, entry,
                         uint32_t(loops.current() - entry)};
        if (!keepEntry(guide, kept)) {
            guide.u8Failed = 1;
            return;
        }
    }
    markATSCPresent(guide);
}

// An ETT-k section: the text that extends one event (or channel), by its ETM_id.
void takeETT(TS_Guide& guide, const TS_PreSection& slot, uint16_t pid) {
    constexpr uint64_t kETTKey = uint64_t(1) << 40;
    ByteReader section = sectionBytes(&slot);
    const uint8_t* head = section.current();
    ByteReader loops = sectionLoops(section);
    loops.u8();  // protocol_version
    const uint32_t etm = loops.u32();
    if (loops.overrun() || !newATSCVersion(guide, pid, kETTKey | etm, (head[5] >> 1) & 0x1F)) return;
    const uint32_t length = loops.remaining();
    uint32_t* index = keyInsert(guide.ettOf, etm);
    if (!index || (*index == 0 && !growTo(guide.etts, guide.etts.u32Size + 1))) {
        guide.u8Failed = 1;
        return;
    }
    if (*index == 0) *index = guide.etts.u32Size;
    const uint32_t at = guide.bytes.u32Size;
    if (!growTo(guide.bytes, at + length)) {
        guide.u8Failed = 1;
        return;
    }
    std::memcpy(guide.bytes.p + at, loops.current(), length);
    guide.etts[*index - 1] = GuideText{at, length};
}

void takeVCT(TS_Guide& guide, const TS_PreSection& slot) {
    forEachVirtualChannel(slot, [&](const VirtualChannel& channel) {
        if (channel.u16ProgramNumber == 0 || channel.u16ProgramNumber == kAnalogChannel) return;
        for (uint32_t i = 0; i < guide.channels.u32Size; ++i) {
            if (guide.channels[i].u16Source == channel.u16SourceId) return;
        }
        if (!growTo(guide.channels, guide.channels.u32Size + 1)) {
            guide.u8Failed = 1;
            return;
        }
        SourceChannel& kept = guide.channels[guide.channels.u32Size - 1];
        kept = SourceChannel{channel.u16SourceId, channel.u16ChannelTSID, channel.u16ProgramNumber,
                             channel.u8ShortNameLength, {}};
        std::memcpy(kept.lu8Name, channel.lu8ShortName, channel.u8ShortNameLength);
    });
}

void takeSTT(TS_Guide& guide, const TS_PreSection& slot) {
    if (!sttTime(slot, &guide.u32Now, &guide.u8GPSOffset)) return;
    guide.u8HasTime = 1;
    markATSCPresent(guide);
}

const SourceChannel* channelOfSource(const TS_Guide& guide, uint16_t source) {
    for (uint32_t i = 0; i < guide.channels.u32Size; ++i) {
        if (guide.channels[i].u16Source == source) return &guide.channels[i];
    }
    return nullptr;
}

const SourceChannel* channelOfService(const TS_Guide& guide, uint64_t service) {
    for (uint32_t i = 0; i < guide.channels.u32Size; ++i) {
        const SourceChannel& channel = guide.channels[i];
        if (service == serviceKey(0, channel.u16Stream, channel.u16Program)) return &channel;
    }
    return nullptr;
}

// Each ATSC event under the program its source is (a program two sources
// claim keeps the first's events); those of a source no VCT named are left
// out. Every channel is a service of the guide.
void placeATSCEvents(TS_Guide& guide) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < guide.events.u32Size; ++i) {
        GuideEvent event = guide.events[i];
        if (event.u8TableId == kTableATSCEIT) {
            const SourceChannel* channel = channelOfSource(guide, event.u16Source);
            if (!channel) continue;
            event.u64Service = serviceKey(0, channel->u16Stream, channel->u16Program);
            uint32_t* index = keyInsert(guide.eventOf, event.u64Service << 16 | event.u16Event);
            if (!index) {
                guide.u8Failed = 1;
                continue;
            }
            if (*index != 0 && *index != kept + 1) continue;
            *index = kept + 1;
        }
        guide.events[kept++] = event;
    }
    guide.events.u32Size = kept;
    for (uint32_t i = 0; i < guide.channels.u32Size; ++i) {
        const SourceChannel& channel = guide.channels[i];
        if (!addService(guide, serviceKey(0, channel.u16Stream, channel.u16Program))) guide.u8Failed = 1;
    }
}

void onEIT(void* user, const TableSection& section) { takeEIT(*static_cast<TS_Guide*>(user), *section.pSlot); }
void onSDT(void* user, const TableSection& section) { takeSDT(*static_cast<TS_Guide*>(user), *section.pSlot); }
void onVCT(void* user, const TableSection& section) { takeVCT(*static_cast<TS_Guide*>(user), *section.pSlot); }
void onSTT(void* user, const TableSection& section) { takeSTT(*static_cast<TS_Guide*>(user), *section.pSlot); }
void onATSCGuide(void* user, const TableSection& section) {
    TS_Guide& guide = *static_cast<TS_Guide*>(user);
    if (section.pSlot->body[0] == kTableATSCEIT) takeATSCEIT(guide, *section.pSlot, section.u16PID);
    if (section.pSlot->body[0] == kTableETT) takeETT(guide, *section.pSlot, section.u16PID);
}

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
    placeATSCEvents(g);
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
                     tableSubscribe(decoder, TableKind::ATSCGuide, onATSCGuide, guide) == 0 &&
                     tableSubscribe(decoder, TableKind::VCT, onVCT, guide) == 0 &&
                     tableSubscribe(decoder, TableKind::STT, onSTT, guide) == 0 &&
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

namespace {

// An ATSC event with its ETT's text, its times by the STT's offset.
int32_t readATSCEvent(const TS_Guide& guide, const GuideEvent& event, TS_EventInfo* info) {
    const uint32_t* text = keyFind(guide.ettOf, atscEventETM(event.u16Source, event.u16Event));
    const GuideText* ett = text ? &guide.etts[*text - 1] : nullptr;
    const uint8_t offset = guide.u8HasTime ? guide.u8GPSOffset : kGPSUTCOffset;
    if (atscEventInfoRead(info, guide.bytes.p + event.u32At, event.u32Length, offset,
                          ett ? guide.bytes.p + ett->u32At : nullptr, ett ? ett->u32Length : 0) != 0) {
        return -1;
    }
    info->u16ServiceId = uint16_t(event.u64Service);
    info->u16TransportStreamId = uint16_t(event.u64Service >> 16);
    info->u8SectionNumber = event.u8Section;
    return 0;
}

}  // namespace

uint32_t TS_Guide_EventCount(const TS_Guide* guide) { return guide ? guide->events.u32Size : 0; }

int32_t TS_Guide_Event(const TS_Guide* guide, uint32_t index, TS_EventInfo* info) {
    if (!guide || !info || index >= guide->events.u32Size) return -1;
    const GuideEvent& event = guide->events[index];
    if (event.u8TableId == kTableATSCEIT) return readATSCEvent(*guide, event, info);
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
        const bool actual = e.u8TableId == kTablePresentFollowing || (e.u8TableId >= 0x50 && e.u8TableId <= 0x5F) ||
                            e.u8TableId == kTableATSCEIT;
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
    if (const SourceChannel* channel = channelOfService(*guide, key)) {
        service->u8Text = TS_TEXT_UTF16;
        service->u8NameLength = channel->u8NameLength;
        std::memcpy(service->lu8Name, channel->lu8Name, channel->u8NameLength);
        return 0;
    }
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
    release(guide->channels);
    release(guide->etts);
    keyRelease(guide->ettOf);
    keyRelease(guide->atscVersionOf);
    keyRelease(guide->atscEventOf);
    delete guide;
}
