// The service watch's interface: feeding it, and what it knows of a program
// at an input offset.
#include <cstring>
#include <new>

#include "rivulet/services.h"
#include "rivulet/tables.h"
#include "ts/core/bit_set.h"
#include "ts/input/input_file.h"
#include "ts/section/stream_kind.h"
#include "ts/services/service_watch.h"

using namespace rivulet;

namespace {

struct TypeRange {
    uint8_t first;
    uint8_t last;
    uint8_t type;
};

// Service types that make a service television or radio; every other
// described type is data. DVB (EN 300 468 Table 87), ARIB (STD-B10) and
// ATSC (A/65 Table 6.7) number them apart.
constexpr TypeRange kDVBTypes[] = {{0x01, 0x01, TS_SERVICE_TV},    {0x02, 0x02, TS_SERVICE_RADIO},
                                   {0x04, 0x06, TS_SERVICE_TV},    {0x07, 0x07, TS_SERVICE_RADIO},
                                   {0x0A, 0x0A, TS_SERVICE_RADIO}, {0x0B, 0x0B, TS_SERVICE_TV},
                                   {0x11, 0x11, TS_SERVICE_TV},    {0x16, 0x20, TS_SERVICE_TV}};
constexpr TypeRange kARIBTypes[] = {{0x01, 0x01, TS_SERVICE_TV}, {0x02, 0x02, TS_SERVICE_RADIO},
                                    {0xA1, 0xA1, TS_SERVICE_TV}, {0xA2, 0xA2, TS_SERVICE_RADIO},
                                    {0xA5, 0xA5, TS_SERVICE_TV}, {0xA6, 0xA6, TS_SERVICE_RADIO},
                                    {0xAD, 0xAD, TS_SERVICE_TV}};
constexpr TypeRange kATSCTypes[] = {{0x01, 0x02, TS_SERVICE_TV}, {0x03, 0x03, TS_SERVICE_RADIO}};

template <size_t N>
uint8_t typeIn(const TypeRange (&table)[N], uint8_t serviceType) {
    for (const TypeRange& range : table) {
        if (serviceType >= range.first && serviceType <= range.last) return range.type;
    }
    return serviceType == 0 ? TS_SERVICE_UNKNOWN : TS_SERVICE_DATA;  // 0 is reserved: not a type
}

uint8_t typeOfDescription(const ServiceDescription& d) {
    if (d.u8Virtual) return typeIn(kATSCTypes, d.u8ServiceType);
    // ARIB numbers its own types apart and shares DVB's below them.
    uint8_t arib = d.u8Text == TS_TEXT_ARIB ? typeIn(kARIBTypes, d.u8ServiceType) : TS_SERVICE_DATA;
    return arib != TS_SERVICE_DATA ? arib : typeIn(kDVBTypes, d.u8ServiceType);
}

uint8_t typeOfStreams(const WatchedService& service) {
    if (!service.u8PMTSeen) return TS_SERVICE_UNKNOWN;
    bool audio = false;
    for (uint8_t i = 0; i < service.u8StreamCount; ++i) {
        StreamKind kind = StreamKind(service.ltStream[i].u8Kind);
        if (kind == StreamKind::Video) return TS_SERVICE_TV;
        audio = audio || kind == StreamKind::Audio;
    }
    return audio ? TS_SERVICE_RADIO : TS_SERVICE_DATA;
}

// The entry in force at `offset`, or the first after it; null when empty.
template <class T>
const T* entryAt(const History<T>& history, uint64_t offset) {
    if (history.u8Count == 0) return nullptr;
    const T* found = &history.ltItem[0];
    for (uint8_t i = 1; i < history.u8Count && history.lu64At[i] <= offset; ++i) found = &history.ltItem[i];
    return found;
}

const WatchedService* findService(const TS_ServiceWatch& w, uint16_t program) {
    int16_t index = w.lnServiceOf[program];
    return index < 0 ? nullptr : &w.ltService[index];
}

bool wholeTable(const SectionSet& set) {
    if (set.n16Version < 0) return false;
    for (uint32_t i = 0; i <= set.u8Last; ++i) {
        if (!testBit(set.lu64Arrived, i)) return false;
    }
    return true;
}

bool settled(const TS_ServiceWatch& w, uint16_t program, uint32_t needs) {
    if (testBit(w.lu64GivenUp, program)) return true;
    const WatchedService* service = findService(w, program);
    const ServiceDescription* d = service ? entryAt(service->tDescriptions, UINT64_MAX) : nullptr;
    // A whole table that leaves a program out speaks for it, unless the
    // caller waits for a description that lists it.
    bool tablesWhole = !(needs & TS_WATCH_LISTED) && (wholeTable(w.tSDTSections) || wholeTable(w.tVCTSections));
    if ((needs & TS_WATCH_NAMES) && !d && !tablesWhole) return false;
    // No EIT p/f comes for a service its SDT entry says has none, nor for
    // one no whole SDT describes; a virtual channel's event comes from EIT-0.
    bool noEvent = d ? (!d->u8EITPresentFollowing && !d->u8Virtual) : tablesWhole;
    if ((needs & TS_WATCH_EVENT) && !(service && service->tEvents.u8Count > 0) && !noEvent) return false;
    bool pmtSeen = service && service->u8PMTSeen;
    if ((needs & TS_WATCH_STREAMS) && !pmtSeen) return false;
    // The PMT tells the type only of a program no whole SDT or VCT describes.
    bool typed = d ? typeOfDescription(*d) != TS_SERVICE_UNKNOWN || pmtSeen : pmtSeen && tablesWhole;
    return !(needs & TS_WATCH_TYPE) || typed;
}

}  // namespace

