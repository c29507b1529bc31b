// Service information for the files of one program (--si): players take a
// recording's channel name from the SDT, its programme guide from the EIT and
// its clock from the TDT/TOT. Each open output file gets, in input order:
//   - the packets of the TDT/TOT PID (0x14), of the ATSC PSIP base PID
//     (0x1FFB) and of the network PID the PAT names, copied unchanged;
//   - at each SDT actual section (table 0x42 on PID 0x11) that passes its
//     CRC_32 and lists the file's program, a rebuilt SDT of that one
//     service: the section's first 11 bytes as received (section_length
//     recomputed, section_number and last_section_number 0), the service's
//     loop entry unchanged, a fresh CRC_32;
//   - each EIT actual section (0x4E, 0x50 to 0x5F on PID 0x12, or ISDB's
//     0x26 and 0x27) that passes its CRC_32 and whose service_id is the
//     file's program, unchanged.
// Carried and rebuilt sections go out right after the input packet that
// completed them, each starting a packet of its own (pointer_field 0, the
// last packet stuffed with 0xFF, continuity counters from 0 per PID and
// file), behind that input packet's TP_extra_header in M2TS.
#ifndef RIVULET_SI_CARRIER_H
#define RIVULET_SI_CARRIER_H

#include <cstdint>

#include "rivulet/tables.h"
#include "ts/core/growable.h"
#include "ts/output/output_set.h"
#include "ts/programs/service_list.h"
#include "ts/section/eit_present.h"
#include "ts/section/vct.h"
#include "ts/tables/table_decoder.h"

namespace rivulet {

constexpr uint16_t kPIDTDT = 0x0014;
constexpr uint16_t kPIDISDBEIT1 = 0x0026;
constexpr uint16_t kPIDISDBEIT2 = 0x0027;
constexpr uint32_t kSIPIDs = 4;  // the PIDs whose sections are carried: SDT and three of EIT

// Where the carrier writes: the driver's files, by index.
struct SITargets {
    uint32_t u32Count;                                                  // indices 0 to count - 1
    int32_t (*programOf)(void* pUser, uint32_t index);                  // its program, or -1 without an open file
    int32_t (*write)(void* pUser, uint32_t index, const uint8_t* unit); // one output unit, copied; 0 or a failure
    void* pUser;
    uint32_t u32Prefix;                                                 // TP_extra_header bytes of a unit
    // Null, or takes a section for file `index` instead of its packets (the
    // file waits for its clean start); true when taken.
    bool (*keep)(void* pUser, uint32_t index, uint16_t pid, const uint8_t* section, uint32_t size);
};

struct SICounters {
    uint8_t lu8Next[kSIPIDs];  // next continuity_counter per PID
};

struct SICarrier {
    Growable<SICounters> counters;  // per file
};

// siFree gives the memory back.
void siFree(SICarrier* carrier);
// Makes room for files 0 to count - 1; false when memory is short.
inline bool siReserve(SICarrier* carrier, uint32_t count) { return growTo(carrier->counters, count); }
// A file (re)opened at `index`: its counters start again at 0.
void siFileOpened(SICarrier* carrier, uint32_t index);
// The network PID `pat` names, or kNoNetworkPID: taken at each PAT, so that
// a packet costs no search of the PAT.
constexpr uint16_t kNoNetworkPID = 0xFFFF;
uint16_t siNetworkPID(const TS_PAT& pat);
// Whether packets of `pid` go unchanged to every open file.
inline bool siIsCopiedPID(uint16_t pid, uint16_t networkPID) {
    return pid == kPIDTDT || pid == kPIDPSIP || pid == networkPID;
}
// The sections come from a run's table decoder: the kinds a run subscribes
// to for the carrier, and what one section of them gives the targets. 0, or
// the first failure of a write.
constexpr TableKind kSICarriedKinds[] = {TableKind::SDTActual, TableKind::EITActual};
int32_t siTakeSection(SICarrier* carrier, const TableSection& section, const SITargets& targets);
// Writes `section` to file `index` as packets of its own on `pid`, behind
// the TP_extra_header at `prefix`. 0, or the first failure of a write.
int32_t siWriteSection(SICarrier* carrier, const SITargets& targets, uint32_t index, uint16_t pid,
                       const uint8_t* prefix, const uint8_t* section, uint32_t size);
// Whether sections of `pid` are carried.
inline bool siIsSectionPID(uint16_t pid) {
    return pid == kPIDSDT || pid == kPIDEIT || pid == kPIDISDBEIT1 || pid == kPIDISDBEIT2;
}

}  // namespace rivulet

#endif
