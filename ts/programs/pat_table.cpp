#include "ts/programs/pat_table.h"

#include <cstring>
#include <utility>

#include "ts/core/bounded_count.h"

namespace rivulet {
namespace {

bool arrived(const PATTable* table, uint8_t section) { return (table->lu64Arrived[section / 64] >> (section % 64)) & 1; }

void startVersion(PATTable* table, const TS_PAT& section) {
    std::memset(table->lu64Arrived, 0, sizeof table->lu64Arrived);
    table->u8Gathering = 1;
    table->u8Version = section.version_number;
    table->u8LastSection = section.last_section_number;
}

bool allArrived(const PATTable* table) {
    for (uint32_t s = 0; s <= table->u8LastSection; ++s) {
        if (!arrived(table, uint8_t(s))) return false;
    }
    return true;
}

// Every entry of the whole table, for a table that keeps them all; false
// when memory is short.
bool keepEvery(PATTable* table) {
    std::swap(table->lPrevious, table->lWhole);
    table->lWhole.u32Size = 0;
    for (uint32_t s = 0; s <= table->u8LastSection; ++s) {
        const TS_PAT& section = table->ltSection[s];
        const uint32_t at = table->lWhole.u32Size;
        const uint32_t count = patEntryCount(section);
        if (count == 0) continue;  // an empty section adds nothing (and may leave the list unallocated)
        if (!growTo(table->lWhole, at + count)) return false;
        std::memcpy(table->lWhole.p + at, section.programs, sizeof(TS_PAT_Program) * count);
    }
    return true;
}

void assemble(PATTable* table) {
    table->tPrevious = table->tWhole;
    TS_PAT& whole = table->tWhole;
    whole = table->ltSection[0];
    whole.program_count = 0;
    uint32_t dropped = 0;
    uint32_t beyond = 0;  // entries the table's record cannot hold
    for (uint32_t s = 0; s <= table->u8LastSection; ++s) {
        const TS_PAT& section = table->ltSection[s];
        dropped += TS_PAT_DroppedPrograms(&section);
        for (uint16_t i = 0; i < patEntryCount(section); ++i) {
            if (whole.program_count == TS_PAT_MAX_PROGRAMS) {
                ++beyond;
                continue;
            }
            whole.programs[whole.program_count++] = section.programs[i];
        }
    }
    if (table->u8Every && !keepEvery(table)) table->u8MemoryShort = 1;
    if (!table->u8Every || !table->u8ReadsEvery) dropped += beyond;
    whole.section_number = 0;
    whole.last_section_number = 0;
    whole.section_length = uint16_t(9 + 4 * whole.program_count);
    if (dropped > 0 && !table->u8WarnedDropped) {
        table->u8WarnedDropped = 1;
        logMessage(table->tLog, TS_LOG_WARNING,
                   "Warning: the PAT lists %u programs more than the %u that can be followed; they are skipped.\n",
                   dropped, TS_PAT_MAX_PROGRAMS);
    }
}

}  // namespace

const TS_PAT_Program* patNetworkEntry(const TS_PAT_Program* programs, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (programs[i].program_number == 0) return &programs[i];
    }
    return nullptr;
}

const TS_PAT_Program* patNetworkEntry(const TS_PAT& pat) { return patNetworkEntry(pat.programs, patEntryCount(pat)); }

void patTableReset(PATTable* table, const LogSink& log) {
    table->tLog = log;
    std::memset(table->lu64Arrived, 0, sizeof table->lu64Arrived);
    table->u8Gathering = 0;
    table->u8WarnedDropped = 0;
    table->tWhole.valid = 0;
    table->tWhole.program_count = 0;
    table->tPrevious = table->tWhole;
    table->lWhole.u32Size = 0;
    table->lPrevious.u32Size = 0;
}

void patTableFree(PATTable* table) {
    release(table->lWhole);
    release(table->lPrevious);
}

bool patTableAdd(PATTable* table, const TS_PreSection* slot) {
    TS_PAT section;
    TS_PAT_FromPreSection(&section, slot);
    if (section.section_number > section.last_section_number) return false;
    bool sameVersion = table->u8Gathering && section.version_number == table->u8Version &&
                       section.last_section_number == table->u8LastSection;
    if (!sameVersion) startVersion(table, section);
    table->ltSection[section.section_number] = section;
    table->lu64Arrived[section.section_number / 64] |= uint64_t(1) << (section.section_number % 64);
    if (!allArrived(table)) return false;
    assemble(table);
    std::memset(table->lu64Arrived, 0, sizeof table->lu64Arrived);
    return true;
}

}  // namespace rivulet
