// ts/programs: which packets belong to which program (whole PATs, routes,
// the services an SDT lists).
//
// Which packets belong to which program. A program owns the packets of its
// PCR PID (0x1FFF means no PCR), of the CA PID of every conditional access
// descriptor of its PMT (program loop and elementary-stream loops: several CA
// systems may scramble one program, and DVB often carries ECMs per component)
// and of its elementary streams. A PID may belong to several programs.
//
// Routes are read from the PMT section's own bytes, not from a parsed record
// of fixed capacity, so that every stream a PMT names is followed. They are
// kept per PID as bits of program slots, in planes of 64 slots, so routing
// one packet costs one lookup per 64 programs; slots are added as programs
// come, with no bound but memory.
#ifndef RIVULET_PROGRAM_ROUTES_H
#define RIVULET_PROGRAM_ROUTES_H

#include <cstdint>

#include "rivulet/descriptors.h"
#include "rivulet/packets_sections.h"
#include "ts/core/growable.h"
#include "ts/section/section_reader.h"

namespace rivulet {

// Distinct PIDs one PMT section can name: each costs at least four bytes of it.
constexpr uint32_t kMaxPIDsPerProgram = TS_SECTION_BODY_SIZE / 4;

// The PIDs a slot has routes on, so that a new PMT undoes only those.
struct RoutedPIDs {
    uint16_t u16Count;
    uint16_t lu16PID[kMaxPIDsPerProgram];
};

struct ProgramRoutes {
    // Word w of PID p at [w * TS_PID_COUNT + p]: bit b set, the PID belongs
    // to program slot 64 * w + b.
    Growable<uint64_t> planes;
    Growable<RoutedPIDs> slots;
};

// No routes; routesFree gives the memory back.
void routesClear(ProgramRoutes* routes);
void routesFree(ProgramRoutes* routes);
// Makes room for slots 0 to count - 1; false when memory is short.
bool routesReserve(ProgramRoutes* routes, uint32_t count);
// Replaces the routes of `slot` (reserved) with the PIDs that the PMT
// section in `section` names.
void routesSetProgram(ProgramRoutes* routes, uint32_t slot, const TS_PreSection* section);
// The words of slots the routes hold (as many as the slots reserved need).
inline uint32_t routesWords(const ProgramRoutes* routes) { return routes->planes.u32Size / TS_PID_COUNT; }
// The slots 64 * word to 64 * word + 63 that `pid` belongs to, as bits.
inline uint64_t routesOf(const ProgramRoutes* routes, uint32_t word, uint16_t pid) {
    const uint32_t at = word * TS_PID_COUNT + (pid & (TS_PID_COUNT - 1));
    return at < routes->planes.u32Size ? routes->planes.p[at] : 0;
}

// Calls fn(pid) for the CA_PID of every conditional access descriptor of
// `loop`; one too short to hold a CA_PID names none.
template <class Fn>
void forEachCAPID(ByteReader loop, Fn&& fn) {
    constexpr uint32_t kDescriptorHeader = 2;
    constexpr uint32_t kCAFields = 4;  // CA_system_ID, CA_PID
    while (loop.canRead(kDescriptorHeader)) {
        uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        if (tag != TS_TAG_CONDITIONAL_ACCESS || !body.canRead(kCAFields)) continue;
        body.u16();  // CA_system_ID
        fn(uint16_t(body.u16() & 0x1FFF));
    }
}

// Calls fn(pid) once per role that a PID plays in the program of the PMT
// section in `section` (the same PID may be named more than once).
template <class Fn>
void forEachProgramPID(const TS_PreSection* section, Fn&& fn) {
    constexpr uint32_t kStreamEntryHeader = 5;  // stream_type, PID, ES_info_length
    ByteReader loops = sectionLoops(sectionBytes(section));
    uint16_t pcrPID = loops.u16() & 0x1FFF;
    if (pcrPID != TS_PID_NULL) fn(pcrPID);
    forEachCAPID(loops.take(loops.u16() & 0x0FFF), fn);
    while (loops.canRead(kStreamEntryHeader)) {
        loops.u8();  // stream_type
        fn(uint16_t(loops.u16() & 0x1FFF));
        forEachCAPID(loops.take(loops.u16() & 0x0FFF), fn);
    }
}

}  // namespace rivulet

#endif
