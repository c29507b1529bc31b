// rivulet-ts: the toolkit's drivers on the command line, one subcommand each.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/common/process.h"
#include "app/ts_tool/options.h"

namespace {

using namespace rivulet;
using namespace rivulet::tool;

constexpr char kVersion[] = "rivulet-ts " RIVULET_VERSION;

// "rivulet-ts: <what went wrong>" and where to find the usage.
std::string usageFailure(const CLI::App* tool, const CLI::Error& error) {
    std::string help = "rivulet-ts";
    std::vector<CLI::App*> chosen = tool->get_subcommands();
    if (!chosen.empty()) help += " " + chosen.front()->get_name();
    return "rivulet-ts: " + std::string(error.what()) + "\nRun '" + help + " --help' for usage.\n";
}

// The parser would only say that a command is missing when the first word
// names none; say which word it did not know.
bool knownFirstWord(const char* word, const CLI::App& tool) {
    for (const char* own : {"-h", "--help", "--version"}) {
        if (std::strcmp(word, own) == 0) return true;
    }
    for (const CLI::App* command : tool.get_subcommands({})) {
        if (command->get_name() == word) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    prepareProcess();
    CLI::App tool("Dump, list, check, extract and split MPEG-2 transport streams.", "rivulet-ts");
    tool.set_version_flag("--version", kVersion, "show the version");
    tool.require_subcommand(1);
    tool.failure_message(usageFailure);
    tool.footer(
        "Run 'rivulet-ts COMMAND --help' for the options of a command.\n"
        "Exit status: 0 success, 1 the driver failed (the message says why), 2 usage error,\n"
        "3 check --fail-on-errors found continuity or transport errors.");
    const Command commands[] = {
        addDumpCommand(tool), addProgramsCommand(tool), addExtractCommand(tool),
        addPMTSurveyCommand(tool), addPMTSplitCommand(tool), addCheckCommand(tool), addEventsCommand(tool),
        addEpgCommand(tool),
    };
    if (argc > 1 && !knownFirstWord(argv[1], tool)) {
        std::fprintf(stderr, "rivulet-ts: unknown %s %s\nRun 'rivulet-ts --help' for usage.\n",
                     argv[1][0] == '-' ? "option" : "command", argv[1]);
        return kExitUsage;
    }
    try {
        tool.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return finishStandardOutput(tool.exit(error) == 0 ? kExitOk : kExitUsage);
    }
    for (const Command& command : commands) {
        if (!command.app->parsed()) continue;
        return finishStandardOutput(command.run());
    }
    return kExitUsage;
}
