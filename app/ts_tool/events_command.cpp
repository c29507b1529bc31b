// rivulet-ts events: every present event a stream announces, per program,
// and where `rivulet -e` would begin its file.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/common/event_text.h"
#include "app/common/service_text.h"
#include "app/common/xml_text.h"
#include "app/ts_tool/options.h"

namespace rivulet::tool {
namespace {

struct EventsOptions {
    bool json = false;
    std::string input;
};

void collect(void* user, const TS_AnnouncedEvent* event) {
    static_cast<std::vector<TS_AnnouncedEvent>*>(user)->push_back(*event);
}

std::string titleOf(const TS_ServiceEvent& event) {
    return textOf(event.u8EventText, event.lu8Title, event.u8TitleLength);
}

double secondsOf(uint64_t ticks) { return double(ticks) / 27e6; }

void printText(const std::vector<TS_AnnouncedEvent>& events, const char* input) {
    bool any = false;
    for (const TS_AnnouncedEvent& e : events) {
        if (!e.tEvent.u8HasEvent) continue;
        any = true;
        std::printf("program %u event_id %u start %s duration %s announced_at %llu", e.u16ProgramNumber,
                    e.tEvent.u16EventId, e.tEvent.strStart[0] ? e.tEvent.strStart : "-",
                    e.tEvent.strDuration[0] ? e.tEvent.strDuration : "-",
                    static_cast<unsigned long long>(e.u64AnnouncedAt));
        if (e.u8Timed) std::printf(" time %.3f", secondsOf(e.u64Time));
        if (e.u8Cut) std::printf(" cut_at %llu", static_cast<unsigned long long>(e.u64CutAt));
        std::printf(" name %s\n", quotedText(titleOf(e.tEvent)).c_str());
    }
    if (!any) std::printf("No events in %s.\n", TS_InputName(input));
}

void printJSON(const std::vector<TS_AnnouncedEvent>& events, const TS_Guide* guide) {
    auto info = std::make_unique<TS_EventInfo>();
    nlohmann::ordered_json programs = nlohmann::ordered_json::array();
    for (size_t i = 0; i < events.size(); ++i) {
        const TS_AnnouncedEvent& e = events[i];
        if (i == 0 || events[i - 1].u16ProgramNumber != e.u16ProgramNumber) {
            programs.push_back({{"program_number", e.u16ProgramNumber}, {"events", nlohmann::ordered_json::array()}});
        }
        if (!e.tEvent.u8HasEvent) continue;  // a program's file without event: the program, listed
        auto text = [](const char* value) { return value[0] ? nlohmann::ordered_json(value) : nlohmann::ordered_json(); };
        programs.back()["events"].push_back(
            {{"event_id", e.tEvent.u16EventId},
             {"name", xmlAllowed(titleOf(e.tEvent))},
             {"start", text(e.tEvent.strStart)},
             {"end", text(e.tEvent.strEnd)},
             {"duration", text(e.tEvent.strDuration)},
             {"announced_at", e.u64AnnouncedAt},
             {"time_s", e.u8Timed ? nlohmann::ordered_json(secondsOf(e.u64Time)) : nlohmann::ordered_json()},
             {"cut_at", e.u8Cut ? nlohmann::ordered_json(e.u64CutAt) : nlohmann::ordered_json()}});
        // Then what the guide knows of it besides (the last version of the
        // event, present/following or schedule): texts, genres, components, ratings.
        if (TS_Guide_Find(guide, e.u16ProgramNumber, e.tEvent.u16EventId, info.get()) != 0) continue;
        nlohmann::ordered_json& row = programs.back()["events"].back();
        const nlohmann::ordered_json known = eventJSON(*info);
        for (const auto& [key, value] : known.items()) {
            if (!row.contains(key) && key != "table_id" && key != "service_id") row[key] = value;
        }
    }
    std::cout << jsonText(nlohmann::ordered_json{{"programs", programs}}) << '\n';
}

int runEvents(const EventsOptions& options) {
    const char* input = inputPath(options.input);
    std::vector<TS_AnnouncedEvent> events;
    TS_Guide* raw = nullptr;
    int32_t status = TS_ListEventsAndGuide(input, collect, &events, options.json ? &raw : nullptr);
    GuidePtr guide(raw);
    if (status < 0) return exitStatusOf(status, input);
    std::stable_sort(events.begin(), events.end(), [](const TS_AnnouncedEvent& a, const TS_AnnouncedEvent& b) {
        return a.u16ProgramNumber != b.u16ProgramNumber ? a.u16ProgramNumber < b.u16ProgramNumber
                                                        : a.u64AnnouncedAt < b.u64AnnouncedAt;
    });
    if (options.json) {
        printJSON(events, guide.get());
    } else {
        printText(events, input);
    }
    return kExitOk;
}

}  // namespace

Command addEventsCommand(CLI::App& tool) {
    auto options = std::make_shared<EventsOptions>();
    CLI::App* events = tool.add_subcommand("events", "List the events a stream announces, and where rivulet -e cuts");
    events->add_flag("--json", options->json,
                     "print JSON: {\"programs\":[{\"program_number\":N,\"events\":[{\"event_id\":E,...},...]},...]}");
    events->add_option("FILE", options->input, "the transport stream (- for standard input)")->required()->type_name("");
    events->footer(
        "Prints, per program and in input order, each present event that EIT present/following\n"
        "announces (an event announced again counts again), e.g.\n"
        "  program 1 event_id 257 start 20261208-2000 duration 0130 announced_at 1128564\n"
        "    time 12.340 cut_at 1136084 name \"Tg1\"\n"
        "announced_at is the input offset of the packet that completed the announcement and time\n"
        "its time from the input's first PCR, in seconds; cut_at is where rivulet -e begins the\n"
        "event's file: the random access point it cuts at, or the PAT that opens the program's\n"
        "file. An event without cut_at gets no file of its own: the announcement was replaced or\n"
        "called off before a cut, or the input ended first. Without any event: \"No events in FILE.\";\n"
        "--json then gives each program with an empty list, as it gives any program without one.\n"
        "--json also gives what the EIT says of each event besides (the last version of it,\n"
        "present/following or schedule): duration_s, language, description, items (extended\n"
        "events: description and text), text, genres, components and parental_ratings; a field\n"
        "the EIT lacks is left out.");
    return {events, [options] { return runEvents(*options); }};
}

}  // namespace rivulet::tool
