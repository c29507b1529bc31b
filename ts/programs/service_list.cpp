#include "ts/programs/service_list.h"

#include <cstring>

#include "ts/section/section_reader.h"
#include "ts/section/sdt.h"

namespace rivulet {
namespace {

constexpr uint8_t kServiceDescriptorTag = 0x48;
constexpr uint16_t kISDBSatelliteNetworks[] = {0x0004, 0x0006, 0x0007, 0x000A};
constexpr uint16_t kISDBTerrestrialFirst = 0x7880;  // ARIB's terrestrial networks, by area
constexpr uint16_t kISDBTerrestrialLast = 0x7FEF;

TS_ServiceInfo* serviceEntry(TS_ServiceList* services, uint16_t serviceId) {
    if (const TS_ServiceInfo* known = findService(*services, serviceId)) return const_cast<TS_ServiceInfo*>(known);
    if (services->u16Count == TS_PAT_MAX_PROGRAMS) return nullptr;
    TS_ServiceInfo* info = &services->ltService[services->u16Count++];
    info->service_id = serviceId;
    return info;
}

void readName(ByteReader& body, uint8_t* length, uint8_t* name) {
    *length = uint8_t(body.copy(name, body.u8(), TS_SERVICE_NAME_SIZE));
}

void readServiceDescriptors(TS_ServiceInfo* info, ByteReader descriptors) {
    while (descriptors.canRead(2)) {
        uint8_t tag = descriptors.u8();
        ByteReader body = descriptors.take(descriptors.u8());
        if (tag != kServiceDescriptorTag) continue;
        info->service_type = body.u8();
        readName(body, &info->provider_name_length, info->provider_name);
        readName(body, &info->service_name_length, info->service_name);
    }
}

}  // namespace

bool isISDBNetwork(uint16_t network) {
    for (uint16_t id : kISDBSatelliteNetworks) {
        if (network == id) return true;
    }
    return network >= kISDBTerrestrialFirst && network <= kISDBTerrestrialLast;
}

TS_ServiceEvent serviceEventOf(const PresentEvent& present) {
    TS_ServiceEvent event{};
    event.u8HasEvent = present.u8HasEvent;
    event.u8EventText = present.u8TitleText             ? present.u8TitleText
                        : isISDBNetwork(present.u16OriginalNetwork) ? TS_TEXT_ARIB
                                                                    : TS_TEXT_DVB;
    event.u8TitleLength = present.u8TitleLength;
    std::memcpy(event.lu8Title, present.lu8Title, present.u8TitleLength);
    std::memcpy(event.strStart, present.strStart, sizeof event.strStart);
    event.u16EventId = present.u16EventId;
    std::memcpy(event.strEnd, present.strEnd, sizeof event.strEnd);
    std::memcpy(event.strDuration, present.strDuration, sizeof event.strDuration);
    return event;
}

const TS_ServiceInfo* findService(const TS_ServiceList& services, uint16_t serviceId) {
    for (uint16_t i = 0; i < services.u16Count; ++i) {
        if (services.ltService[i].service_id == serviceId) return &services.ltService[i];
    }
    return nullptr;
}

void copyServiceName(const TS_ServiceList& services, uint16_t serviceId, uint8_t* length, uint8_t* name) {
    const TS_ServiceInfo* service = findService(services, serviceId);
    if (!service) return;
    *length = service->service_name_length;
    std::memcpy(name, service->service_name, service->service_name_length);
}

void addSDTServices(TS_ServiceList* services, const TS_PreSection& slot) {
    if (isISDBNetwork(sdtOriginalNetwork(slot))) services->u8ISDB = 1;
    forEachSDTService(slot, [&](uint16_t serviceId, const uint8_t*, uint32_t, ByteReader descriptors) {
        TS_ServiceInfo* info = serviceEntry(services, serviceId);
        if (!info) return;
        info->service_type = 0;
        info->provider_name_length = 0;
        info->service_name_length = 0;
        readServiceDescriptors(info, descriptors);
    });
}

}  // namespace rivulet
