// rivulet-ts check: the figures of every PID and program of a stream, as a
// table (errors first) or as JSON, and on request its bitrate chart.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app/common/guarded_file.h"
#include "app/common/verdict_json.h"
#include "app/common/xml_text.h"
#include "app/ts_tool/check_chart.h"
#include "app/ts_tool/check_view.h"
#include "app/ts_tool/options.h"

namespace rivulet::tool {
namespace {

struct CheckOptions {
    bool json = false;
    bool failOnErrors = false;
    std::string svg;
    std::string input;
};

struct Totals {
    uint64_t ccErrors, lost, duplicates, tei, scrambled, pcrDiscontinuities;
};

Totals totalsOf(const TS_CheckResult& r) {
    Totals t{};
    for (const TS_CheckPID& pid : r.ltPID) {
        t.ccErrors += pid.u64CCErrors;
        t.lost += pid.u64LostPackets;
        t.duplicates += pid.u64Duplicates;
        t.tei += pid.u64TEI;
        t.scrambled += pid.u64Scrambled;
        t.pcrDiscontinuities += pid.u64PCRDiscontinuities;
    }
    return t;
}

unsigned long long ull(uint64_t value) { return static_cast<unsigned long long>(value); }

std::string pidList(const TS_CheckProgram& program) {
    std::string text;
    char pid[8];
    for (uint16_t i = 0; i < program.u16PIDCount; ++i) {
        std::snprintf(pid, sizeof pid, "%s0x%04X", i ? "," : "", program.lu16PID[i]);
        text += pid;
    }
    return text;
}

// The input's duration, or that it has none.
std::string durationText(bool timed, uint64_t ticks) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", secondsOf(ticks));
    return timed ? text : "no PCR";
}

void printText(const TS_CheckResult& r, const char* input) {
    Totals t = totalsOf(r);
    std::printf("%s: %u-byte packets, %llu packets, %llu bytes skipped, %s\n", input, r.u32PacketSize,
                ull(r.u64Packets), ull(r.u64SkippedBytes), durationText(hasPCR(r), r.u64Duration).c_str());
    std::printf("%s: %llu continuity errors (%llu packets lost), %llu transport errors, %llu PCR discontinuities, "
                "%llu duplicates, %llu scrambled packets\n\n",
                t.ccErrors + t.tei > 0 ? "ERRORS" : "no errors", ull(t.ccErrors), ull(t.lost), ull(t.tei),
                ull(t.pcrDiscontinuities), ull(t.duplicates), ull(t.scrambled));
    std::printf("%-6s %-34s %10s %7s %7s %5s %6s %9s %6s %8s %9s\n", "PID", "role", "packets", "cc_err", "lost", "dup",
                "tei", "scrambled", "pcrs", "pcr_disc", "kbit/s");
    for (uint16_t pid : pidsInOrder(r)) {
        const TS_CheckPID& p = r.ltPID[pid];
        char kbits[16] = "-";
        if (hasPCR(r)) std::snprintf(kbits, sizeof kbits, "%.1f", double(bitrateOf(r, p)) / 1000);
        std::printf("0x%04X %-34s %10llu %7llu %7llu %5llu %6llu %9llu %6llu %8llu %9s\n", pid, roleText(p).c_str(),
                    ull(p.u64Packets), ull(p.u64CCErrors), ull(p.u64LostPackets), ull(p.u64Duplicates), ull(p.u64TEI),
                    ull(p.u64Scrambled), ull(p.u64PCRs), ull(p.u64PCRDiscontinuities), kbits);
    }
    if (r.u16ProgramCount == 0) return;
    std::printf("\n%-7s %-24s %10s %7s %7s %6s %9s  %s\n", "program", "service", "duration", "cc_err", "lost", "tei",
                "scrambled", "PIDs");
    for (uint16_t i = 0; i < r.u16ProgramCount; ++i) {
        const TS_CheckProgram& p = r.ltProgram[i];
        std::printf("%-7u %-24s %10s %7llu %7llu %6llu %9llu  %s\n", p.u16ProgramNumber, serviceNameOf(r, p).c_str(),
                    durationText(hasPCR(r, p), p.u64Duration).c_str(), ull(p.u64CCErrors), ull(p.u64LostPackets),
                    ull(p.u64TEI), ull(p.u64Scrambled), pidList(p).c_str());
    }
}

// Seconds, or null for what has no PCR.
nlohmann::ordered_json secondsJSON(bool timed, uint64_t ticks) {
    return timed ? nlohmann::ordered_json(secondsOf(ticks)) : nlohmann::ordered_json();
}

nlohmann::ordered_json pidJSON(const TS_CheckResult& r, uint16_t pid) {
    const TS_CheckPID& p = r.ltPID[pid];
    nlohmann::ordered_json j = {{"pid", pid}, {"role", roleName(p.u8Role)}};
    if (p.u8Role >= TS_ROLE_PMT && p.u8Role <= TS_ROLE_ECM) j["program_number"] = p.u16ProgramNumber;
    if (p.strCodec[0]) j["codec"] = p.strCodec;
    if (p.strLanguage[0]) j["language"] = p.strLanguage;
    nlohmann::ordered_json bitrate = hasPCR(r) ? nlohmann::ordered_json(bitrateOf(r, p)) : nlohmann::ordered_json();
    j.update({{"packets", p.u64Packets}, {"cc_errors", p.u64CCErrors}, {"lost_packets", p.u64LostPackets},
              {"duplicates", p.u64Duplicates}, {"tei", p.u64TEI}, {"scrambled", p.u64Scrambled},
              {"pcrs", p.u64PCRs}, {"pcr_discontinuities", p.u64PCRDiscontinuities},
              {"duration_s", secondsJSON(p.u64PCRs > 0, p.u64PCRDuration)}, {"bitrate", bitrateOf(r, p)},
              {"bitrate_bps", bitrate}});
    return j;
}

nlohmann::ordered_json programJSON(const TS_CheckResult& r, const TS_CheckProgram& p) {
    nlohmann::ordered_json pids = nlohmann::ordered_json::array();
    for (uint16_t i = 0; i < p.u16PIDCount; ++i) pids.push_back(p.lu16PID[i]);
    nlohmann::ordered_json j = {{"program_number", p.u16ProgramNumber}, {"service_name", serviceNameOf(r, p)},
                                {"pmt_pid", p.u16PMTPID}, {"pcr_pid", p.u16PCRPID}, {"pids", pids},
                                {"duration_s", secondsJSON(hasPCR(r, p), p.u64Duration)}, {"packets", p.u64Packets},
                                {"cc_errors", p.u64CCErrors}, {"lost_packets", p.u64LostPackets}, {"tei", p.u64TEI},
                                {"scrambled", p.u64Scrambled}};
    j.update(stretchJSON(p.tVerdict));
    j.update(verdictJSON(p.tVerdict));
    return j;
}

void printJSON(const TS_CheckResult& r, bool complete) {
    nlohmann::ordered_json pids = nlohmann::ordered_json::array();
    for (uint16_t pid : pidsInOrder(r)) pids.push_back(pidJSON(r, pid));
    nlohmann::ordered_json programs = nlohmann::ordered_json::array();
    for (uint16_t i = 0; i < r.u16ProgramCount; ++i) programs.push_back(programJSON(r, r.ltProgram[i]));
    Totals t = totalsOf(r);
    nlohmann::ordered_json document = {
        {"packet_size", r.u32PacketSize}, {"packets", r.u64Packets}, {"skipped_bytes", r.u64SkippedBytes},
        {"duration_s", secondsJSON(hasPCR(r), r.u64Duration)}, {"complete", complete},
        {"cc_errors", t.ccErrors}, {"lost_packets", t.lost}, {"duplicates", t.duplicates}, {"tei", t.tei},
        {"scrambled", t.scrambled}, {"pcr_discontinuities", t.pcrDiscontinuities},
        {"pids", pids}, {"programs", programs}};
    std::cout << jsonText(document) << '\n';
}

bool writeChart(const TS_CheckResult& r, const ChartPoints& points, const std::string& path, const char* input) {
    return writeGuarded(path.c_str(), chartSVG(r, points, TS_InputName(input)), {input}, nullptr);
}

int runCheck(const CheckOptions& options) {
    const char* input = inputPath(options.input);
    auto result = std::make_unique<TS_CheckResult>();
    ChartPoints points;
    bool chart = !options.svg.empty();
    if (chart && !mayWriteAt(options.svg.c_str(), {input}, nullptr)) {
        std::fprintf(stderr, "Error: Failed open %s.\n", options.svg.c_str());
        return kExitFailed;
    }
    int32_t status = TS_CheckStream(result.get(), input, chart ? gatherPoint : nullptr, &points);
    bool stopped = status == TS_ERR_INTERRUPTED;
    if (status < 0 && !stopped) return exitStatusOf(status, input);
    if (stopped) {
        std::fprintf(stderr, "Stopped: the figures are those of the first %llu bytes of %s.\n",
                     ull(result->u64Bytes), TS_InputName(input));
    }
    if (options.json) {
        printJSON(*result, !stopped);
    } else {
        printText(*result, options.input.c_str());
    }
    if (chart && !writeChart(*result, points, options.svg, input)) return kExitFailed;
    if (stopped) return exitStatusOf(status, input);
    Totals t = totalsOf(*result);
    return options.failOnErrors && t.ccErrors + t.tei > 0 ? kExitStreamErrors : kExitOk;
}

}  // namespace

