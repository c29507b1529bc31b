// The program list: the program numbers of a stream and the PIDs of their
// PMTs, as its last verified PAT announces them. Every PAT that completes and
// verifies rebuilds the list from scratch; the network entry (program_number
// 0) names no program and is left out. On request, the services of the SDT
// actual sections too, in the same pass.
#include <new>

#include "rivulet/ts.h"
#include "ts/core/bounded_count.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/pat_table.h"
#include "ts/drivers/service_list.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

namespace {

struct ListRun {
    PATTable tPAT;
    TS_PreSection tSDTSlot;
    PacketWalk tWalk;
};

void listPrograms(TS_ProgramList* list, const TS_PAT& pat) {
    list->u16Count = 0;
    forEachProgram(pat, [&](uint16_t, const TS_PAT_Program& program) {
        list->lu16ProgramNumber[list->u16Count] = program.program_number;
        list->lu16PMTPID[list->u16Count] = program.program_map_PID;
        ++list->u16Count;
    });
}

int32_t walkList(ListRun& run, TS_ProgramList* list, TS_ServiceList* services, const char* path) {
    patTableReset(&run.tPAT);
    TS_PreSection_Initialise(&run.tSDTSlot);
    if (!walkOpen(&run.tWalk, WalkHook{nullptr, nullptr})) return TS_ERR_NO_MEMORY;
    int fd = openInput(path);
    if (fd < 0) {
        walkClose(&run.tWalk);
        return TS_ERR_OPEN_INPUT;
    }
    WalkEnd end = walkFile(run.tWalk, fd, [&](const uint8_t* packet, const TS_Packet& header) {
        if (header.PID == TS_PID_PAT) {
            patTableFeed(&run.tPAT, packet, header, [&]() {
                g_tSimpleData.tPAT = run.tPAT.tWhole;
                listPrograms(list, run.tPAT.tWhole);
            });
        }
        if (services && header.PID == kPIDSDT) {
            feedSections(run.tSDTSlot, TS_SI_ImportPreSection, packet, header, kTableSDTActual,
                         [&](const TS_PreSection& slot, bool) { addSDTServices(services, slot); });
        }
        return true;
    });
    int32_t status = reportWalkEnd(end, path, run.tWalk.tStats);
    closeInput(fd);
    walkClose(&run.tWalk);
    return status;
}

int32_t listFile(TS_ProgramList* list, TS_ServiceList* services, const char* path) {
    TS_InitialiseSimple(&g_tSimpleData);
    if (services) {
        services->u16Count = 0;
        services->u8ISDB = 0;
    }
    ListRun* run = new (std::nothrow) ListRun;
    if (!run) return TS_ERR_NO_MEMORY;
    int32_t status = walkList(*run, list, services, path);
    delete run;
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