TS_ServiceWatch* TS_ServiceWatch_Open(void) {
    TS_ServiceWatch* w = new (std::nothrow) TS_ServiceWatch;
    if (!w) return nullptr;
    w->pDecoder = nullptr;
    if (!walkOpen(&w->tWalk, WalkHook{nullptr, nullptr}) || !watchOpen(w)) {
        TS_ServiceWatch_Close(w);
        return nullptr;
    }
    return w;
}

int32_t TS_ServiceWatch_Feed(TS_ServiceWatch* w, const uint8_t* bytes, uint64_t size) {
    if (!w || (!bytes && size > 0)) return -1;
    WalkStep step = walkFeed(w->tWalk, bytes, size, [w](const uint8_t* packet, const TS_Packet& header) {
        watchPacket(w, packet, header, packetOffset(w->tWalk, packet));
        return true;
    });
    return step == WalkStep::Interrupted ? TS_ERR_INTERRUPTED : 0;
}

void TS_ServiceWatch_End(TS_ServiceWatch* w) {
    if (!w) return;
    walkBuffered(w->tWalk, true, [w](const uint8_t* packet, const TS_Packet& header) {
        watchPacket(w, packet, header, packetOffset(w->tWalk, packet));
        return true;
    });
}

void TS_ServiceWatch_Close(TS_ServiceWatch* w) {
    if (!w) return;
    watchClose(w);
    walkClose(&w->tWalk);
    delete w;
}

uint32_t TS_ServiceWatch_Programs(const TS_ServiceWatch* w, uint16_t* programs, uint16_t* pmtPIDs, uint32_t capacity) {
    if (!w) return 0;
    uint32_t count = 0;
    forEachProgram(w->tPAT, [&](uint16_t, const TS_PAT_Program& program) {
        if (count < capacity && programs) programs[count] = program.program_number;
        if (count < capacity && pmtPIDs) pmtPIDs[count] = program.program_map_PID;
        ++count;
    });
    return count;
}

