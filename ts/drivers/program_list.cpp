// The program list: the program numbers of a stream and the PIDs of their
// PMTs, as its last verified PAT announces them. Every PAT that completes and
// verifies rebuilds the list from scratch; the network entry (program_number
// 0) names no program and is left out. On request, the services of the SDT
// actual sections too, in the same pass.
//
// A live input (a pipe, a FIFO, a device) has no end to wait for: the list
// is done once a whole PAT, the PMT of every program it lists and an SDT
// actual naming them all have arrived, or at a deadline with what there is.
#include <new>

#include "rivulet/ts.h"
#include "ts/core/bit_set.h"
#include "ts/core/bounded_count.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/pat_table.h"
#include "ts/drivers/service_list.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

namespace {

constexpr uint32_t kProgramNumbers = 65536;
constexpr int16_t kNoEntry = -1;

struct ListRun {
    PATTable tPAT;
    TS_PreSection tSDTSlot;
    PacketWalk tWalk;
    TS_ProgramList* pList;
    TS_ServiceList* pServices;
    // For live input: which programs' PMTs have arrived.
    TS_PreSection ltPMTSlot[TS_PAT_MAX_PROGRAMS];  // by position in the PAT
    int16_t lnPMTEntry[TS_PID_COUNT];             // first PAT entry on each PMT PID
    uint64_t lu64PMTSeen[kProgramNumbers / 64];
};


void listPrograms(TS_ProgramList* list, const TS_PAT& pat) {
    list->u16Count = 0;
    forEachProgram(pat, [&](uint16_t, const TS_PAT_Program& program) {
        list->lu16ProgramNumber[list->u16Count] = program.program_number;
        list->lu16PMTPID[list->u16Count] = program.program_map_PID;
        ++list->u16Count;
    });
}

void mapPMTPIDs(ListRun& run, const TS_PAT& pat) {
    for (int16_t& entry : run.lnPMTEntry) entry = kNoEntry;
    forEachProgram(pat, [&](uint16_t i, const TS_PAT_Program& program) {
        int16_t& entry = run.lnPMTEntry[program.program_map_PID & (TS_PID_COUNT - 1)];
        if (entry == kNoEntry) entry = int16_t(i);
    });
}

void notePMT(ListRun& run, const uint8_t* packet, const TS_Packet& header) {
    int16_t entry = run.lnPMTEntry[header.PID];
    if (entry == kNoEntry) return;
    feedSections(run.ltPMTSlot[entry], TS_PMT_ImportPreSection, packet, header, TS_TABLE_ID_PMT,
                 [&](const TS_PreSection& slot, bool) {
                     uint16_t program = 0;
                     TS_PreSection_TableIdExtension(&slot, &program);
                     setBit(run.lu64PMTSeen, program);
                 });
}

// A whole PAT, the PMT of each of its programs and, when asked for, an SDT
// naming each.
bool listComplete(const ListRun& run) {
    const TS_ProgramList& list = *run.pList;
    if (!run.tPAT.tWhole.valid) return false;
    for (uint16_t i = 0; i < list.u16Count; ++i) {
        uint16_t program = list.lu16ProgramNumber[i];
        if (!testBit(run.lu64PMTSeen, program) || (run.pServices && !findService(*run.pServices, program))) return false;
    }
    return true;
}

// False to stop: with `live`, once the list is complete.
bool onPacket(ListRun& run, const uint8_t* packet, const TS_Packet& header, bool live) {
    if (header.PID == TS_PID_PAT) {
        patTableFeed(&run.tPAT, packet, header, [&]() {
            g_tSimpleData.tPAT = run.tPAT.tWhole;
            listPrograms(run.pList, run.tPAT.tWhole);
            if (live) mapPMTPIDs(run, run.tPAT.tWhole);
        });
    }
    if (run.pServices && header.PID == kPIDSDT) {
        feedSections(run.tSDTSlot, TS_SI_ImportPreSection, packet, header, kTableSDTActual,
                     [&](const TS_PreSection& slot, bool) { addSDTServices(run.pServices, slot); });
    }
    if (!live) return true;
    notePMT(run, packet, header);
    // Only a packet of the tables can complete the list.
    bool table = header.PID == TS_PID_PAT || header.PID == kPIDSDT || run.lnPMTEntry[header.PID] != kNoEntry;
    return !(table && listComplete(run));
}

int32_t walkList(ListRun& run, const char* path, uint32_t liveTimeoutMs) {
    patTableReset(&run.tPAT);
    TS_PreSection_Initialise(&run.tSDTSlot);
    if (!walkOpen(&run.tWalk, WalkHook{nullptr, nullptr})) return TS_ERR_NO_MEMORY;
    int fd = openInput(path);
    if (fd < 0) {
        walkClose(&run.tWalk);
        return TS_ERR_OPEN_INPUT;
    }
    bool live = readsLive(fd, liveTimeoutMs);
    if (live) {
        for (TS_PreSection& slot : run.ltPMTSlot) TS_PreSection_Initialise(&slot);
        for (int16_t& entry : run.lnPMTEntry) entry = kNoEntry;
        for (uint64_t& bits : run.lu64PMTSeen) bits = 0;
    }
    WalkEnd end = walkInput(run.tWalk, fd, liveTimeoutMs, [&](const uint8_t* packet, const TS_Packet& header) {
        return onPacket(run, packet, header, live);
    });
    int32_t status = reportWalkEnd(end, path, run.tWalk.tStats);
    closeInput(fd);
    walkClose(&run.tWalk);
    return status;
}

int32_t listFile(TS_ProgramList* list, TS_ServiceList* services, const char* path, uint32_t liveTimeoutMs) {
    TS_InitialiseSimple(&g_tSimpleData);
    if (services) {
        services->u16Count = 0;
        services->u8ISDB = 0;
    }
    ListRun* run = new (std::nothrow) ListRun;
    if (!run) return TS_ERR_NO_MEMORY;
    run->pList = list;
    run->pServices = services;
    int32_t status = walkList(*run, path, liveTimeoutMs);
    delete run;
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
