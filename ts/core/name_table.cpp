// Lookup in the name tables.
#include "ts/core/name_table.h"

#include <cstring>

namespace rivulet {

const char* lookupName(const NameTable& table, uint16_t id) {
    for (const NameEntry& entry : table.entries) {
        if (entry.id == id) return entry.name;
    }
    for (const NameRange& range : table.ranges) {
        if (id >= range.first && id <= range.last) return range.name;
    }
    return table.fallback;
}

int32_t copyName(char* buffer, const char* name) {
    if (!buffer) return -1;
    std::memcpy(buffer, name, std::strlen(name) + 1);
    return 0;
}

int32_t copyName(char* buffer, const NameTable& table, uint16_t id) { return copyName(buffer, lookupName(table, id)); }

}  // namespace rivulet
