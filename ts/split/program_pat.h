// The PAT of one program's file: the network entry, if the input has one,
// and the program. Always a plain payload-only packet on PID 0, behind the
// TP_extra_header of the packet that completed the input's PAT, if any.
#ifndef RIVULET_PROGRAM_PAT_H
#define RIVULET_PROGRAM_PAT_H

#include <cstdint>

#include "rivulet/tables.h"

namespace rivulet {

// Writes prefix + 188 bytes to `unit`. `completingPacket` and `completing`
// are the input packet that completed `pat` (whose header fields the file's
// PAT keeps), and its header; `network`: the PAT's network entry, or null.
void buildProgramPAT(uint8_t* unit, uint32_t prefix, const uint8_t* completingPacket, const TS_Packet& completing,
                     const TS_PAT& pat, const TS_PAT_Program* network, const TS_PAT_Program& program);

}  // namespace rivulet

#endif
