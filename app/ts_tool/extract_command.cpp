// rivulet-ts extract: one program of a stream, chosen by its PMT PID or by
// its program number, copied into a file of its own.
#include <cstdio>
#include <string>

#include "app/progress/progress_terminal.h"
#include "app/ts_tool/command.h"
#include "app/ts_tool/driver_status.h"
#include "app/ts_tool/numbers.h"
#include "rivulet/ts.h"

namespace rivulet::tool {
namespace {

struct ExtractOptions {
    std::string pmtPID;
    std::string programNumber;
    std::string input;
    std::string destination;
};

ExtractOptions g_extract;
TS_ProgramList g_extractList;

// The PMT PID of `programNumber` in the last PAT of the input, or -1 with
// the reason on standard error.
int32_t findPMTPID(uint32_t programNumber) {
    g_extractList = TS_ProgramList{};
    progressStartOnTerminal();
    int32_t status = TS_GetProgramList(&g_extractList, g_extract.input.c_str());
    progressStop();
    if (status < 0) return status;
    for (uint16_t i = 0; i < g_extractList.u16Count; ++i) {
        if (g_extractList.lu16ProgramNumber[i] == programNumber) return g_extractList.lu16PMTPID[i];
    }
    std::fprintf(stderr, "rivulet-ts: %s: no program %u in the PAT.\n", g_extract.input.c_str(), programNumber);
    return -1;
}

int32_t chosenPMTPID() {
    uint32_t value = 0;
    if (!g_extract.pmtPID.empty()) {
        parseNumber(g_extract.pmtPID, 0, kMaxPID, &value);
        return int32_t(value);
    }
    parseNumber(g_extract.programNumber, 1, kMaxProgramNumber, &value);
    return findPMTPID(value);
}

int runExtract() {
    int32_t pid = chosenPMTPID();
    if (pid < 0) return kExitFailed;
    progressStartOnTerminal();
    int32_t status = TS_ProgramSplitStream(g_extract.destination.c_str(), g_extract.input.c_str(), uint16_t(pid));
    progressStop();
    return exitStatusOf(status, g_extract.input.c_str());
}

}  // namespace

Command addExtractCommand(CLI::App& tool) {
    CLI::App* extract = tool.add_subcommand("extract", "Copy one program of a stream into a file");
    CLI::Option_group* choice = extract->add_option_group("program", "the program to copy (one of)");
    choice->add_option("--pmt-pid", g_extract.pmtPID, "the program's PMT PID")->check(pidCheck())->type_name("PID");
    choice->add_option("--program", g_extract.programNumber, "the program number, looked up in the PAT")
        ->check(programNumberCheck())
        ->type_name("N");
    choice->require_option(1);
    extract->add_option("FILE", g_extract.input, "the transport stream")->required()->type_name("");
    extract->add_option("DEST", g_extract.destination, "the file to write")->required()->type_name("");
    extract->footer(
        "DEST receives the program's PMT, PCR, CA and elementary-stream packets, unchanged and in\n"
        "input order, from the first PMT on; no PAT is written. The copy stops at the first PAT\n"
        "that no longer announces the PMT PID; when the first PAT does not announce it, no file\n"
        "is written. PIDs and program numbers are decimal or 0x-hexadecimal.");
    return {extract, runExtract};
}

}  // namespace rivulet::tool
