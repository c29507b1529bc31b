#include "app/split_options.h"

#include <algorithm>
#include <string_view>

#include "app/common/components.h"
#include "app/common/number.h"
#include "app/common/verdict_json.h"
#include "app/near_miss.h"
#include "app/sidecars.h"
#include "rivulet/ts.h"

namespace rivulet {
namespace {

constexpr uint32_t kMaxProgramNumber = 0xFFFF;
constexpr uint32_t kMaxFollowSeconds = 86400 * 365;
constexpr uint32_t kMaxMarginSeconds = 3600;

std::string setOutputDir(ParsedCommand& command, const std::string& value) {
    command.plan.outputDir = value;
    return "";
}

std::string addProgram(ParsedCommand& command, const std::string& value) {
    uint32_t number = 0;
    if (!parseNumber(value, 1, kMaxProgramNumber, &number)) return "not a program number from 1 to 65535: " + value;
    command.plan.programs.push_back(uint16_t(number));
    return "";
}

std::string addService(ParsedCommand& command, const std::string& value) {
    command.plan.services.push_back(value);
    return "";
}

// "tv,radio": a bit 1 << TS_SERVICE_... for each type named.
std::string addTypes(ParsedCommand& command, const std::string& value) {
    static constexpr struct {
        std::string_view name;
        uint8_t type;
    } kTypes[] = {{"tv", TS_SERVICE_TV}, {"radio", TS_SERVICE_RADIO}, {"data", TS_SERVICE_DATA}};
    std::string_view list = value;
    for (size_t at = 0; at <= list.size();) {
        size_t comma = std::min(list.find(',', at), list.size());
        auto known = std::find_if(std::begin(kTypes), std::end(kTypes),
                                  [name = list.substr(at, comma - at)](const auto& entry) { return entry.name == name; });
        if (known == std::end(kTypes)) return "not a list of tv, radio, data: " + value;
        command.plan.types |= 1u << known->type;
        at = comma + 1;
    }
    return "";
}

// "data,subtitles": a bit 1 << TS_COMPONENT_... for each component named.
std::string addDropped(ParsedCommand& command, const std::string& value) {
    std::string unknown;
    if (parseComponents(value, &command.plan.dropComponents, &unknown)) return "";
    const std::vector<std::string_view> names = componentNames();
    std::string what = "unknown component " + unknown;
    std::string_view meant = nearMiss(unknown, names);
    if (!meant.empty()) what += " (did you mean " + std::string(meant) + "?)";
    what += "; the components are";
    for (std::string_view name : names) {
        what += ' ';
        what += name;
    }
    return what;
}

// "first", or ISO 639-2 codes: "eng,fra".
std::string setAudio(ParsedCommand& command, const std::string& value) {
    if (!isAudioChoice(value)) return "not first or three-letter language codes (eng,fra): " + value;
    command.plan.audio = value;
    return "";
}

// What is wrong with `piece` of a template: a brace never closed, or a field
// there is none of, with the one meant and every field there is.
std::string templateError(const std::string& piece) {
    if (piece.back() != '}') return "unclosed name field " + piece;
    std::vector<std::string_view> fields = nameFieldNames();
    std::string what = "unknown name field " + piece;
    std::string_view meant = nearMiss(std::string_view(piece).substr(1, piece.size() - 2), fields);
    if (!meant.empty()) what += " (did you mean {" + std::string(meant) + "}?)";
    what += "; the fields are";
    for (std::string_view field : fields) what += " {" + std::string(field) + "}";
    return what;
}

std::string setName(ParsedCommand& command, const std::string& value) {
    OutputTemplate name;
    std::string piece;
    if (!parseTemplate(value, &name, &piece)) return templateError(piece);
    command.plan.name = std::move(name);
    return "";
}

std::string setServiceInformation(ParsedCommand& command, const std::string&) {
    command.plan.serviceInformation = true;
    return "";
}

std::string setCleanStart(ParsedCommand& command, const std::string&) {
    command.plan.cleanStart = true;
    return "";
}

// "--stable", or "--stable=remap" for fixed PIDs too.
std::string setStable(ParsedCommand& command, const std::string& value) {
    if (!value.empty() && value != "remap") return "not remap: " + value;
    command.plan.stable = value.empty() ? TS_STABLE_SHAPE : TS_STABLE_REMAP;
    return "";
}

std::string setEvents(ParsedCommand& command, const std::string&) {
    command.plan.events = true;
    return "";
}

// "BEFORE" or "BEFORE,AFTER", whole seconds; one number is both.
std::string setMargins(ParsedCommand& command, const std::string& value) {
    std::string_view text = value;
    size_t comma = text.find(',');
    SplitPlan& plan = command.plan;
    bool ok = parseNumber(text.substr(0, comma), 0, kMaxMarginSeconds, &plan.marginBeforeSeconds);
    if (comma == std::string_view::npos) {
        plan.marginAfterSeconds = plan.marginBeforeSeconds;
    } else {
        ok = ok && parseNumber(text.substr(comma + 1), 0, kMaxMarginSeconds, &plan.marginAfterSeconds);
    }
    return ok ? "" : "not seconds BEFORE[,AFTER]: " + value;
}

std::string setBaseName(ParsedCommand& command, const std::string& value) {
    if (value.empty()) return "missing name after --base";
    command.plan.baseName = value;
    return "";
}

std::string setReport(ParsedCommand& command, const std::string& value) {
    if (value.empty()) return "missing file after --report";
    command.plan.reportPath = value;
    return "";
}

// "--follow" keeps the seconds an earlier "--follow=SECONDS" gave.
std::string setFailOn(ParsedCommand& command, const std::string& value) {
    std::string unknown;
    if (parseDamage(value, &command.plan.failOn, &unknown)) return "";
    return "unknown damage " + unknown + "; the kinds are drops scrambled tei gaps";
}

std::string setSidecars(ParsedCommand& command, const std::string& value) {
    std::string unknown;
    if (parseSidecars(value, &command.plan.sidecars, &unknown)) return "";
    return "unknown sidecar " + unknown + "; the sidecars are " + sidecarWords();
}

std::string setFollow(ParsedCommand& command, const std::string& value) {
    command.plan.follow = true;
    if (value.empty() || parseNumber(value, 0, kMaxFollowSeconds, &command.plan.followSeconds)) return "";
    return "not a number of seconds: " + value;
}

std::string setJobs(ParsedCommand& command, const std::string& value) {
    if (parseNumber(value, 1, TS_MAX_WRITER_THREADS, &command.plan.writerThreads)) return "";
    return "not a number of threads from 1 to " + std::to_string(TS_MAX_WRITER_THREADS) + ": " + value;
}

std::string askHelp(ParsedCommand& command, const std::string&) {
    command.request = CommandRequest::Help;
    return "";
}

std::string askVersion(ParsedCommand& command, const std::string&) {
    command.request = CommandRequest::Version;
    return "";
}

using enum OptionTakes;

constexpr SplitOption kOptions[] = {
    {"-o", "--output-dir", Value, "DIR", "folder",
     "write the files into DIR (which must exist), not beside\n"
     "the input",
     setOutputDir},
    {"-p", "--program", Value, "N", "program number",
     "write only program N (decimal or 0x-hexadecimal); may be\n"
     "given again for more programs",
     addProgram},
    {"-s", "--service", Value, "NAME", "service name",
     "write the programs of service NAME (case and blanks do not\n"
     "count; ATSC: short name or channel number, e.g. 7.1); may\n"
     "be given again. Each file is the one -p gives its program:\n"
     "a program is held from the PAT that first lists it until\n"
     "its name arrives (up to 64 MiB or 10 s)",
     addService},
    {"-t", "--type", Value, "LIST", "types",
     "write the programs of these types: tv,radio,data (from the\n"
     "service type, else from the PMT's streams; data over video\n"
     "is tv, over audio radio)",
     addTypes},
    {"-n", "--name", Value, "TEMPLATE", "template",
     "name files from fields: {base} {program} {dup} {rev}\n"
     "{service} {provider} {type} {event} {event_id} {start}\n"
     "{end} {duration} (the event present when the file begins,\n"
     "its start and end, YYYYMMDD-HHMM, and its length, HHMM);\n"
     "each the value in force at the file's first packet, or the\n"
     "first to come; default {base}_{program}_{dup}_{rev}. '/' and\n"
     "control characters become '_'; a second file of one name\n"
     "gets -2, -3, ...",
     setName},
    {"", "--si", Nothing, "", "",
     "each file also carries its own service information: its\n"
     "service's SDT and EIT, the TDT/TOT and the NIT, so that\n"
     "players show the channel name and the programme guide\n"
     "(without it: \"Program 3401\" and no guide)",
     setServiceInformation},
    {"", "--clean-start", Nothing, "", "",
     "each file begins where a decoder can: its PAT, its PMT (and\n"
     "with --si its SDT and EIT), then the video from its first\n"
     "random access point and every other stream from its next\n"
     "PES start; without one within 10 s, the file starts at its\n"
     "PMT, with a warning",
     setCleanStart},
    {"-e", "--events", Nothing, "", "",
     "a file per programme: each program's file is cut where its\n"
     "present event (EIT present/following) changes, at the next\n"
     "random access point, and opens there as --clean-start opens\n"
     "a file; default names gain _<event_id> (_none before the\n"
     "first known event)",
     setEvents},
    {"", "--margin", Value, "BEFORE[,AFTER]", "seconds",
     "with -e: each programme's file also begins BEFORE\n"
     "seconds before its cut and ends AFTER seconds (default:\n"
     "BEFORE) after the next, at random access points by the\n"
     "program's clock (PCR, else PTS); the packets in between go\n"
     "to both files",
     setMargins},
    {"", "--drop", Value, "LIST", "components",
     "leave these components out of each file: video, audio,\n"
     "subtitles (DVB subtitling, ARIB captions), superimpose\n"
     "(ARIB superimposed text), teletext (and VBI), data (data\n"
     "broadcasting, DSM-CC, application signalling), scte35,\n"
     "unknown (private streams nothing names); each file's PMT\n"
     "is rebuilt without them, and a dropped stream that carries\n"
     "the PCR keeps its PCRs; rivulet-ts programs shows each\n"
     "stream's component",
     addDropped},
    {"", "--audio", Value, "LANGS", "languages",
     "keep only the audio streams in these ISO 639-2 languages\n"
     "(eng,fra), in PMT order; when none is, the first, with a\n"
     "warning; 'first': the first audio stream only",
     setAudio},
    {"", "--stable", OptionalValue, "remap", "",
     "one stream shape per file: every PMT of a file lists the\n"
     "same streams on the same PIDs from its first packet, all\n"
     "those its program lists during the file (a regular file\n"
     "is read twice, its PSI looked at first); from a pipe or\n"
     "with --follow, the streams announced within 10 s, and a\n"
     "stream announced later joins the shape there, with a\n"
     "warning. =remap: and the PIDs players expect:\n"
     "PMT 0x1F0, video 0x100, audio 0x110, captions 0x130,\n"
     "superimpose 0x138, teletext 0x140, data 0x150, others 0x170",
     setStable},
    {"-b", "--base", Value, "NAME", "name", "name the files NAME_<program>_..., for a single input", setBaseName},
    {"", "--report", Value, "FILE.json", "file",
     "write what each file holds: its program and service, its\n"
     "packets, PIDs and duration, the input bytes it took\n"
     "packets from and their continuity, transport and\n"
     "scrambling errors (also when stopped by a signal)",
     setReport},
    {"", "--fail-on", Value, "LIST", "damage",
     "exit with status 3 when a file's programme has any of\n"
     "this damage: drops (continuity errors), scrambled, tei\n"
     "(transport errors), gaps (the input restarted or lost\n"
     "time), counted on the file's own PIDs, margins left out;\n"
     "each such file is named on standard error",
     setFailOn},
    {"", "--sidecar", Value, "LIST", "sidecars",
     "beside each file, files of its name for the next tools:\n"
     "nfo (Kodi's and Jellyfin's episode details), json (the\n"
     "programme and the file's verdict), txt (a programme\n"
     "sheet), edl (with -e and --margin: Kodi's skips of the\n"
     "margins), err (the drop log recorders keep); the programme\n"
     "is the file's event with -e, else the one present when the\n"
     "recording began",
     setSidecars},
    {"", "--follow", OptionalValue, "SECONDS", "",
     "split a file that a recorder is still writing: at its\n"
     "end, wait for it to grow; stop once it has not grown for\n"
     "SECONDS (default 10; 0: only SIGINT or SIGTERM stops)",
     setFollow},
    {"-j", "--jobs", Value, "N", "threads",
     "write the files on N threads while the input is read on\n"
     "(default: one per core; a thread writes one file at a\n"
     "time); 1: the reading thread writes them itself",
     setJobs},
    {"-h", "--help", Nothing, "", "", "show this help", askHelp},
    {"", "--version", Nothing, "", "", "show the version", askVersion},
};

}  // namespace

std::span<const SplitOption> splitOptions() { return kOptions; }

}  // namespace rivulet
