// The program list: the program numbers of a stream and the PIDs of their
// PMTs, as its last verified PAT announces them. Every PAT that completes and
// verifies rebuilds the list from scratch; the network entry (program_number
// 0) names no program and is left out.
#include "rivulet/ts.h"
#include "ts/core/bounded_count.h"
#include "ts/drivers/input_file.h"
#include "ts/drivers/pat_table.h"
#include "ts/stream/section_feed.h"

using namespace rivulet;

namespace {

PATTable g_patTable;

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

}  // namespace

int32_t TS_GetProgramList(TS_ProgramList* list, const char* path) {
    if (!list || !path) return -1;
    TS_InitialiseSimple(&g_tSimpleData);
    patTableReset(&g_patTable);
    int fd = openInput(path);
    if (fd < 0) return TS_ERR_OPEN_INPUT;
    WalkEnd end = walkPackets(g_tSimpleData, fd, [&](const uint8_t* packet, const TS_Packet& header) {
        if (header.PID == TS_PID_PAT) handlePATPacket(list, packet, header);
        return true;
    });
    int32_t status = reportWalkEnd(end, path);
    closeInput(fd);
    return status;
}
