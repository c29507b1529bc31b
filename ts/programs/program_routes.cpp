#include "ts/programs/program_routes.h"

#include <cstring>

namespace rivulet {

void routesClear(ProgramRoutes* routes) {
    clearEntries(routes->planes);
    for (uint32_t slot = 0; slot < routes->slots.u32Size; ++slot) routes->slots[slot].u16Count = 0;
}

void routesFree(ProgramRoutes* routes) {
    release(routes->planes);
    release(routes->slots);
}

bool routesReserve(ProgramRoutes* routes, uint32_t count) {
    return growTo(routes->planes, wordsFor(count) * TS_PID_COUNT) && growTo(routes->slots, count);
}

void routesSetProgram(ProgramRoutes* routes, uint32_t slot, const TS_PreSection* section) {
    const uint64_t bit = uint64_t(1) << (slot % kEntriesPerWord);
    uint64_t* plane = routes->planes.p + (slot / kEntriesPerWord) * TS_PID_COUNT;
    RoutedPIDs& pids = routes->slots[slot];
    for (uint16_t i = 0; i < pids.u16Count; ++i) plane[pids.lu16PID[i]] &= ~bit;
    uint16_t count = 0;
    forEachProgramPID(section, [&](uint16_t pid) {
        uint64_t& mask = plane[pid];
        // PID 0 carries the PAT, which the drivers rebuild or leave out.
        if (pid == TS_PID_PAT || (mask & bit) || count == kMaxPIDsPerProgram) return;
        mask |= bit;
        pids.lu16PID[count++] = pid;
    });
    pids.u16Count = count;
}

}  // namespace rivulet
