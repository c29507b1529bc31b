#include "ts/split/program_pat.h"

#include <cstring>


namespace rivulet {

void buildProgramPAT(uint8_t* unit, uint32_t prefix, const uint8_t* completingPacket, const TS_Packet& completing,
                     const TS_PAT& pat, const TS_PAT_Program* network, const TS_PAT_Program& program) {
    std::memcpy(unit, completingPacket - prefix, prefix);
    TS_PAT single = pat;
    single.program_count = 0;
    if (network) single.programs[single.program_count++] = *network;
    single.programs[single.program_count++] = program;
    single.section_length = uint16_t(9 + 4 * single.program_count);

    TS_Packet header{};
    header.sync_byte = TS_SYNC_BYTE;
    header.payload_unit_start_indicator = 1;
    header.transport_priority = completing.transport_priority;
    header.PID = TS_PID_PAT;
    header.adaptation_field_control = 1;
    header.continuity_counter = completing.continuity_counter;
    TS_PAT_ToPacket(unit + prefix, &header, &single);
}

}  // namespace rivulet
