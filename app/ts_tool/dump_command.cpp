// rivulet-ts dump: the stream dump, with one option per kind of output.
#include <array>
#include <string>

#include "app/ts_tool/command.h"
#include "app/ts_tool/driver_status.h"
#include "rivulet/ts.h"

namespace rivulet::tool {
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
    std::array<bool, kDumpFlagCount> selected;
    bool all;
    std::string input;
};

DumpOptions g_dump;

uint32_t selectedFlags() {
    uint32_t flags = g_dump.all ? kDumpAll : 0;
    for (size_t i = 0; i < kDumpFlagCount; ++i) {
        if (g_dump.selected[i]) flags |= kDumpFlags[i].flag;
    }
    return flags == 0 ? kDumpTables : flags;
}

int runDump() { return exitStatusOf(TS_Print(g_dump.input.c_str(), selectedFlags()), g_dump.input.c_str()); }

}  // namespace

Command addDumpCommand(CLI::App& tool) {
    CLI::App* dump = tool.add_subcommand("dump", "Print the packets and tables of a stream as text");
    for (size_t i = 0; i < kDumpFlagCount; ++i) {
        dump->add_flag(kDumpFlags[i].option, g_dump.selected[i], std::string("print ") + kDumpFlags[i].help);
    }
    dump->add_flag("--all", g_dump.all, "everything but --packets and --es");
    dump->add_option("FILE", g_dump.input, "the transport stream")->required()->type_name("");
    dump->footer("Without an option, prints the tables: PAT, CAT and PMT.");
    return {dump, runDump};
}

}  // namespace rivulet::tool
