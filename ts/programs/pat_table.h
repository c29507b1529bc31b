// A PAT may come in several sections (section_number 0 to
// last_section_number, one version_number), as multiplexes with many programs
// carry it. The table is whole when every section of one version has
// arrived; only then do the drivers act on it, on all its entries at once. A
// single-section PAT is whole with each section.
#ifndef RIVULET_PAT_TABLE_H
#define RIVULET_PAT_TABLE_H

#include <cstdint>

#include "rivulet/tables.h"
#include "ts/core/bounded_count.h"
#include "ts/core/growable.h"
#include "ts/core/log_sink.h"

namespace rivulet {

constexpr uint32_t kMaxSections = 256;
constexpr uint32_t kProgramNumberCount = 65536;  // program_number is 16 bits

struct PATTable {
    TS_PAT ltSection[kMaxSections];   // the sections of the version being gathered
    uint64_t lu64Arrived[kMaxSections / 64];
    uint8_t u8Gathering;              // a version is being gathered
    uint8_t u8Version;
    uint8_t u8LastSection;
    uint8_t u8WarnedDropped;
    TS_PAT tWhole;                    // the last whole table, sections in order; valid 0 before the first
    TS_PAT tPrevious;                 // the whole table before it
    // With u8Every (set after the reset), every entry of the whole table
    // and of the one before it, however many; with u8ReadsEvery too, those
    // beyond TS_PAT_MAX_PROGRAMS are not said to be skipped: the split
    // follows them all.
    uint8_t u8Every;
    uint8_t u8ReadsEvery;
    uint8_t u8MemoryShort;            // lWhole could not hold every entry: memory is short
    Growable<TS_PAT_Program> lWhole;
    Growable<TS_PAT_Program> lPrevious;
    LogSink tLog;                     // where the warning of dropped programs goes
};

// The network entry (program_number 0) of `pat`, or null.
const TS_PAT_Program* patNetworkEntry(const TS_PAT& pat);
// The same among `count` entries (every entry of a whole table, lWhole).
const TS_PAT_Program* patNetworkEntry(const TS_PAT_Program* programs, uint32_t count);

// Calls fn(index, program) for every entry of `pat` that names a program:
// all but the network entry.
template <class Fn>
void forEachProgram(const TS_PAT& pat, Fn&& fn) {
    for (uint16_t i = 0; i < patEntryCount(pat); ++i) {
        if (pat.programs[i].program_number != 0) fn(i, pat.programs[i]);
    }
}

// A table with nothing gathered (a new one: zeroed, or as made with {}),
// its messages going to `log`; patTableFree gives the memory back.
void patTableReset(PATTable* table, const LogSink& log = LogSink{});
void patTableFree(PATTable* table);
// Takes one verified PAT section. True when it makes the table whole: then
// table->tWhole holds it, its entries in section order (those beyond
// TS_PAT_MAX_PROGRAMS dropped, with a warning once unless u8Every keeps
// them in lWhole and u8ReadsEvery says they are read), as one section 0 of 0.
bool patTableAdd(PATTable* table, const TS_PreSection* slot);

}  // namespace rivulet

#endif
