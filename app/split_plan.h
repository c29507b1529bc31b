// The split job that a rivulet command line asks for, made once from the
// arguments and then executed; or what the command answers instead (its
// banner, help, version, or a usage error).
#ifndef RIVULET_SPLIT_PLAN_H
#define RIVULET_SPLIT_PLAN_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/output_template.h"

namespace rivulet {

constexpr uint32_t kDefaultFollowSeconds = 10;

struct SplitPlan {
    std::vector<std::string> inputs;           // "-" stands for standard input
    std::optional<std::string> outputDir;      // -o; none: beside each input
    std::vector<uint16_t> programs;            // -p
    std::vector<std::string> services;         // -s: service names or virtual channel numbers
    uint32_t types = 0;                        // -t: bit 1 << TS_SERVICE_... for each type
    std::optional<OutputTemplate> name;        // -n; none: the default names
    bool serviceInformation = false;           // --si
    bool cleanStart = false;                   // --clean-start
    bool events = false;                       // -e
    uint32_t marginBeforeSeconds = 0;          // --margin
    uint32_t marginAfterSeconds = 0;
    std::optional<std::string> baseName;       // -b
    bool follow = false;                       // --follow
    uint32_t followSeconds = kDefaultFollowSeconds;
    std::optional<std::string> reportPath;     // --report
    uint32_t dropComponents = 0;               // --drop: bit 1 << TS_COMPONENT_... for each
    std::optional<std::string> audio;          // --audio: "first" or ISO 639-2 codes
    uint8_t stable = 0;                        // --stable: TS_STABLE_SHAPE, or TS_STABLE_REMAP
    uint32_t writerThreads = 0;                // -j; 0: one per core
    uint8_t failOn = 0;                        // --fail-on: TS_DAMAGE_ bits
    uint32_t sidecars = 0;                     // --sidecar: kSidecar... bits
};

enum class CommandRequest { Split, Banner, Help, Version, UsageError };

struct ParsedCommand {
    CommandRequest request = CommandRequest::Split;
    SplitPlan plan;          // for Split
    std::string usageError;  // for UsageError: what is wrong, one line
};

// Reads the arguments as the options and inputs of --help; the first
// error, in the order given, makes a usage error.
ParsedCommand parseCommandLine(int argc, const char* const* argv);

}  // namespace rivulet

#endif
