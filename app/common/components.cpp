#include "app/common/components.h"

#include <algorithm>

#include "rivulet/services.h"
#include "rivulet/split.h"

namespace rivulet {

std::vector<std::string_view> componentNames() {
    std::vector<std::string_view> names;
    for (uint8_t c = 0; c < TS_COMPONENT_COUNT; ++c) names.push_back(TS_ComponentName(c));
    return names;
}

bool parseComponents(std::string_view list, uint32_t* bits, std::string* unknown) {
    const std::vector<std::string_view> names = componentNames();
    for (size_t at = 0; at <= list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string_view name = list.substr(at, comma - at);
        const auto known = std::find(names.begin(), names.end(), name);
        if (known == names.end()) {
            *unknown = name;
            return false;
        }
        *bits |= 1u << (known - names.begin());
        at = comma + 1;
    }
    return true;
}

bool isAudioChoice(const std::string& text) { return TS_CheckAudioChoice(text.c_str()) == 0; }

}  // namespace rivulet
