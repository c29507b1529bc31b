// rivulet-ts programs: the programs that the last PAT of a stream announces.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "app/ts_tool/command.h"
#include "app/ts_tool/driver_status.h"
#include "rivulet/ts.h"

namespace rivulet::tool {
namespace {

struct ProgramsOptions {
    bool json;
    std::string input;
};

ProgramsOptions g_programs;
TS_ProgramList g_programList;

void printText(const TS_ProgramList& list) {
    for (uint16_t i = 0; i < list.u16Count; ++i) {
        std::printf("program %u pmt_pid 0x%04X\n", list.lu16ProgramNumber[i], list.lu16PMTPID[i]);
    }
}

void printJSON(const TS_ProgramList& list) {
    nlohmann::ordered_json programs = nlohmann::ordered_json::array();
    for (uint16_t i = 0; i < list.u16Count; ++i) {
        programs.push_back({{"program_number", list.lu16ProgramNumber[i]}, {"pmt_pid", list.lu16PMTPID[i]}});
    }
    nlohmann::ordered_json document = {{"programs", programs}};
    std::cout << document.dump(2) << '\n';
}

int runPrograms() {
    g_programList = TS_ProgramList{};
    int32_t status = TS_GetProgramList(&g_programList, g_programs.input.c_str());
    if (status < 0) return exitStatusOf(status, g_programs.input.c_str());
    if (g_programs.json) {
        printJSON(g_programList);
    } else {
        printText(g_programList);
    }
    return kExitOk;
}

}  // namespace

Command addProgramsCommand(CLI::App& tool) {
    CLI::App* programs = tool.add_subcommand("programs", "List the programs of a stream and their PMT PIDs");
    programs->add_flag("--json", g_programs.json, "print JSON: {\"programs\":[{\"program_number\":N,\"pmt_pid\":P},...]}");
    programs->add_option("FILE", g_programs.input, "the transport stream")->required()->type_name("");
    programs->footer(
        "Prints one line per program of the last PAT in the file, in PAT order, e.g.\n"
        "  program 1 pmt_pid 0x0100\n"
        "(program number in decimal, PMT PID in hexadecimal); the network entry is left out.");
    return {programs, runPrograms};
}

}  // namespace rivulet::tool