int32_t TS_ServiceWatch_Facts(const TS_ServiceWatch* w, uint16_t program, uint64_t offset, TS_ServiceFacts* facts) {
    if (!w || !facts) return -1;
    std::memset(facts, 0, sizeof *facts);
    facts->u16ProgramNumber = program;
    const WatchedService* service = findService(*w, program);
    if (!service) return -1;
    const ServiceDescription* d = entryAt(service->tDescriptions, offset);
    if (d) {
        static_cast<ServiceDescription&>(*facts) = *d;
        facts->u8Described = 1;
    }
    if (const ServiceEvent* e = entryAt(service->tEvents, offset)) static_cast<ServiceEvent&>(*facts) = *e;
    // Broadcasters state data for services that carry pictures and sound
    // (1seg's 0xC0): the streams tell what a data service is.
    facts->u8StatedType = d ? typeOfDescription(*d) : TS_SERVICE_UNKNOWN;
    const uint8_t streams = typeOfStreams(*service);
    const bool loose = facts->u8StatedType == TS_SERVICE_DATA && streams != TS_SERVICE_UNKNOWN;
    facts->u8Type = facts->u8StatedType == TS_SERVICE_UNKNOWN || loose ? streams : facts->u8StatedType;
    facts->u8PMTSeen = service->u8PMTSeen;
    facts->u8StreamCount = service->u8StreamCount;
    std::memcpy(facts->ltStream, service->ltStream, sizeof(TS_StreamSummary) * service->u8StreamCount);
    return 0;
}

int32_t TS_ServiceWatch_Settled(const TS_ServiceWatch* w, uint32_t needs) {
    if (!w || !w->tPAT.valid) return 0;
    bool all = true;
    forEachProgram(w->tPAT, [&](uint16_t, const TS_PAT_Program& program) {
        all = all && settled(*w, program.program_number, needs);
    });
    return all ? 1 : 0;
}

int32_t TS_ServiceWatch_ProgramSettled(const TS_ServiceWatch* w, uint16_t program, uint32_t needs) {
    return w && settled(*w, program, needs) ? 1 : 0;
}

void TS_ServiceWatch_Packet(TS_ServiceWatch* w, const uint8_t* packet, uint64_t offset) {
    if (!w || !packet) return;
    TS_Packet header;
    TS_Packet_GetHeader(&header, packet);
    watchPacket(w, packet, header, offset);
}

const uint64_t* TS_ServiceWatch_WantedPIDs(const TS_ServiceWatch* w) { return w ? w->lu64WantedPIDs : nullptr; }

int32_t TS_ServiceWatch_Clock(const TS_ServiceWatch* w, uint64_t* clock) {
    if (!w || !clock) return -1;
    if (w->u16ClockPID == TS_PID_NULL) return -1;
    *clock = w->u64Clock;
    return 0;
}

int32_t TS_ServiceWatch_StreamTime(const TS_ServiceWatch* w, uint64_t* elapsed) {
    if (!w || !elapsed || w->u16ClockPID == TS_PID_NULL) return -1;
    *elapsed = w->tTime.u64Duration;
    return 0;
}

void TS_ServiceWatch_GiveUp(TS_ServiceWatch* w) {
    if (!w) return;
    forEachProgram(w->tPAT, [&](uint16_t, const TS_PAT_Program& program) {
        setBit(w->lu64GivenUp, program.program_number);
    });
}

void TS_ServiceWatch_GiveUpProgram(TS_ServiceWatch* w, uint16_t program) {
    if (w) setBit(w->lu64GivenUp, program);
}

int32_t TS_ServiceWatch_ReadInput(TS_ServiceWatch* w, const char* path, uint32_t needs, uint32_t u32TimeoutMs) {
    if (!w || !path) return -1;
    int fd = openInput(path);
    if (fd < 0) return TS_ERR_OPEN_INPUT;
    bool live = readsLive(fd, u32TimeoutMs);
    WalkEnd end = walkInput(w->tWalk, fd, u32TimeoutMs, [&](const uint8_t* packet, const TS_Packet& header) {
        // Only a packet of the tables can settle the watch.
        return !(watchPacket(w, packet, header, packetOffset(w->tWalk, packet)) && live && TS_ServiceWatch_Settled(w, needs));
    });
    int32_t status = reportWalkEnd(end, path, w->tWalk.tStats);
    closeInput(fd);
    return status;
}
