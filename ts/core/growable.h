// Arrays that grow as a run meets more programs or files: grown when a PAT
// names a new program, never per packet, and failing with false rather than
// an exception when memory is short. Their elements are plain records,
// zeroed as they come into being; sets of split entries are arrays of
// 64-bit words, so that a packet is routed by a few word operations whatever
// the number of programs.
#ifndef RIVULET_GROWABLE_H
#define RIVULET_GROWABLE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace rivulet {

template <class T>
struct Growable {
    static_assert(std::is_trivially_copyable_v<T>, "elements are moved as bytes");
    T* p = nullptr;
    uint32_t u32Size = 0;
    uint32_t u32Capacity = 0;
    T& operator[](uint32_t i) { return p[i]; }
    const T& operator[](uint32_t i) const { return p[i]; }
};

// Makes `array` hold at least `size` elements, the new ones zeroed; false
// (the array as it was) when memory is short.
template <class T>
bool growTo(Growable<T>& array, uint32_t size) {
    if (size <= array.u32Size) return true;
    if (size > array.u32Capacity) {
        uint32_t capacity = array.u32Capacity < 8 ? 8 : array.u32Capacity;
        while (capacity < size) capacity *= 2;
        T* grown = static_cast<T*>(std::realloc(static_cast<void*>(array.p), sizeof(T) * capacity));
        if (!grown) return false;
        array.p = grown;
        array.u32Capacity = capacity;
    }
    std::memset(static_cast<void*>(array.p + array.u32Size), 0, sizeof(T) * (size - array.u32Size));
    array.u32Size = size;
    return true;
}

template <class T>
void release(Growable<T>& array) {
    std::free(static_cast<void*>(array.p));
    array = Growable<T>{};
}

// Sets of entries, one bit each, in words of 64.
using EntryBits = Growable<uint64_t>;
constexpr uint32_t kEntriesPerWord = 64;
inline uint32_t wordsFor(uint32_t entries) { return (entries + kEntriesPerWord - 1) / kEntriesPerWord; }
inline uint64_t wordOf(const EntryBits& bits, uint32_t word) { return word < bits.u32Size ? bits.p[word] : 0; }
inline bool hasEntry(const EntryBits& bits, uint32_t e) { return (wordOf(bits, e / 64) >> (e % 64)) & 1; }
// The set must already hold e's word (grown with the entries).
inline void addEntry(EntryBits& bits, uint32_t e) { bits.p[e / 64] |= uint64_t(1) << (e % 64); }
inline void removeEntry(EntryBits& bits, uint32_t e) {
    if (e / 64 < bits.u32Size) bits.p[e / 64] &= ~(uint64_t(1) << (e % 64));
}
inline void clearEntries(EntryBits& bits) {
    if (bits.p) std::memset(bits.p, 0, sizeof(uint64_t) * bits.u32Size);
}
// Calls fn(entry) for each entry of `word` (the word-th of a set), in order.
template <class Fn>
void forEachEntry(uint64_t word, uint32_t wordIndex, Fn&& fn) {
    while (word) {
        uint32_t bit = uint32_t(__builtin_ctzll(word));
        word &= word - 1;
        fn(wordIndex * kEntriesPerWord + bit);
    }
}

}  // namespace rivulet

#endif
