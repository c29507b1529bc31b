// Lists of words the command lines take ("drops,gaps", "nfo,json"), each
// word a bit: read and written from one table of the words.
#ifndef RIVULET_APP_WORD_LIST_H
#define RIVULET_APP_WORD_LIST_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rivulet {

// A word and its bit; a table of words may be of any record with these two
// fields first.
struct ListWord {
    uint32_t u32Bit;
    const char* word;
};

// "a,b": the bit of each word of `words` in *bits; false at the first word
// the table lacks, which goes to *unknown.
template <class Word, size_t N>
bool parseWordList(std::string_view list, const Word (&words)[N], uint32_t* bits, std::string* unknown) {
    *bits = 0;
    for (size_t at = 0; at <= list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string_view word = list.substr(at, comma - at);
        const Word* found = nullptr;
        for (const Word& known : words) {
            if (word == known.word) found = &known;
        }
        if (!found) {
            *unknown = std::string(word);
            return false;
        }
        *bits |= found->u32Bit;
        at = comma + 1;
    }
    return true;
}

// The words of the bits set in `bits` (every word: ~0), in the table's order, with `separator` between.
template <class Word, size_t N>
std::string wordsOf(const Word (&words)[N], uint32_t bits, std::string_view separator) {
    std::string out;
    for (const Word& w : words) {
        if (!(bits & w.u32Bit)) continue;
        if (!out.empty()) out.append(separator);
        out.append(w.word);
    }
    return out;
}

}  // namespace rivulet

#endif
