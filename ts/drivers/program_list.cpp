// The program list: the program numbers of a stream and the PIDs of their
// PMTs, as its last verified PAT announces them. Every PAT that completes and
// verifies rebuilds the list from scratch; the network entry (program_number
// 0) names no program and is left out. On request, the services of the SDT
// actual sections too, in the same pass.
#include "rivulet/ts.h"
#include "ts/core/bounded_count.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/pat_table.h"
#include "ts/drivers/service_list.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

namespace {

PATTable g_patTable;
TS_PreSection g_sdtSlot;

void listPrograms(TS_ProgramList* list, const TS_PAT& pat) {
    list->u16Count = 0;
    uint32_t count = patEntryCount(pat);
    for (uint32_t i = 0; i < count; ++i) {
        const TS_PAT_Program& program = pat.programs[i];
        if (program.program_number == 0) continue;
        list->lu16ProgramNumber[list->u16Count] = program.program_number;
        list->lu16PMTPID[list->u16Count] = program.program_map_PID;
        ++list->u16Count;
    }
}

void handlePATPacket(TS_ProgramList* list, const uint8_t* packet, const TS_Packet& header) {
    feedSections(g_tSimpleData.tPATPreSection, TS_PAT_ImportPreSection, packet, header, TS_TABLE_ID_PAT,
                 [&](const TS_PreSection& slot, bool) {
                     if (!patTableAdd(&g_patTable, &slot)) return;
                     g_tSimpleData.tPAT = g_patTable.tWhole;
                     listPrograms(list, g_tSimpleData.tPAT);
                 });
}

void handleSDTPacket(TS_ServiceList* services, const uint8_t* packet, const TS_Packet& header) {
    feedSections(g_sdtSlot, TS_SI_ImportPreSection, packet, header, kTableSDTActual,
                 [&](const TS_PreSection& slot, bool) { addSDTServices(services, slot); });
}

int32_t listFile(TS_ProgramList* list, TS_ServiceList* services, const char* path) {
    TS_InitialiseSimple(&g_tSimpleData);
    patTableReset(&g_patTable);
    TS_PreSection_Initialise(&g_sdtSlot);
    if (services) {
        services->u16Count = 0;
        services->u8ISDB = 0;
    }
    int fd = openInput(path);
    if (fd < 0) return TS_ERR_OPEN_INPUT;
    WalkEnd end = walkPackets(g_tSimpleData, fd, [&](const uint8_t* packet, const TS_Packet& header) {
        if (header.PID == TS_PID_PAT) handlePATPacket(list, packet, header);
        if (services && header.PID == kPIDSDT) handleSDTPacket(services, packet, header);
        return true;
    });
    int32_t status = reportWalkEnd(end, path);
    closeInput(fd);
    return status;
}

}  // namespace

int32_t TS_GetProgramList(TS_ProgramList* list, const char* path) {
    if (!list || !path) return -1;
    return listFile(list, nullptr, path);
}

int32_t TS_GetProgramServices(TS_ProgramList* list, TS_ServiceList* services, const char* path) {
    if (!list || !services || !path) return -1;
    return listFile(list, services, path);
}
