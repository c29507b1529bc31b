// An index of 64-bit keys to 32-bit values that grows with what a run
// meets (events and sections of a guide): open addressing, linear probing,
// doubled at half load. Grown only when a key is new; false rather than an
// exception when memory is short.
#ifndef RIVULET_KEY_INDEX_H
#define RIVULET_KEY_INDEX_H

#include <cstdint>
#include <cstdlib>

namespace rivulet {

struct KeyIndex {
    struct Slot {
        uint64_t u64Key;
        uint32_t u32Value;
        uint32_t u32Used;
    };
    Slot* p = nullptr;
    uint32_t u32Capacity = 0;  // a power of two
    uint32_t u32Count = 0;
};

inline uint32_t keySlot(const KeyIndex& index, uint64_t key) {
    uint64_t h = key * 0x9E3779B97F4A7C15ull;
    uint32_t at = uint32_t(h >> 32) & (index.u32Capacity - 1);
    while (index.p[at].u32Used && index.p[at].u64Key != key) at = (at + 1) & (index.u32Capacity - 1);
    return at;
}

// The value of `key`, or null when it has none.
inline uint32_t* keyFind(KeyIndex& index, uint64_t key) {
    if (index.u32Capacity == 0) return nullptr;
    KeyIndex::Slot& slot = index.p[keySlot(index, key)];
    return slot.u32Used ? &slot.u32Value : nullptr;
}

inline const uint32_t* keyFind(const KeyIndex& index, uint64_t key) {
    return keyFind(const_cast<KeyIndex&>(index), key);
}

// The value of `key`, made (0) when new; null when memory is short.
inline uint32_t* keyInsert(KeyIndex& index, uint64_t key) {
    if (uint32_t* found = keyFind(index, key)) return found;
    if ((index.u32Count + 1) * 2 > index.u32Capacity) {
        KeyIndex grown;
        grown.u32Capacity = index.u32Capacity ? index.u32Capacity * 2 : 64;
        grown.p = static_cast<KeyIndex::Slot*>(std::calloc(grown.u32Capacity, sizeof(KeyIndex::Slot)));
        if (!grown.p) return nullptr;
        for (uint32_t i = 0; i < index.u32Capacity; ++i) {
            if (index.p[i].u32Used) grown.p[keySlot(grown, index.p[i].u64Key)] = index.p[i];
        }
        grown.u32Count = index.u32Count;
        std::free(index.p);
        index = grown;
    }
    KeyIndex::Slot& slot = index.p[keySlot(index, key)];
    slot = KeyIndex::Slot{key, 0, 1};
    ++index.u32Count;
    return &slot.u32Value;
}

inline void keyRelease(KeyIndex& index) {
    std::free(index.p);
    index = KeyIndex{};
}

}  // namespace rivulet

#endif
