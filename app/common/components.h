// The words of --drop and --audio, which rivulet and rivulet-ts extract share.
#ifndef RIVULET_APP_COMPONENTS_H
#define RIVULET_APP_COMPONENTS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rivulet {

// "video", "audio", ...: every component, in TS_COMPONENT_... order.
std::vector<std::string_view> componentNames();

// "data,subtitles": a bit 1 << TS_COMPONENT_... for each component named, in
// *bits; false at the first word that names none, which goes to *unknown.
bool parseComponents(std::string_view list, uint32_t* bits, std::string* unknown);

// "first", or ISO 639-2 codes, three letters each, comma-separated.
bool isAudioChoice(const std::string& text);

}  // namespace rivulet

#endif
