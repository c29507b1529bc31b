// rivulet-ts pmt-survey: the runs of identical PMTs in a single-program stream.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "app/ts_tool/command.h"
#include "app/ts_tool/driver_status.h"
#include "app/ts_tool/pmt_failures.h"
#include "rivulet/ts.h"

namespace rivulet::tool {
namespace {

struct SurveyOptions {
    bool json;
    std::string input;
};

SurveyOptions g_survey;
TS_PMTSplitData g_surveyTable;

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
    std::cout << document.dump(2) << '\n';
}

int runSurvey() {
    int32_t status = TS_CheckPMTSplit(&g_surveyTable, g_survey.input.c_str());
    if (status < 0) return exitStatusOf(status, g_survey.input.c_str(), kPMTDriverFailures);
    if (g_survey.json) {
        printJSON(g_surveyTable);
    } else {
        printText(g_surveyTable);
    }
    return kExitOk;
}

}  // namespace

Command addPMTSurveyCommand(CLI::App& tool) {
    CLI::App* survey = tool.add_subcommand("pmt-survey", "List the runs of identical PMTs in a single-program stream");
    survey->add_flag("--json", g_survey.json,
                     "print JSON: {\"runs\":[{\"crc\":\"1A2B3C4D\",\"occurrence\":0,\"size\":376},...]}");
    survey->add_option("FILE", g_survey.input, "a single-program stream (e.g. an output of rivulet)")->required()->type_name("");
    survey->footer(
        "Prints one line per run of one PMT, in stream order, e.g.\n"
        "  1A2B3C4D 0 376\n"
        "the PMT's CRC_32 (eight hexadecimal digits, the PMT's identity and the --crc of\n"
        "pmt-split), how many runs of the same PMT came before (0 for its first run), and the\n"
        "bytes the run adds to that PMT's file.");
    return {survey, runSurvey};
}

}  // namespace rivulet::tool
