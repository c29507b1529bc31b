#include "ts/drivers/program_routes.h"

#include <cstring>

namespace rivulet {

void routesClear(ProgramRoutes* routes) { std::memset(routes->lu64Programs, 0, sizeof routes->lu64Programs); }

void routesClearProgram(ProgramRoutes* routes, uint32_t slot) {
    const uint64_t keep = ~(uint64_t(1) << slot);
    for (uint64_t& mask : routes->lu64Programs) mask &= keep;
}

void routesSetProgram(ProgramRoutes* routes, uint32_t slot, const TS_PMT* pmt) {
    routesClearProgram(routes, slot);
    const uint64_t bit = uint64_t(1) << slot;
    forEachProgramPID(pmt, [&](uint16_t pid) {
        // PID 0 carries the PAT, which the drivers rebuild or leave out.
        if (pid != TS_PID_PAT && pid < TS_PID_COUNT) routes->lu64Programs[pid] |= bit;
    });
}

}  // namespace rivulet
