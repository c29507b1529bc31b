// The word a user most likely meant when a name is not known: for a usage
// error's "did you mean ...?".
#ifndef RIVULET_NEAR_MISS_H
#define RIVULET_NEAR_MISS_H

#include <span>
#include <string_view>

namespace rivulet {

// The name of `names` nearest `word` when it is near enough to be a slip of
// the keys (at most two letters added, dropped, changed or swapped with a
// neighbour, and fewer than half of the word's letters); empty when none is.
std::string_view nearMiss(std::string_view word, std::span<const std::string_view> names);

}  // namespace rivulet

#endif
