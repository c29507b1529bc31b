// Which packets belong to which program. A program owns the packets of its
// PCR PID (0x1FFF means no PCR), of the CA PID of every conditional access
// descriptor of its PMT (program loop and elementary-stream loops: several CA
// systems may scramble one program, and DVB often carries ECMs per component)
// and of its elementary streams. A PID may belong to several programs.
//
// Routes are kept per PID as a bit mask of program slots, so routing one
// packet costs one table lookup whatever the number of programs.
#ifndef RIVULET_PROGRAM_ROUTES_H
#define RIVULET_PROGRAM_ROUTES_H

#include <cstdint>

#include "rivulet/ts.h"
#include "ts/core/bounded_count.h"

namespace rivulet {

constexpr uint32_t kMaxRoutedPrograms = 64;  // bits of one mask
static_assert(TS_SPLIT_MAX_ENTRIES <= kMaxRoutedPrograms);

struct ProgramRoutes {
    uint64_t lu64Programs[TS_PID_COUNT];  // bit s set: the PID belongs to program slot s
};

void routesClear(ProgramRoutes* routes);
void routesClearProgram(ProgramRoutes* routes, uint32_t slot);
// Replaces the routes of `slot` with the PIDs that `pmt` names.
void routesSetProgram(ProgramRoutes* routes, uint32_t slot, const TS_PMT* pmt);
inline uint64_t routesOf(const ProgramRoutes* routes, uint16_t pid) {
    return routes->lu64Programs[pid & (TS_PID_COUNT - 1)];
}

// Calls fn(pid) once per role that a PID plays in `pmt`'s program (the same
// PID may be named more than once).
template <class Fn>
void forEachProgramPID(const TS_PMT* pmt, Fn&& fn) {
    if (pmt->PCR_PID != TS_PID_NULL) fn(pmt->PCR_PID);
    for (uint32_t d = 0; d < boundedCount(pmt->descriptor_count, TS_MAX_DESCRIPTORS); ++d) {
        if (pmt->descriptors[d].descriptor_tag == TS_TAG_CONDITIONAL_ACCESS) {
            fn(pmt->descriptors[d].conditional_access.CA_PID);
        }
    }
    for (uint32_t s = 0; s < boundedCount(pmt->stream_count, TS_PMT_MAX_STREAMS); ++s) {
        const TS_PMT_StreamInfo& stream = pmt->streams[s];
        fn(stream.elementary_PID);
        for (uint32_t d = 0; d < boundedCount(stream.descriptor_count, TS_MAX_DESCRIPTORS); ++d) {
            if (stream.descriptors[d].descriptor_tag == TS_TAG_CONDITIONAL_ACCESS) {
                fn(stream.descriptors[d].conditional_access.CA_PID);
            }
        }
    }
}

}  // namespace rivulet

#endif
