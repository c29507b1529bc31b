// Which PIDs the table decoder follows, and for which kinds: the fixed PIDs
// of each kind, the PMT and network PIDs of the last whole PAT, the EIT-0 PID
// (and the guide's EIT and ETT PIDs) of the last MGT; a slot for each PID that carries a kind someone needs.
#ifndef RIVULET_TABLE_PIDS_H
#define RIVULET_TABLE_PIDS_H

#include <cstdint>

#include "ts/tables/table_decoder.h"

namespace rivulet {

constexpr uint16_t kindBit(TableKind kind) { return uint16_t(1u << uint32_t(kind)); }

// Whether a section of `tableId` is of `kind`, and whether it carries a CRC_32.
bool kindHasTable(TableKind kind, uint8_t tableId);
bool kindHasCRC(TableKind kind);

// Kinds gathered: those asked for, and those the asked ones depend on (the
// PAT names the PMT and network PIDs, the MGT names EIT-0's).
uint16_t neededKinds(uint16_t wanted);

// Sets the kinds of `pid` from the decoder's state, and takes or frees its slot.
void refreshPID(TableDecoder& decoder, uint16_t pid);
// Refreshes every PID a fixed kind names.
void refreshFixedPIDs(TableDecoder& decoder);
// After a whole PAT: the PMT and network PIDs of every entry of it and of
// the whole one before it.
void followPAT(TableDecoder& decoder);
// After an MGT: EIT-0 on `pid` (kNoPID: nowhere).
void followATSCEIT(TableDecoder& decoder, uint16_t pid);
// After an MGT: ATSC's guide tables on `pids` (EIT-0..3, then ETT-0..3; kNoPID: none).
void followATSCGuide(TableDecoder& decoder, const uint16_t (&pids)[kATSCGuidePIDs]);

}  // namespace rivulet

#endif
