#include "app/sidecars.h"

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/common/event_text.h"
#include "app/common/guarded_file.h"
#include "app/common/service_text.h"
#include "app/common/verdict_json.h"
#include "app/common/word_list.h"
#include "app/common/xml_text.h"

namespace rivulet {
namespace {

std::string serviceNameOf(const TS_SplitFileList& list, const TS_SplitFileReport& file) {
    return xmlAllowed(tool::textOf(list.u8ISDB ? TS_TEXT_ARIB : TS_TEXT_DVB, file.lu8ServiceName, file.u8ServiceNameLength));
}

// "2024-03-15" of an event's start.
std::string dayOf(const TS_EventInfo& event) { return isoTime(event.s64Start, event.s16ZoneMinutes).substr(0, 10); }

// The plot: the short text, then each extended item as "heading: text", then the extended text.
std::string plotOf(const EventText& t) {
    std::string plot = t.description;
    auto add = [&plot](std::string_view heading, std::string_view part) {
        if (part.empty() && heading.empty()) return;
        if (!plot.empty()) plot.append("\n\n");
        if (!heading.empty()) {
            plot.append(heading);
            plot.append(": ");
        }
        plot.append(part);
    };
    for (const auto& [heading, text] : t.items) add(heading, text);
    add("", t.text);
    return plot;
}

void xmlLine(std::string& out, const char* tag, const std::string& value) {
    if (value.empty()) return;
    for (std::string_view part : {std::string_view("  <"), std::string_view(tag), std::string_view(">")}) out.append(part);
    out.append(xmlEscaped(value));
    for (std::string_view part : {std::string_view("</"), std::string_view(tag), std::string_view(">\n")}) out.append(part);
}

}  // namespace

std::string nfoText(const TS_SplitFileList& list, const TS_SplitFileReport& file, const TS_EventInfo* event) {
    if (!event) return "";
    const EventText t = eventText(*event);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<episodedetails>\n";
    xmlLine(out, "title", t.title);
    xmlLine(out, "plot", plotOf(t));
    if (event->u8HasStart) {
        xmlLine(out, "aired", dayOf(*event));
        xmlLine(out, "premiered", dayOf(*event));
    }
    if (event->u8HasDuration) xmlLine(out, "runtime", std::to_string((event->u32Duration + 30) / 60));
    xmlLine(out, "studio", serviceNameOf(list, file));
    for (const std::string& genre : t.genres) xmlLine(out, "genre", genre);
    out.append("  <uniqueid type=\"event_id\">");
    out.append(std::to_string(event->u16EventId));
    out.append("</uniqueid>\n</episodedetails>\n");
    return out;
}

std::string sheetText(const TS_SplitFileList& list, const TS_SplitFileReport& file, const TS_EventInfo* event) {
    if (!event) return "";
    const EventText t = eventText(*event);
    std::string out;
    // Each part on a line of its own; a paragraph after a blank line.
    auto line = [&out](std::initializer_list<std::string_view> parts) {
        for (std::string_view part : parts) out.append(part);
        out.push_back('\n');
    };
    if (event->u8HasStart) {
        const std::string from = isoTime(event->s64Start, event->s16ZoneMinutes);
        const std::string to = event->u8HasDuration
                                   ? isoTime(event->s64Start + event->u32Duration, event->s16ZoneMinutes).substr(11, 5)
                                   : std::string();
        line({std::string_view(from).substr(0, 10), " ", std::string_view(from).substr(11, 5), to.empty() ? "" : " - ", to,
              " ", std::string_view(from).substr(19)});
    }
    const std::string service = serviceNameOf(list, file);
    if (!service.empty()) line({service});
    for (const std::string* paragraph : {&t.title, &t.description}) {
        if (paragraph->empty()) continue;
        line({});
        line({*paragraph});
    }
    for (const auto& [heading, text] : t.items) {
        line({});
        line({heading});
        line({text});
    }
    if (!t.text.empty()) {
        line({});
        line({t.text});
    }
    if (!t.genres.empty()) {
        line({});
        std::string genres;
        for (const std::string& genre : t.genres) {
            if (!genres.empty()) genres.append(", ");
            genres.append(genre);
        }
        line({genres});
    }
    return out;
}

std::string recordText(const TS_SplitFileList& list, const TS_SplitFileReport& file, const TS_EventInfo* event) {
    nlohmann::ordered_json record = event ? eventJSON(*event) : nlohmann::ordered_json::object();
    if (event) record.erase("table_id");
    record["program_number"] = file.u16ProgramNumber;
    const std::string service = serviceNameOf(list, file);
    if (!service.empty()) record["service_name"] = service;
    nlohmann::ordered_json verdict = verdictJSON(file.tProgramme);
    verdict.update(stretchJSON(file.tProgramme));
    record["verdict"] = verdict;
    return jsonText(record) + "\n";
}

std::string edlText(const TS_SplitFileReport& file) {
    if (!file.u8CutAtEvents || !file.u8HasProgrammeStart) return "";
    std::string out;
    char line[64];
    auto range = [&](uint64_t from, uint64_t to) {
        std::snprintf(line, sizeof line, "%.3f %.3f 3\n", double(from) / 27e6, double(to) / 27e6);
        out += line;
    };
    if (file.u64ProgrammeStart > 0) range(0, file.u64ProgrammeStart);
    if (file.u8HasProgrammeEnd && file.u64Duration > file.u64ProgrammeEnd) range(file.u64ProgrammeEnd, file.u64Duration);
    return out;
}

std::string errText(const TS_SplitFileReport& file) {
    std::string out;
    char line[160];
    for (uint32_t i = 0; i < file.u32DropLines; ++i) {
        const TS_DropLine& d = file.ltDropLine[i];
        // Broadcast time when a TDT or TOT gave it; else the file's clock, from 0000/00/00 00:00:00.
        const int64_t seconds = d.u8HasUTC ? d.s64UTC : int64_t(d.u64Clock / 27000000);
        const std::string at = isoTime(seconds, 0);
        const std::string day = d.u8HasUTC ? at.substr(0, 4) + "/" + at.substr(5, 2) + "/" + at.substr(8, 2) : "0000/00/00";
        const std::string time = d.u8HasUTC ? at.substr(11, 8) : [&] {
            char elapsed[32];
            std::snprintf(elapsed, sizeof elapsed, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600 % 100),
                          static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
            return std::string(elapsed);
        }();
        std::snprintf(line, sizeof line, "%s %s Drop:%llu Scramble:%llu\n", day.c_str(), time.c_str(),
                      static_cast<unsigned long long>(d.u64Drops), static_cast<unsigned long long>(d.u64Scrambled));
        out.append(line);
    }
    if (!out.empty()) out.push_back('\n');
    for (uint16_t i = 0; i < file.u16FilePIDCount; ++i) {
        const TS_FilePID& p = file.ltFilePID[i];
        std::string what = kindName(p.u8Kind);
        if (p.strCodec[0]) {
            what.push_back(' ');
            what.append(p.strCodec);
        }
        std::snprintf(line, sizeof line, "PID: 0x%04X  Total:%9llu  Drop:%9llu  Scramble: %9llu  %s\n", p.u16PID,
                      static_cast<unsigned long long>(p.u64Packets), static_cast<unsigned long long>(p.u64Drops),
                      static_cast<unsigned long long>(p.u64Scrambled), what.c_str());
        out.append(line);
    }
    return out;
}

std::string besideOutput(const std::string& path, const char* extension) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    std::string beside = hasExtension ? path.substr(0, dot) : path;
    beside.append(extension);
    return beside;
}

