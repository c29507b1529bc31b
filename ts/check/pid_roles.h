// The role of every PID of a checked stream, as its tables name it: PAT,
// CAT and null by their fixed PIDs, service information by the PIDs that
// DVB, ARIB and ATSC reserve for it and by the PAT's network entry, a PMT by
// the PAT, the streams, PCR and ECMs of a program by its PMT, EMMs by the
// CAT. A PID that several programs share keeps the role the first program
// to name it gave it; a program's next PMT updates what it named itself.
#ifndef RIVULET_PID_ROLES_H
#define RIVULET_PID_ROLES_H

#include <cstdint>

#include "rivulet/check.h"
#include "rivulet/packets_sections.h"

namespace rivulet {

// The roles that need no table.
void rolesReset(TS_CheckPID* pids);
void rolesSetNetwork(TS_CheckPID* pids, uint16_t networkPID);
void rolesSetPMT(TS_CheckPID* pids, uint16_t pmtPID, uint16_t programNumber);
// Roles and PID list of `program` from the verified PMT section in `slot`.
void rolesFromPMT(TS_CheckPID* pids, TS_CheckProgram& program, const TS_PreSection& slot);
void rolesFromCAT(TS_CheckPID* pids, const TS_PreSection& slot);

// The verdict's kind of a PID of role `role` (TS_KIND_NONE for roles of no program).
uint8_t kindOfRole(uint8_t role);
// The kinds of the PIDs that the verified PMT section in `slot`, carried
// on `pmtPID`, names, into `kinds` (by PID) and their codecs into `codecs`
// (static texts, null for what is no stream); a PID the section names
// twice takes the later kind, as its roles do (a video PID that carries
// the PCR is video).
void kindsFromPMT(uint8_t* kinds, const char** codecs, uint16_t pmtPID, const TS_PreSection& slot);

}  // namespace rivulet

#endif
