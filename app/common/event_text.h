// An event of the guide as the tools write it: its texts decoded to UTF-8
// (as the service names are, and kept to what XML allows), its genres in
// words, its times; as JSON, as XMLTV times and as XML text.
#ifndef RIVULET_APP_EVENT_TEXT_H
#define RIVULET_APP_EVENT_TEXT_H

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "rivulet/guide.h"

namespace rivulet {

// A guide the tools own, freed with it.
struct GuideFree {
    void operator()(TS_Guide* guide) const { TS_Guide_Free(guide); }
};
using GuidePtr = std::unique_ptr<TS_Guide, GuideFree>;

struct EventText {
    std::string title;
    std::string description;  // the short event's text
    std::vector<std::pair<std::string, std::string>> items;  // heading, text
    std::string text;         // the extended events' text
    std::vector<std::string> genres;  // one per content value a table names
};

EventText eventText(const TS_EventInfo& event);

// The genre words of `nibbles`: its own, else its group's; "" when reserved.
std::string genreOf(uint8_t nibbles, uint8_t arib);

// {"event_id", "service_id", ..., "start", "duration_s", "name", ...}: what
// the event says; a field it lacks is left out.
nlohmann::ordered_json eventJSON(const TS_EventInfo& event);

// "2024-03-15T21:07:00+00:00" (ISO 8601) and "20240315210700 +0000"
// (XMLTV) of `seconds` since 1970 in a zone `zoneMinutes` ahead of UTC.
std::string isoTime(int64_t seconds, int16_t zoneMinutes);
std::string xmltvTime(int64_t seconds, int16_t zoneMinutes);

// `text` with &, <, >, " and ' written as XML entities.
std::string xmlEscaped(const std::string& text);

}  // namespace rivulet

#endif