namespace {

std::string edlOf(const TS_SplitFileList&, const TS_SplitFileReport& file, const TS_EventInfo*) { return edlText(file); }
std::string errOf(const TS_SplitFileList&, const TS_SplitFileReport& file, const TS_EventInfo*) { return errText(file); }

// Each sidecar: its word, which is its extension too, and its text.
struct Sidecar {
    uint32_t u32Bit;
    const char* word;
    std::string (*text)(const TS_SplitFileList& list, const TS_SplitFileReport& file, const TS_EventInfo* event);
};
constexpr Sidecar kSidecars[] = {{kSidecarNFO, "nfo", nfoText},   {kSidecarJSON, "json", recordText},
                                 {kSidecarTXT, "txt", sheetText}, {kSidecarEDL, "edl", edlOf},
                                 {kSidecarERR, "err", errOf}};

}  // namespace

bool parseSidecars(std::string_view list, uint32_t* bits, std::string* unknown) {
    return parseWordList(list, kSidecars, bits, unknown);
}

std::string sidecarWords() { return wordsOf(kSidecars, ~0u, " "); }

bool writeSidecars(uint32_t kinds, const TS_SplitFileList& list, const TS_Guide* guide,
                   const std::vector<const char*>& inputs, TS_SplitRun* run) {
    bool all = true;
    auto event = std::make_unique<TS_EventInfo>();
    for (uint32_t i = 0; i < list.u32Count; ++i) {
        const TS_SplitFileReport& file = list.ltFile[i];
        const bool known = file.u8CutAtEvents
                               ? file.u8HasEvent && TS_Guide_Find(guide, file.u16ProgramNumber, file.u16EventId, event.get()) == 0
                               : TS_Guide_FirstPresent(guide, file.u16ProgramNumber, event.get()) == 0;
        const TS_EventInfo* programme = known ? event.get() : nullptr;
        for (const Sidecar& s : kSidecars) {
            if (!(kinds & s.u32Bit)) continue;
            const std::string text = s.text(list, file, programme);
            if (text.empty()) continue;
            const std::string extension = std::string(".").append(s.word);
            const std::string path = besideOutput(file.strPath, extension.c_str());
            // What is written stays: no later output of the run goes over it.
            if (writeGuarded(path.c_str(), text, inputs, run)) {
                TS_SplitRun_ProtectInput(run, path.c_str());
            } else {
                all = false;
            }
        }
    }
    return all;
}

}  // namespace rivulet
