#include "app/near_miss.h"

#include <algorithm>
#include <vector>

namespace rivulet {
namespace {

constexpr size_t kMaxSlips = 2;

// Edits from `a` to `b`: letters added, dropped or changed, and two
// neighbours swapped (the commonest slip, "strat" for "start") as one.
size_t editDistance(std::string_view a, std::string_view b) {
    const size_t width = b.size() + 1;
    std::vector<size_t> d((a.size() + 1) * width);
    auto at = [&](size_t i, size_t j) -> size_t& { return d[i * width + j]; };
    for (size_t i = 0; i <= a.size(); ++i) at(i, 0) = i;
    for (size_t j = 0; j <= b.size(); ++j) at(0, j) = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t changed = a[i - 1] == b[j - 1] ? 0 : 1;
            at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + changed});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
            }
        }
    }
    return at(a.size(), b.size());
}

}  // namespace

std::string_view nearMiss(std::string_view word, std::span<const std::string_view> names) {
    std::string_view nearest;
    size_t best = std::min(kMaxSlips + 1, (word.size() + 1) / 2);
    for (std::string_view name : names) {
        size_t distance = editDistance(word, name);
        if (distance >= best) continue;
        best = distance;
        nearest = name;
    }
    return nearest;
}

}  // namespace rivulet
