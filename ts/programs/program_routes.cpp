#include "ts/programs/program_routes.h"

#include <cstring>

namespace rivulet {

void routesClear(ProgramRoutes* routes) {
    std::memset(routes->lu64Programs, 0, sizeof routes->lu64Programs);
    std::memset(routes->lu16Count, 0, sizeof routes->lu16Count);
}

void routesSetProgram(ProgramRoutes* routes, uint32_t slot, const TS_PreSection* section) {
    const uint64_t bit = uint64_t(1) << slot;
    uint16_t* pids = routes->llu16PIDs[slot];
    for (uint16_t i = 0; i < routes->lu16Count[slot]; ++i) routes->lu64Programs[pids[i]] &= ~bit;
    uint16_t count = 0;
    forEachProgramPID(section, [&](uint16_t pid) {
        uint64_t& mask = routes->lu64Programs[pid];
        // PID 0 carries the PAT, which the drivers rebuild or leave out.
        if (pid == TS_PID_PAT || (mask & bit) || count == kMaxPIDsPerProgram) return;
        mask |= bit;
        pids[count++] = pid;
    });
    routes->lu16Count[slot] = count;
}

}  // namespace rivulet
