// The subcommands of rivulet-ts: each registers its options on the tool's
// parser and runs one toolkit driver once the command line is parsed.
#ifndef RIVULET_TS_TOOL_COMMAND_H
#define RIVULET_TS_TOOL_COMMAND_H

#include <CLI/CLI.hpp>

#include "app/ts_tool/exit_status.h"

namespace rivulet::tool {

struct Command {
    CLI::App* app;  // the subcommand's parser, owned by the tool's
    int (*run)();   // the exit status
};

Command addDumpCommand(CLI::App& tool);
Command addProgramsCommand(CLI::App& tool);
Command addExtractCommand(CLI::App& tool);
Command addPMTSurveyCommand(CLI::App& tool);
Command addPMTSplitCommand(CLI::App& tool);

// Option checks that reject malformed numbers as usage errors.
CLI::Validator pidCheck();
CLI::Validator programNumberCheck();
CLI::Validator crcCheck();

}  // namespace rivulet::tool

#endif
