// The program list: the program numbers of a stream and the PIDs of their
// PMTs, as its last verified PAT announces them (the network entry, program
// number 0, names no program and is left out), and on request the services
// its SDT actual describes. Read through the service watch, which also knows
// when a live input (a pipe, a FIFO, a device) has said all: once a whole
// PAT, the PMT of every program it lists and their names have arrived, or at
// a deadline with what there is.
#include <cstring>

#include "rivulet/file_split.h"
#include "rivulet/services.h"
#include "ts/services/service_watch.h"

using namespace rivulet;

namespace {

void listPrograms(TS_ProgramList* list, const TS_ServiceWatch& watch) {
    list->u16Count = uint16_t(TS_ServiceWatch_Programs(&watch, list->lu16ProgramNumber, list->lu16PMTPID,
                                                       TS_PAT_MAX_PROGRAMS));
    if (list->u16Count > TS_PAT_MAX_PROGRAMS) list->u16Count = TS_PAT_MAX_PROGRAMS;
}

// Each service as its last SDT (or SIT) describes it; an ATSC channel's
// UTF-16 name is not SDT text.
void listServices(TS_ServiceList* services, const TS_ServiceWatch& watch) {
    for (uint16_t i = 0; i < watch.u16ServiceCount && services->u16Count < TS_PAT_MAX_PROGRAMS; ++i) {
        const WatchedService& watched = watch.ltService[i];
        const History<ServiceDescription>& history = watched.tDescriptions;
        if (history.u8Count == 0) continue;
        const ServiceDescription& d = history.ltItem[history.u8Count - 1];
        if (d.u8Virtual) continue;
        TS_ServiceInfo& info = services->ltService[services->u16Count++];
        info.service_id = watched.u16Program;
        info.service_type = d.u8ServiceType;
        info.provider_name_length = d.u8ProviderLength;
        std::memcpy(info.provider_name, d.lu8Provider, d.u8ProviderLength);
        info.service_name_length = d.u8NameLength;
        std::memcpy(info.service_name, d.lu8Name, d.u8NameLength);
        if (d.u8Text == TS_TEXT_ARIB) services->u8ISDB = 1;
    }
}

int32_t listFile(TS_ProgramList* list, TS_ServiceList* services, const char* path, uint32_t liveTimeoutMs) {
    TS_InitialiseSimple(&g_tSimpleData);
    if (services) {
        services->u16Count = 0;
        services->u8ISDB = 0;
    }
    TS_ServiceWatch* watch = TS_ServiceWatch_Open();
    if (!watch) return TS_ERR_NO_MEMORY;
    int32_t status = TS_ServiceWatch_ReadInput(watch, path, TS_WATCH_NAMES | TS_WATCH_STREAMS, liveTimeoutMs);
    // Without a whole PAT, the caller's list stays as it was.
    if (watch->tPAT.valid) listPrograms(list, *watch);
    g_tSimpleData.tPAT = watch->tPAT;
    if (services) listServices(services, *watch);
    TS_ServiceWatch_Close(watch);
    return status;
}

}  // namespace

int32_t TS_GetProgramList(TS_ProgramList* list, const char* path) {
    if (!list || !path) return -1;
    return listFile(list, nullptr, path, 0);
}

int32_t TS_GetProgramServices(TS_ProgramList* list, TS_ServiceList* services, const char* path) {
    if (!list || !services || !path) return -1;
    return listFile(list, services, path, 0);
}

int32_t TS_GetProgramServicesLive(TS_ProgramList* list, TS_ServiceList* services, const char* path,
                                  uint32_t u32TimeoutMs) {
    if (!list || !services || !path) return -1;
    return listFile(list, services, path, u32TimeoutMs);
}
