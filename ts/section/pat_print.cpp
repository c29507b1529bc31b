// Text dump of a parsed PAT: header fields, then one line per program.
#include <cstdio>

#include "rivulet/tables.h"
#include "ts/core/bounded_count.h"
#include "ts/core/name_table.h"

namespace {

void printProgram(const TS_PAT_Program& program) {
    // Program number 0 names the network PID rather than a PMT PID.
    const char* format = program.program_number == 0 ? "  PN:%d R3:%d NETPID:0x%04X\n"
                                                     : "  PN:%d R3:%d PMTPID:0x%04X\n";
    std::printf(format, program.program_number, program.reserved,
                unsigned(program.program_map_PID));
}

}  // namespace

int32_t TS_PAT_Print(const TS_PAT* pat) {
    if (!pat) return -1;
    char name[rivulet::kNameBufferSize];
    TS_Section_TagToString(name, pat->table_id);
    std::printf("[PAT] TI:0x%02X(%s) SSI:%d R1:%d SL:%d TSI:%d R2:%d VN:%d CNI:%d SN:%d LSN:%d\n",
                pat->table_id, name, pat->section_syntax_indicator, pat->reserved1,
                pat->section_length, pat->transport_stream_id, pat->reserved2,
                pat->version_number, pat->current_next_indicator, pat->section_number,
                pat->last_section_number);
    std::printf("  Program:%d\n", pat->program_count);
    uint32_t count = rivulet::patEntryCount(*pat);
    for (uint32_t i = 0; i < count; ++i) printProgram(pat->programs[i]);
    std::printf("  CRC32:0x%08X\n", pat->CRC_32);
    return 0;
}
