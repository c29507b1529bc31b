#include "app/common/event_text.h"

#include <cstdio>
#include <ctime>

#include "app/common/service_text.h"
#include "app/common/xml_text.h"

namespace rivulet {
namespace {

std::string decoded(const TS_EventInfo& event, const uint8_t* bytes, size_t size) {
    return xmlAllowed(tool::textOf(event.u8Text, bytes, size));
}

// "-0130" style offsets: sign, hours, minutes, with `separator` between.
std::string zoneText(int16_t zoneMinutes, const char* separator) {
    const int minutes = zoneMinutes < 0 ? -zoneMinutes : zoneMinutes;
    char out[16];
    std::snprintf(out, sizeof out, "%c%02d%s%02d", zoneMinutes < 0 ? '-' : '+', minutes / 60 % 100, separator,
                  minutes % 60);
    return out;
}

std::tm broadcastTime(int64_t seconds) {
    std::time_t t = std::time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

// What a component is, by its stream_content (EN 300 468 table 26; ARIB
// STD-B10 the same for video; its audio components are their own descriptor).
const char* componentKind(const TS_EventComponent& c) {
    if (c.u8DescriptorTag == 0xC4) return "audio";
    switch (c.u8StreamContent) {
    case 0x1: case 0x5: return "video";
    case 0x9: return c.u8StreamContentExt == 0x0 ? "video" : "audio";  // HEVC, or AC-4
    case 0x2: case 0x4: case 0x6: case 0x7: return "audio";
    case 0x3: return "subtitles";
    default: return "data";
    }
}

nlohmann::ordered_json componentJSON(const TS_EventInfo& event, const TS_EventComponent& c) {
    nlohmann::ordered_json j = {{"kind", componentKind(c)},
                                {"descriptor_tag", c.u8DescriptorTag},
                                {"stream_content", c.u8StreamContent},
                                {"component_type", c.u8ComponentType},
                                {"component_tag", c.u8ComponentTag}};
    if (c.u8DescriptorTag == 0x50) j["stream_content_ext"] = c.u8StreamContentExt;
    if (c.u8DescriptorTag == 0xC4) j["stream_type"] = c.u8StreamType;
    if (c.strLanguage[0]) j["language"] = c.strLanguage;
    if (c.strLanguage2[0]) j["language_2"] = c.strLanguage2;
    if (c.u8TextLength) j["text"] = decoded(event, c.lu8Text, c.u8TextLength);
    return j;
}

}  // namespace

std::string genreOf(uint8_t nibbles, uint8_t arib) {
    const char* name = TS_GenreName(nibbles, arib);
    return name[0] ? name : TS_GenreGroupName(nibbles, arib);
}

EventText eventText(const TS_EventInfo& event) {
    EventText t;
    t.title = decoded(event, event.lu8Title, event.u8TitleLength);
    t.description = decoded(event, event.lu8Description, event.u8DescriptionLength);
    for (uint8_t i = 0; i < event.u8ItemCount; ++i) {
        const TS_EventItem& item = event.ltItem[i];
        t.items.emplace_back(decoded(event, event.lu8ItemBytes + item.u16DescriptionAt, item.u16DescriptionLength),
                             decoded(event, event.lu8ItemBytes + item.u16TextAt, item.u16TextLength));
    }
    t.text = decoded(event, event.lu8ExtendedText, event.u16ExtendedTextLength);
    const bool arib = event.u8Text == TS_TEXT_ARIB;
    for (uint8_t g = 0; g < event.u8GenreCount; ++g) {
        std::string genre = genreOf(event.lu8Genre[g], arib);
        if (!genre.empty()) t.genres.push_back(genre);
    }
    return t;
}

nlohmann::ordered_json eventJSON(const TS_EventInfo& event) {
    const EventText t = eventText(event);
    nlohmann::ordered_json j = {{"event_id", event.u16EventId},
                                {"service_id", event.u16ServiceId},
                                {"transport_stream_id", event.u16TransportStreamId},
                                {"original_network_id", event.u16OriginalNetworkId},
                                {"table_id", event.u8TableId}};
    if (event.u8HasStart) j["start"] = isoTime(event.s64Start, event.s16ZoneMinutes);
    if (event.u8HasDuration) j["duration_s"] = event.u32Duration;
    if (event.strLanguage[0]) j["language"] = event.strLanguage;
    if (!t.title.empty()) j["name"] = t.title;
    if (!t.description.empty()) j["description"] = t.description;
    if (!t.items.empty()) {
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const auto& [heading, text] : t.items) items.push_back({{"description", heading}, {"text", text}});
        j["items"] = items;
    }
    if (!t.text.empty()) j["text"] = t.text;
    if (!t.genres.empty()) j["genres"] = t.genres;
    nlohmann::ordered_json components = nlohmann::ordered_json::array();
    for (uint8_t i = 0; i < event.u8ComponentCount; ++i) components.push_back(componentJSON(event, event.ltComponent[i]));
    if (!components.empty()) j["components"] = components;
    nlohmann::ordered_json ratings = nlohmann::ordered_json::array();
    for (uint8_t i = 0; i < event.u8RatingCount; ++i) {
        const TS_EventRating& r = event.ltRating[i];
        ratings.push_back({{"country", r.strCountry}, {"rating", r.u8Rating}});
    }
    if (!ratings.empty()) j["parental_ratings"] = ratings;
    if (event.u8Truncated) j["truncated"] = true;
    return j;
}

namespace {

// The broadcast time `seconds` in `layout` (year, month, day, hours,
// minutes, seconds), then its zone's offset, its hours and minutes apart by `separator`.
std::string timeText(int64_t seconds, int16_t zoneMinutes, const char* layout, const char* separator) {
    const std::tm tm = broadcastTime(seconds);
    char out[80];
    std::snprintf(out, sizeof out, layout, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string text = out;
    text.append(zoneText(zoneMinutes, separator));
    return text;
}

}  // namespace

std::string isoTime(int64_t seconds, int16_t zoneMinutes) {
    return timeText(seconds, zoneMinutes, "%04d-%02d-%02dT%02d:%02d:%02d", ":");
}

std::string xmltvTime(int64_t seconds, int16_t zoneMinutes) {
    return timeText(seconds, zoneMinutes, "%04d%02d%02d%02d%02d%02d ", "");
}

std::string xmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace rivulet