Command addCheckCommand(CLI::App& tool) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* check = tool.add_subcommand("check", "Count the drops, errors and PCRs of every PID and program");
    check->add_flag("--json", options->json, "print the same figures as JSON");
    check->add_option("--svg", options->svg, "also write a chart of each program's bitrate over time")->type_name("FILE");
    check->add_flag("--fail-on-errors", options->failOnErrors,
                    "exit with status 3 when a continuity or transport error was found");
    check->add_option("FILE", options->input, "the transport stream (- for standard input)")->required()->type_name("");
    check->footer(
        "Reads the stream once and prints a summary, then one line per PID (those with errors\n"
        "first) and one per program. Per PID: its role from the PAT, CAT and PMTs, its packets,\n"
        "continuity errors and the packets they lost, duplicates, packets with\n"
        "transport_error_indicator (counted under packets, tei and scrambled only), scrambled\n"
        "packets, PCRs, PCR discontinuities (a step backwards or over a second without\n"
        "discontinuity_indicator) and its bitrate: its 188-byte packets over the stream's\n"
        "duration. A program's duration sums the steps between the PCRs of its PCR PID, across\n"
        "the 33-bit wrap, without the discontinuities; the stream's is its longest.\n"
        "Exit status 0 when the check ran; with --fail-on-errors, 3 when a continuity or\n"
        "transport error was found.");
    return {check, [options] { return runCheck(*options); }};
}

}  // namespace rivulet::tool
