// CLI11 reads the words of the command line; the options' own table says
// what each does. The options are applied in the order given, so that the
// first wrong one is reported and --help acts where it stands; an unknown
// option, which CLI11 keeps apart from that order, is reported before them.
#include "app/split_plan.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <string_view>
#include <vector>

#include "app/near_miss.h"
#include "app/split_options.h"

namespace rivulet {
namespace {

// A CLI11 option and the entry of the table it stands for.
struct Registered {
    const CLI::Option* parsed;
    const SplitOption* option;
    size_t applied = 0;  // of its results
};

ParsedCommand usageError(std::string what) {
    ParsedCommand command;
    command.request = CommandRequest::UsageError;
    command.usageError = std::move(what);
    return command;
}

// "unknown option --clean-strat (did you mean --clean-start?)".
ParsedCommand unknownOption(const std::string& word) {
    std::vector<std::string_view> names;
    for (const SplitOption& option : splitOptions()) names.push_back(std::string_view(option.longName).substr(2));
    std::string_view name = std::string_view(word).substr(0, word.find('='));
    std::string_view meant = nearMiss(name.substr(std::min(name.find_first_not_of('-'), name.size())), names);
    if (meant.empty()) return usageError("unknown option " + word);
    return usageError("unknown option " + word + " (did you mean --" + std::string(meant) + "?)");
}

std::vector<Registered> registerOptions(CLI::App& app) {
    std::vector<Registered> registered;
    for (const SplitOption& option : splitOptions()) {
        std::string names = *option.shortName ? std::string(option.shortName) + "," + option.longName : option.longName;
        // A flag's default value "{}" is empty: "--follow" apart from "--follow=SECONDS".
        if (option.takes == OptionTakes::OptionalValue) names += "{}";
        CLI::Option* added = option.takes == OptionTakes::Value ? app.add_option(names) : app.add_flag(names);
        registered.push_back({added, &option});
    }
    return registered;
}

// The value is missing of the option that ends the command line (`last`,
// "-p", "--program", or the end of a cluster of short options, "-ep").
ParsedCommand missingValue(const std::string& last, const std::string& parserMessage) {
    bool isLong = last.rfind("--", 0) == 0;
    std::string name = isLong ? last.substr(0, last.find('=')) : "-" + last.substr(last.size() - 1);
    for (const SplitOption& option : splitOptions()) {
        if (name != (isLong ? option.longName : option.shortName)) continue;
        return usageError("missing " + std::string(option.missing) + " after " + last);
    }
    return usageError(parserMessage);
}

// The words no option took: inputs, and before "--" the unknown options (any
// word but "-" that begins with '-').
ParsedCommand takeInputs(const std::vector<std::string>& words, ParsedCommand command) {
    bool optionsEnded = false;
    for (const std::string& word : words) {
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            return unknownOption(word);
        } else {
            command.plan.inputs.push_back(word);
        }
    }
    return command;
}

// Each option given, in order; stops at --help, --version or an error.
ParsedCommand applyOptions(const CLI::App& app, std::vector<Registered>& registered, ParsedCommand command) {
    for (const CLI::Option* parsed : app.parse_order()) {
        auto entry = std::find_if(registered.begin(), registered.end(),
                                  [parsed](const Registered& r) { return r.parsed == parsed; });
        const std::string& value = parsed->results()[entry->applied++];
        // "--si=1": a flag has no value of its own.
        if (entry->option->takes == OptionTakes::Nothing && value != "true") {
            return usageError(std::string(entry->option->longName) + " takes no value");
        }
        std::string wrong = entry->option->apply(command, value);
        if (!wrong.empty()) return usageError(wrong);
        if (command.request != CommandRequest::Split) return command;
    }
    return command;
}

// What the options ask of each other and of the inputs.
ParsedCommand checkPlan(ParsedCommand command) {
    const SplitPlan& plan = command.plan;
    if (plan.inputs.empty()) return usageError("no input file");
    if ((plan.marginBeforeSeconds || plan.marginAfterSeconds) && !plan.events) {
        return usageError("--margin is for the files of -e");
    }
    if (plan.baseName && plan.inputs.size() > 1) return usageError("--base names the files of a single input");
    return command;
}

}  // namespace

ParsedCommand parseCommandLine(int argc, const char* const* argv) {
    ParsedCommand command;
    if (argc < 2) {
        command.request = CommandRequest::Banner;
        return command;
    }
    CLI::App app("", "rivulet");
    app.set_help_flag();  // -h and --help are options of the table
    app.allow_extras();   // inputs and unknown options, for takeInputs
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    std::vector<Registered> registered = registerOptions(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ArgumentMismatch& error) {
        return missingValue(argv[argc - 1], error.what());
    } catch (const CLI::ParseError& error) {
        return usageError(error.what());
    }
    command = takeInputs(app.remaining(), std::move(command));
    if (command.request != CommandRequest::Split) return command;
    command = applyOptions(app, registered, std::move(command));
    if (command.request != CommandRequest::Split) return command;
    return checkPlan(std::move(command));
}

}  // namespace rivulet
