// The subcommands of rivulet-ts: each registers its options on the tool's
// parser and runs one toolkit driver once the command line is parsed.
#include <array>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/progress/progress_terminal.h"
#include "app/ts_tool/options.h"
#include "app/common/service_names.h"
#include "app/common/service_text.h"
#include "app/common/xml_text.h"
#include "rivulet/ts.h"

namespace rivulet::tool {

// --- rivulet-ts dump: the stream dump, with one option per kind of output.
namespace {

struct DumpFlag {
    const char* option;
    uint32_t flag;
    const char* help;
};

constexpr DumpFlag kDumpFlags[] = {
    {"--packets", TS_PRINT_PACKET, "every packet"},
    {"--pat", TS_PRINT_PAT, "each PAT section"},
    {"--cat", TS_PRINT_CAT, "each CAT section"},
    {"--pmt", TS_PRINT_PMT, "each PMT section"},
    {"--private", TS_PRINT_PRIVATE, "each section on a CA PID that a PMT names (ECMs)"},
    {"--emm", TS_PRINT_EMM, "each section on the CA PID that the CAT names (EMMs)"},
    {"--es", TS_PRINT_ES, "every packet of an elementary stream a PMT lists"},
    {"--pids", TS_PRINT_PIDLIST, "the list of every PID, at the end"},
    {"--pcr", TS_PRINT_PCR, "the PCR of each packet that carries one on a PCR PID"},
};
constexpr size_t kDumpFlagCount = sizeof kDumpFlags / sizeof kDumpFlags[0];

constexpr uint32_t kDumpTables = TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT;
constexpr uint32_t kDumpAll = TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_PRIVATE |
                              TS_PRINT_EMM | TS_PRINT_PIDLIST | TS_PRINT_PCR;

struct DumpOptions {
    std::array<bool, kDumpFlagCount> selected{};  // by the index of kDumpFlags
    bool all = false;
    std::string input;
};

uint32_t selectedFlags(const DumpOptions& options) {
    uint32_t flags = options.all ? kDumpAll : 0;
    for (size_t i = 0; i < kDumpFlagCount; ++i) {
        if (options.selected[i]) flags |= kDumpFlags[i].flag;
    }
    return flags == 0 ? kDumpTables : flags;
}

int runDump(const DumpOptions& options) {
    return exitStatusOf(TS_Print(inputPath(options.input), selectedFlags(options)), inputPath(options.input));
}

}  // namespace

Command addDumpCommand(CLI::App& tool) {
    auto options = std::make_shared<DumpOptions>();
    CLI::App* dump = tool.add_subcommand("dump", "Print the packets and tables of a stream as text");
    for (size_t i = 0; i < kDumpFlagCount; ++i) {
        dump->add_flag(kDumpFlags[i].option, options->selected[i], std::string("print ") + kDumpFlags[i].help);
    }
    dump->add_flag("--all", options->all, "everything but --packets and --es");
    dump->add_option("FILE", options->input, "the transport stream (- for standard input)")->required()->type_name("");
    dump->footer("Without an option, prints the tables: PAT, CAT and PMT.");
    return {dump, [options] { return runDump(*options); }};
}

// --- rivulet-ts programs: the programs that the last PAT of a stream announces.
namespace {

struct ProgramsOptions {
    bool json = false;
    std::string input;
};

// What the stream says of a program, decoded.
struct ListedProgram {
    uint16_t number;
    uint16_t pmtPID;
    TS_ServiceFacts facts;
    ServiceTexts texts;
};

std::string virtualChannel(const ListedProgram& p) {
    return p.texts.channel + (p.texts.name == p.texts.channel ? "" : " " + p.texts.name);
}

// A type the streams overrule: the broadcaster's is shown beside it.
bool statedApart(const TS_ServiceFacts& facts) {
    return facts.u8StatedType != TS_SERVICE_UNKNOWN && facts.u8StatedType != facts.u8Type;
}

void printText(const std::vector<ListedProgram>& list) {
    for (const ListedProgram& p : list) {
        std::printf("program %u pmt_pid 0x%04X", p.number, p.pmtPID);
        if (p.facts.u8Described) {
            std::printf(" service_type 0x%02X provider %s name %s", p.facts.u8ServiceType,
                        quotedText(p.texts.provider).c_str(), quotedText(p.texts.name).c_str());
        }
        if (p.facts.u8Virtual) std::printf(" channel %s", quotedText(virtualChannel(p)).c_str());
        if (!p.texts.type.empty()) std::printf(" type %s", p.texts.type.c_str());
        if (statedApart(p.facts)) std::printf(" stated_type %s", serviceTypeName(p.facts.u8StatedType));
        if (p.facts.u8PMTSeen) std::printf(" streams %s", quotedText(streamSummary(p.facts)).c_str());
        std::printf("\n");
    }
}

nlohmann::ordered_json streamsJSON(const TS_ServiceFacts& facts) {
    nlohmann::ordered_json streams = nlohmann::ordered_json::array();
    for (uint8_t i = 0; i < facts.u8StreamCount; ++i) {
        const TS_StreamSummary& s = facts.ltStream[i];
        streams.push_back({{"pid", s.u16PID},
                           {"stream_type", s.u8StreamType},
                           {"kind", TS_ComponentName(s.u8Component)},
                           {"codec", s.strCodec},
                           {"language", s.strLanguage}});
    }
    return streams;
}

void printJSON(const std::vector<ListedProgram>& list) {
    nlohmann::ordered_json programs = nlohmann::ordered_json::array();
    for (const ListedProgram& p : list) {
        nlohmann::ordered_json program = {{"program_number", p.number}, {"pmt_pid", p.pmtPID}};
        if (p.facts.u8Described) {
            program["service_name"] = p.texts.name;
            program["provider_name"] = p.texts.provider;
            program["service_type"] = p.facts.u8ServiceType;
        }
        if (p.facts.u8Virtual) {
            program["virtual_channel"] = virtualChannel(p);
            program["major_channel"] = p.facts.u16Major;
            program["minor_channel"] = p.facts.u16Minor;
        }
        if (!p.texts.type.empty()) program["type"] = p.texts.type;
        if (statedApart(p.facts)) program["stated_type"] = serviceTypeName(p.facts.u8StatedType);
        if (p.facts.u8PMTSeen) {
            program["summary"] = streamSummary(p.facts);
            program["streams"] = streamsJSON(p.facts);
        }
        programs.push_back(program);
    }
    nlohmann::ordered_json document = {{"programs", programs}};
    std::cout << jsonText(document) << '\n';
}

std::vector<ListedProgram> listedPrograms(const TS_ServiceWatch* watch) {
    uint16_t numbers[TS_PAT_MAX_PROGRAMS];
    uint16_t pmtPIDs[TS_PAT_MAX_PROGRAMS];
    uint32_t count = TS_ServiceWatch_Programs(watch, numbers, pmtPIDs, TS_PAT_MAX_PROGRAMS);
    std::vector<ListedProgram> list(count < TS_PAT_MAX_PROGRAMS ? count : TS_PAT_MAX_PROGRAMS);
    for (size_t i = 0; i < list.size(); ++i) {
        list[i].number = numbers[i];
        list[i].pmtPID = pmtPIDs[i];
        if (TS_ServiceWatch_Facts(watch, numbers[i], UINT64_MAX, &list[i].facts) == 0) {
            list[i].texts = serviceTexts(list[i].facts);
        }
    }
    return list;
}

int runPrograms(const ProgramsOptions& options) {
    const char* input = inputPath(options.input);
    TS_ServiceWatch* watch = TS_ServiceWatch_Open();
    if (!watch) return exitStatusOf(TS_ERR_NO_MEMORY, input);
    constexpr uint32_t kNeeds = TS_WATCH_NAMES | TS_WATCH_STREAMS;
    int32_t status = TS_ServiceWatch_ReadInput(watch, input, kNeeds, kLiveListMs);
    std::vector<ListedProgram> list;
    if (status >= 0) list = listedPrograms(watch);
    // With no needs, only a whole PAT settles the watch: without one, said as a split says it.
    if (status >= 0 && !TS_ServiceWatch_Settled(watch, 0)) {
        std::fprintf(stderr, "Warning: no PAT in %s; no file written.\n", TS_InputName(input));
    }
    TS_ServiceWatch_Close(watch);
    if (status < 0) return exitStatusOf(status, input);
    if (options.json) {
        printJSON(list);
    } else {
        printText(list);
    }
    return kExitOk;
}

}  // namespace

Command addProgramsCommand(CLI::App& tool) {
    auto options = std::make_shared<ProgramsOptions>();
    CLI::App* programs = tool.add_subcommand("programs", "List the programs of a stream and their PMT PIDs");
    programs->add_flag("--json", options->json, "print JSON: {\"programs\":[{\"program_number\":N,\"pmt_pid\":P,...},...]}");
    programs->add_option("FILE", options->input, "the transport stream (- for standard input)")->required()->type_name("");
    programs->footer(
        "Prints one line per program of the last PAT in the file, in PAT order, e.g.\n"
        "  program 1 pmt_pid 0x0100 service_type 0x01 provider \"ARD\" name \"Das Erste\" type tv\n"
        "    streams \"h264 video; mp2 audio (deu); dvb subtitles (deu)\"\n"
        "(program number in decimal, PMT PID in hexadecimal); the network entry is left out.\n"
        "The service type and names, decoded to UTF-8, come from the last intact SDT actual (or\n"
        "ATSC TVCT/CVCT, which adds: channel \"7.1 WJLA-HD\") that lists the program; type is\n"
        "tv, radio or data, from the service type or else from the PMT; streams gives each\n"
        "elementary stream's codec, kind and language. On standard input, a FIFO or a tuner's\n"
        "device, the list is printed as soon as a whole PAT, the PMT of each of its programs and\n"
        "an SDT naming them have arrived, or after 10 s with what has, e.g.\n"
        "  rivulet-ts programs /dev/dvb/adapter0/dvr0");
    return {programs, [options] { return runPrograms(*options); }};
}

// --- rivulet-ts extract: one program of a stream, chosen by its PMT PID or by its number.
namespace {

struct ExtractOptions {
    // As given, empty when not: the validators refuse an empty text and
    // store the numbers.
    std::string pmtPIDText;
    std::string programNumberText;
    uint32_t u32PMTPID = 0;
    uint32_t u32ProgramNumber = 0;
    bool serviceInformation = false;
    std::string drop;   // as rivulet's --drop and --audio
    std::string audio;
    std::string input;
    std::string destination;
};

int runExtract(const ExtractOptions& options) {
    const char* input = inputPath(options.input);
    progressStartOnTerminal();
    TS_ExtractOptions choice{uint8_t(options.pmtPIDText.empty() ? 1 : 0), uint16_t(options.u32ProgramNumber),
                              uint16_t(options.u32PMTPID), uint8_t(options.serviceInformation ? 1 : 0)};
    choice.u32DropComponents = componentsOf(options.drop);
    choice.strAudio = options.audio.empty() ? nullptr : options.audio.c_str();
    int32_t status = TS_ExtractProgram(options.destination.c_str(), input, &choice);
    progressStop();
    if (status == TS_ERR_NO_PROGRAM) {
        std::fprintf(stderr, "rivulet-ts: %s: no program %u in the PAT.\n", input, options.u32ProgramNumber);
    }
    return exitStatusOf(status, input);
}

}  // namespace

Command addExtractCommand(CLI::App& tool) {
    auto options = std::make_shared<ExtractOptions>();
    CLI::App* extract = tool.add_subcommand("extract", "Copy one program of a stream into a file");
    CLI::Option_group* choice = extract->add_option_group("program", "the program to copy (one of)");
    choice->add_option("--pmt-pid", options->pmtPIDText, "the program's PMT PID")
        ->check(pidCheck(&options->u32PMTPID))
        ->type_name("PID");
    choice->add_option("--program", options->programNumberText, "the program number, looked up in the PAT")
        ->check(programNumberCheck(&options->u32ProgramNumber))
        ->type_name("N");
    choice->require_option(1);
    extract->add_flag("--si", options->serviceInformation,
                      "also carry the program's service information: its own SDT, its EIT, TDT/TOT, NIT");
    extract->add_option("--drop", options->drop, "leave these components out, as rivulet --drop: video,audio,subtitles,...")
        ->check(componentsCheck())
        ->type_name("LIST");
    extract->add_option("--audio", options->audio, "keep only the audio streams in these languages (eng,fra), or the first")
        ->check(audioCheck())
        ->type_name("LANGS");
    extract->add_option("FILE", options->input, "the transport stream (- for standard input)")->required()->type_name("");
    extract->add_option("DEST", options->destination, "the file to write")->required()->type_name("");
    extract->footer(
        "DEST receives the program's PMT, PCR, CA and elementary-stream packets, unchanged and in\n"
        "input order, from the first PMT on; no PAT is written. The copy stops at the first PAT\n"
        "that no longer announces the program; when the first PAT does not announce it, no file\n"
        "is written. A program chosen by number follows its PMT PID from PAT to PAT, in one pass\n"
        "(the input may be a pipe). M2TS input keeps each packet's 4-byte header. With --si, DEST\n"
        "also holds an SDT of the program's service alone, its EIT sections and the TDT/TOT and\n"
        "NIT packets, so that players show the channel name and the programme guide. With --drop\n"
        "or --audio, DEST leaves those streams out and its PMT is rebuilt, as rivulet's files.\n"
        "PIDs and program numbers are decimal or 0x-hexadecimal.");
    return {extract, [options] { return runExtract(*options); }};
}

// --- rivulet-ts pmt-survey: the runs of identical PMTs in a single-program stream.
namespace {

struct SurveyOptions {
    bool json = false;
    std::string input;
};

std::string crcText(uint32_t crc) {
    char text[sizeof "01234567"];
    std::snprintf(text, sizeof text, "%08X", crc);
    return text;
}

void printText(const TS_PMTSplitData& table) {
    for (uint16_t i = 0; i < table.u16Count; ++i) {
        const TS_PMTSplitEntry& run = table.ltEntry[i];
        std::printf("%s %u %llu\n", crcText(run.u32PMTCRC).c_str(), run.u16Occurrence,
                    static_cast<unsigned long long>(run.u64Size));
    }
}

void printJSON(const TS_PMTSplitData& table) {
    nlohmann::ordered_json runs = nlohmann::ordered_json::array();
    for (uint16_t i = 0; i < table.u16Count; ++i) {
        const TS_PMTSplitEntry& run = table.ltEntry[i];
        runs.push_back({{"crc", crcText(run.u32PMTCRC)}, {"occurrence", run.u16Occurrence}, {"size", run.u64Size}});
    }
    nlohmann::ordered_json document = {{"runs", runs}};
    std::cout << jsonText(document) << '\n';
}

int runSurvey(const SurveyOptions& options) {
    auto table = std::make_unique<TS_PMTSplitData>();
    int32_t status = TS_CheckPMTSplit(table.get(), inputPath(options.input));
    if (status < 0) return exitStatusOf(status, inputPath(options.input), kPMTDriverFailures);
    if (options.json) {
        printJSON(*table);
    } else {
        printText(*table);
    }
    return kExitOk;
}

}  // namespace

Command addPMTSurveyCommand(CLI::App& tool) {
    auto options = std::make_shared<SurveyOptions>();
    CLI::App* survey = tool.add_subcommand("pmt-survey", "List the runs of identical PMTs in a single-program stream");
    survey->add_flag("--json", options->json,
                     "print JSON: {\"runs\":[{\"crc\":\"1A2B3C4D\",\"occurrence\":0,\"size\":376},...]}");
    survey->add_option("FILE", options->input, "a single-program stream (e.g. an output of rivulet; - for standard input)")->required()->type_name("");
    survey->footer(
        "Prints one line per run of one PMT, in stream order, e.g.\n"
        "  1A2B3C4D 0 376\n"
        "the PMT's CRC_32 (eight hexadecimal digits, the PMT's identity and the --crc of\n"
        "pmt-split), how many runs of the same PMT came before (0 for its first run), and the\n"
        "bytes the run adds to that PMT's file.");
    return {survey, [options] { return runSurvey(*options); }};
}

// --- rivulet-ts pmt-split: a single-program stream cut wherever its PMT changes.
namespace {

struct PMTSplitOptions {
    std::string input;
    std::string crcText;  // as given, empty when not: the validator refuses an empty text and stores the CRC
    uint32_t u32CRC = 0;
    std::optional<std::string> destination;  // --output, when given
};

int runPMTSplit(const PMTSplitOptions& options) {
    uint8_t splitAll = options.crcText.empty() ? 1 : 0;
    uint32_t crc = splitAll ? 0 : options.u32CRC;
    const char* destination = options.destination ? options.destination->c_str() : nullptr;
    progressStartOnTerminal();
    int32_t status = TS_PMTSplitFile(inputPath(options.input), splitAll, crc, destination);
    progressStop();
    return exitStatusOf(status, inputPath(options.input), kPMTDriverFailures);
}

}  // namespace

Command addPMTSplitCommand(CLI::App& tool) {
    auto options = std::make_shared<PMTSplitOptions>();
    CLI::App* split = tool.add_subcommand("pmt-split", "Cut a single-program stream where its PMT changes");
    split->add_option("FILE", options->input, "a single-program stream (e.g. an output of rivulet; - for standard input)")->required()->type_name("");
    CLI::Option* crc =
        split->add_option("--crc", options->crcText, "write only the packets under the PMT of this CRC (from pmt-survey)")
            ->check(crcCheck(&options->u32CRC))
            ->type_name("HEX");
    auto keepDestination = [destination = &options->destination](const std::string& path) { *destination = path; };
    split->add_option_function<std::string>("--output", keepDestination, "with --crc: the file to write")->needs(crc)
        ->type_name("DEST");
    split->footer(
        "Without --crc, writes one file per distinct PMT beside the input, NAME_<CRC>.ts for an\n"
        "input NAME.EXT (CRC in eight upper-case hexadecimal digits); a PMT that returns goes on\n"
        "in its earlier file. With --crc, writes only that PMT's packets, into --output or\n"
        "NAME_<CRC>.ts. Each PMT packet is preceded by the PAT that came before it.");
    return {split, [options] { return runPMTSplit(*options); }};
}

}  // namespace rivulet::tool
