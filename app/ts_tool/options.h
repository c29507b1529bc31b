// What the subcommands of rivulet-ts share: how a subcommand is registered,
// the number options (checked and parsed in one step), and the exit status
// of a driver's result.
#ifndef RIVULET_TS_TOOL_OPTIONS_H
#define RIVULET_TS_TOOL_OPTIONS_H

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "app/exit_status.h"
#include "rivulet/ts.h"

namespace rivulet::tool {

// A subcommand: its parser, bound at registration to the record of the
// subcommand's options, and its run, which owns that record and hands it to
// the subcommand once the command line is parsed.
struct Command {
    CLI::App* app;             // the subcommand's parser, owned by the tool's
    std::function<int()> run;  // the exit status
};

Command addDumpCommand(CLI::App& tool);
Command addProgramsCommand(CLI::App& tool);
Command addExtractCommand(CLI::App& tool);
Command addPMTSurveyCommand(CLI::App& tool);
Command addPMTSplitCommand(CLI::App& tool);
Command addCheckCommand(CLI::App& tool);
Command addEventsCommand(CLI::App& tool);
Command addEpgCommand(CLI::App& tool);

// In quotes, with quotes and backslashes escaped and control characters as
// \xHH, so that a name cannot move the terminal's cursor.
std::string quotedText(const std::string& text);

constexpr uint32_t kMaxPID = 0x1FFF;
// How long `programs` waits on live input for the tables it lists.
constexpr uint32_t kLiveListMs = 10000;

// The path of an input argument: "-" stands for standard input.
const char* inputPath(const std::string& argument);
constexpr uint32_t kMaxProgramNumber = 0xFFFF;

// Validators that reject a malformed number as a usage error and store the
// value of a well-formed one in `*value`.
CLI::Validator pidCheck(uint32_t* value);
CLI::Validator programNumberCheck(uint32_t* value);
// --drop's components (as rivulet's), and their bits for TS_ExtractOptions; --audio's languages.
CLI::Validator componentsCheck();
uint32_t componentsOf(const std::string& list);
CLI::Validator audioCheck();
CLI::Validator crcCheck(uint32_t* value);

// A failure a driver reports by its status alone, with the message the tool
// prints for it as "rivulet-ts: <input>: <message>".
struct SilentFailure {
    int32_t status;
    const char* message;
};

inline constexpr SilentFailure kPMTDriverFailures[] = {
    {TS_ERR_NOT_SINGLE_PROGRAM, "not a single-program stream: a PAT lists more than one program."},
};

// kExitOk for a status of 0 or more, the signal's status for an interrupted
// driver, else kExitFailed, after printing the
// message of `silent` that matches the status (the driver has printed the
// others itself).
int exitStatusOf(int32_t status, const char* path, std::span<const SilentFailure> silent = {});

}  // namespace rivulet::tool

#endif
