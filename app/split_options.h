// The options of rivulet, in one table: what the parser accepts, what each
// does to the split plan, and the lines --help gives it.
#ifndef RIVULET_SPLIT_OPTIONS_H
#define RIVULET_SPLIT_OPTIONS_H

#include <span>
#include <string>

#include "app/split_plan.h"

namespace rivulet {

enum class OptionTakes {
    Nothing,        // a flag
    Value,          // "-o DIR", "--output-dir DIR", "--output-dir=DIR"
    OptionalValue,  // "--follow" or "--follow=SECONDS", never a separate word
};

struct SplitOption {
    const char* shortName;  // "-o"; empty when the option has none
    const char* longName;   // "--output-dir"
    OptionTakes takes;
    const char* valueName;  // "DIR", as --help shows it; empty for a flag
    const char* missing;    // what a missing value is called: "missing folder after -o"
    const char* help;       // the description --help gives, its lines apart by '\n'
    // Applies `value` (a flag's: "true") to `command`; what is wrong with it,
    // empty when nothing is.
    std::string (*apply)(ParsedCommand& command, const std::string& value);
};

// Every option, in the order of --help.
std::span<const SplitOption> splitOptions();

}  // namespace rivulet

#endif
