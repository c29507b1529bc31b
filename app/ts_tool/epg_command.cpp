// rivulet-ts epg: every event the input's EIT carries, per service, as a
// text listing or as XMLTV.
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "app/common/event_text.h"
#include "app/common/service_text.h"
#include "app/common/xml_text.h"
#include "app/ts_tool/options.h"

namespace rivulet::tool {
namespace {

struct EpgOptions {
    bool xmltv = false;
    bool other = false;
    uint32_t seconds = 0;
    std::string input;
};

constexpr uint8_t kTableATSCEIT = 0xCB;

// "1025.1.8442.dvb": service, transport stream and network, unique in a
// guide; "3.2748.0.atsc" for ATSC's program 3 of stream 2748.
std::string channelId(uint16_t service, uint16_t stream, uint16_t network, bool atsc) {
    return std::to_string(service) + "." + std::to_string(stream) + "." + std::to_string(network) +
           (atsc ? ".atsc" : ".dvb");
}

std::string serviceName(const TS_GuideService& s) {
    return xmlAllowed(textOf(s.u8Text, s.lu8Name, s.u8NameLength));
}

uint64_t serviceKey(uint16_t service, uint16_t stream, uint16_t network) {
    return uint64_t(network) << 32 | uint64_t(stream) << 16 | service;
}

// XMLTV places a programme by its start and names it by its title: an
// event without either is left out, and so is a channel left without any.
bool placeable(const TS_EventInfo& e, const EventText& t) { return e.u8HasStart && !t.title.empty(); }

void printXMLTVChannels(const TS_Guide* guide, const std::set<uint64_t>& listed) {
    for (uint32_t i = 0; i < TS_Guide_ServiceCount(guide); ++i) {
        TS_GuideService s;
        TS_Guide_Service(guide, i, &s);
        if (!listed.count(serviceKey(s.u16ServiceId, s.u16TransportStreamId, s.u16OriginalNetworkId))) continue;
        const bool atsc = s.u8Text == TS_TEXT_UTF16;
        std::printf("  <channel id=\"%s\">\n",
                    channelId(s.u16ServiceId, s.u16TransportStreamId, s.u16OriginalNetworkId, atsc).c_str());
        // A channel needs a name: the service's, else its number.
        const std::string name = serviceName(s);
        std::printf("    <display-name>%s</display-name>\n",
                    xmlEscaped(name.empty() ? std::to_string(s.u16ServiceId) : name).c_str());
        std::printf("  </channel>\n");
    }
}

void printXMLTVProgramme(const TS_EventInfo& e, const EventText& t) {
    std::printf("  <programme start=\"%s\"", xmltvTime(e.s64Start, e.s16ZoneMinutes).c_str());
    if (e.u8HasDuration) std::printf(" stop=\"%s\"", xmltvTime(e.s64Start + e.u32Duration, e.s16ZoneMinutes).c_str());
    const bool atsc = e.u8TableId == kTableATSCEIT;
    std::printf(" channel=\"%s\">\n",
                channelId(e.u16ServiceId, e.u16TransportStreamId, e.u16OriginalNetworkId, atsc).c_str());
    const std::string lang = e.strLanguage[0] ? std::string(" lang=\"") + xmlEscaped(e.strLanguage) + "\"" : "";
    std::printf("    <title%s>%s</title>\n", lang.c_str(), xmlEscaped(t.title).c_str());
    std::string desc = t.description;
    for (const auto& [heading, text] : t.items) desc += (desc.empty() ? "" : "\n") + heading + ": " + text;
    if (!t.text.empty()) desc += (desc.empty() ? "" : "\n") + t.text;
    if (!desc.empty()) std::printf("    <desc%s>%s</desc>\n", lang.c_str(), xmlEscaped(desc).c_str());
    for (const std::string& genre : t.genres) std::printf("    <category>%s</category>\n", xmlEscaped(genre).c_str());
    std::printf("    <episode-num system=\"%s\">%u</episode-num>\n", atsc ? "atsc_event_id" : "dvb_event_id",
                e.u16EventId);
    std::printf("  </programme>\n");
}

void printXMLTV(const TS_Guide* guide, TS_EventInfo& event) {
    std::set<uint64_t> listed;
    for (uint32_t i = 0; i < TS_Guide_EventCount(guide); ++i) {
        if (TS_Guide_Event(guide, i, &event) != 0 || !placeable(event, eventText(event))) continue;
        listed.insert(serviceKey(event.u16ServiceId, event.u16TransportStreamId, event.u16OriginalNetworkId));
    }
    std::printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n");
    std::printf("<tv generator-info-name=\"rivulet-ts\">\n");
    printXMLTVChannels(guide, listed);
    for (uint32_t i = 0; i < TS_Guide_EventCount(guide); ++i) {
        if (TS_Guide_Event(guide, i, &event) != 0) continue;
        const EventText t = eventText(event);
        if (placeable(event, t)) printXMLTVProgramme(event, t);
    }
    std::printf("</tv>\n");
}

bool ofService(const TS_EventInfo& e, const TS_GuideService& s) {
    return e.u16ServiceId == s.u16ServiceId && e.u16TransportStreamId == s.u16TransportStreamId &&
           e.u16OriginalNetworkId == s.u16OriginalNetworkId;
}

// The guide orders its services and events alike: one walk through both.
void printListing(const TS_Guide* guide, TS_EventInfo& event, const char* input) {
    const uint32_t events = TS_Guide_EventCount(guide);
    if (events == 0) {
        std::printf("No events in %s.\n", TS_InputName(input));
        return;
    }
    uint32_t next = 0;
    bool decoded = TS_Guide_Event(guide, next, &event) == 0;
    for (uint32_t i = 0; i < TS_Guide_ServiceCount(guide); ++i) {
        TS_GuideService s;
        TS_Guide_Service(guide, i, &s);
        std::printf("service %u transport_stream %u network %u name %s\n", s.u16ServiceId, s.u16TransportStreamId,
                    s.u16OriginalNetworkId, quotedText(serviceName(s)).c_str());
        for (; decoded && ofService(event, s); decoded = TS_Guide_Event(guide, ++next, &event) == 0) {
            const EventText t = eventText(event);
            std::printf("  %s", event.u8HasStart ? isoTime(event.s64Start, event.s16ZoneMinutes).c_str() : "-");
            std::printf(" %us event_id %u %s", event.u32Duration, event.u16EventId, quotedText(t.title).c_str());
            for (const std::string& genre : t.genres) std::printf(" [%s]", genre.c_str());
            std::printf("\n");
        }
    }
}

int runEpg(const EpgOptions& options) {
    const char* input = inputPath(options.input);
    TS_GuideOptions read{uint8_t(options.other), options.seconds};
    TS_Guide* raw = nullptr;
    const int32_t status = TS_ReadGuide(input, &read, &raw);
    GuidePtr guide(raw);
    if (status < 0 && status != TS_ERR_INTERRUPTED) return exitStatusOf(status, input);
    auto event = std::make_unique<TS_EventInfo>();
    if (options.xmltv) {
        printXMLTV(guide.get(), *event);
    } else {
        printListing(guide.get(), *event, input);
    }
    return status == TS_ERR_INTERRUPTED ? exitStatusOf(status, input) : kExitOk;
}

}  // namespace

Command addEpgCommand(CLI::App& tool) {
    auto options = std::make_shared<EpgOptions>();
    CLI::App* epg = tool.add_subcommand("epg", "List every event the stream's EIT carries, as text or XMLTV");
    epg->add_flag("--xmltv", options->xmltv, "print XMLTV: a <channel> per service, a <programme> per event");
    epg->add_flag("--other", options->other, "also the events of other transport streams (EIT other)");
    epg->add_option("--seconds", options->seconds, "stop after N seconds of the input's time (its PCR)")
        ->type_name("N")
        ->check(CLI::Range(1u, 86400u));
    epg->add_option("FILE", options->input, "the transport stream (- for standard input)")->required()->type_name("");
    epg->footer(
        "Reads EIT present/following and schedule (0x4E, 0x50-0x5F; with --other also 0x4F,\n"
        "0x60-0x6F) and the SDT actual's service names; ATSC's EIT-0 to EIT-3 with their ETTs\n"
        "and the VCT's channel names; each event as its last version says.\n"
        "The listing gives, per service, each event's start (ISO 8601 with its offset: DVB\n"
        "and ATSC in UTC, ISDB in JST), duration, event_id, title and genres. XMLTV times are\n"
        "\"20240315210700 +0000\"; an event without a start or a title is left out of it, and\n"
        "a service without events.");
    return {epg, [options] { return runEpg(*options); }};
}

}  // namespace rivulet::tool
