// Name tables as data: single identifiers, then ranges, then a default name.
// Shared by the table-ID, stream-type and descriptor-tag names and by the
// PID names of the packet dump.
#ifndef RIVULET_NAME_TABLE_H
#define RIVULET_NAME_TABLE_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace rivulet {

// Every caller of a name function hands it a buffer of this size.
constexpr size_t kNameBufferSize = 256;

struct NameEntry {
    uint16_t id;
    const char* name;
};

struct NameRange {
    uint16_t first;  // inclusive
    uint16_t last;   // inclusive
    const char* name;
};

struct NameTable {
    std::span<const NameEntry> entries;  // looked up first
    std::span<const NameRange> ranges;   // tested in order when no entry matches
    const char* fallback;
};

const char* lookupName(const NameTable& table, uint16_t id);

// Copies the name of `id` with its NUL into `buffer`; nothing behind the NUL
// is touched. -1 for a null buffer, else 0.
int32_t copyName(char* buffer, const NameTable& table, uint16_t id);
int32_t copyName(char* buffer, const char* name);

}  // namespace rivulet

#endif  // RIVULET_NAME_TABLE_H
