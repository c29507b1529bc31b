// rivulet-ts pmt-split: a single-program stream cut wherever its PMT changes.
#include <string>

#include "app/progress/progress_terminal.h"
#include "app/ts_tool/command.h"
#include "app/ts_tool/driver_status.h"
#include "app/ts_tool/numbers.h"
#include "app/ts_tool/pmt_failures.h"
#include "rivulet/ts.h"

namespace rivulet::tool {
namespace {

struct PMTSplitOptions {
    std::string input;
    std::string crc;
    std::string destination;
    CLI::Option* crcOption;
    CLI::Option* destinationOption;
};

PMTSplitOptions g_pmtSplit;

int runPMTSplit() {
    uint32_t crc = 0;
    uint8_t splitAll = g_pmtSplit.crcOption->count() == 0 ? 1 : 0;
    if (!splitAll) parseCRC(g_pmtSplit.crc, &crc);
    const char* destination = g_pmtSplit.destinationOption->count() > 0 ? g_pmtSplit.destination.c_str() : nullptr;
    progressStartOnTerminal();
    int32_t status = TS_PMTSplitFile(g_pmtSplit.input.c_str(), splitAll, crc, destination);
    progressStop();
    return exitStatusOf(status, g_pmtSplit.input.c_str(), kPMTDriverFailures);
}

}  // namespace

Command addPMTSplitCommand(CLI::App& tool) {
    CLI::App* split = tool.add_subcommand("pmt-split", "Cut a single-program stream where its PMT changes");
    split->add_option("FILE", g_pmtSplit.input, "a single-program stream (e.g. an output of rivulet)")->required()->type_name("");
    g_pmtSplit.crcOption =
        split->add_option("--crc", g_pmtSplit.crc, "write only the packets under the PMT of this CRC (from pmt-survey)")
            ->check(crcCheck())
            ->type_name("HEX");
    g_pmtSplit.destinationOption =
        split->add_option("--output", g_pmtSplit.destination, "with --crc: the file to write")->needs(g_pmtSplit.crcOption)
            ->type_name("DEST");
    split->footer(
        "Without --crc, writes one file per distinct PMT beside the input, NAME_<CRC>.ts for an\n"
        "input NAME.EXT (CRC in eight upper-case hexadecimal digits); a PMT that returns goes on\n"
        "in its earlier file. With --crc, writes only that PMT's packets, into --output or\n"
        "NAME_<CRC>.ts. Each PMT packet is preceded by the PAT that came before it.");
    return {split, runPMTSplit};
}

}  // namespace rivulet::tool
