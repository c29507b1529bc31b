#include "app/split_help.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/common/process.h"
#include "app/exit_status.h"
#include "app/split_options.h"

namespace rivulet {
namespace {

// Where the descriptions of --help's option list begin.
constexpr size_t kDescriptionColumn = 24;
constexpr size_t kMinGap = 2;

constexpr char kBanner[] =
    "=== Rivulet === v" RIVULET_VERSION "\n"
    "Split multi-program MPEG-2 TS file to one by one program files.\n"
    "Usage: rivulet <input TS filename>\n";

constexpr char kHelpIntroduction[] =
    "Rivulet " RIVULET_VERSION ": split multi-program MPEG-2 transport streams into one file per program.\n"
    "Usage: rivulet [-o DIR] [-p N]... [-s NAME]... [-t TYPES] [-n TEMPLATE] [--si] [--clean-start]\n"
    "               [-e [--margin BEFORE[,AFTER]]] [-b NAME] [--follow[=SECONDS]] [--report FILE.json]\n"
    "               INPUT...\n"
    "\n"
    "For an input DIR/NAME.EXT, writes DIR/NAME_<program>_<duplicate>_<revision>.ts for\n"
    "every program that the stream's PAT announces:\n"
    "  program    the program number;\n"
    "  duplicate  0, or 1, 2, ... when one PAT lists the same program number again;\n"
    "  revision   0, counting up each time the program leaves the PAT and returns.\n"
    "Each file starts every PAT of the input with a rebuilt PAT of that one program and\n"
    "holds the program's PMT, PCR, conditional-access and elementary-stream packets,\n"
    "unchanged and in input order. Existing files of these names are overwritten,\n"
    "but never an input of the same command.\n"
    "INPUT may be - (standard input: files stdin_...), a FIFO or a device such as a\n"
    "tuner's /dev/dvb/adapter0/dvr0; their files go into the current folder. The\n"
    "packets received are in the files at once, always as whole packets.\n"
    "M2TS input (192-byte packets, Blu-ray and AVCHD) gives .m2ts files that keep each\n"
    "packet's 4-byte header; 204-byte packets are written without their parity bytes.\n"
    "Several inputs are split in turn; a failure of one does not stop the others.\n"
    "\n"
    "Exit status: 0 success, 1 a split failed (the message says why), 2 usage error,\n"
    "130 or 143 stopped by SIGINT or SIGTERM (every file then holds whole packets).\n"
    "While it runs, a terminal on standard error shows the share of the input read\n"
    "(or, for live input, the bytes read and the time elapsed) and the speed.\n"
    "\n";

constexpr char kHelpExamples[] =
    "Examples:\n"
    "  rivulet rec.ts                     rec_<program>_0_0.ts beside rec.ts\n"
    "  rivulet -o /tmp/out /media/dvd/*.ts  every recording, split into /tmp/out\n"
    "  rivulet -p 3401 -p 3402 mux.ts     only programs 3401 and 3402\n"
    "  rivulet --si rec.ts                with channel names and programme guide\n"
    "  rivulet --clean-start rec.ts       files that play from their first packet\n"
    "  rivulet -e -n \"{service} {start} {event}\" rec.ts   a file per programme:\n"
    "                                     'Rai 1 20220116-0955 Tg1.ts'\n"
    "  rivulet -s \"Rai 1\" -n \"{service} {start}\" rec.ts   'Rai 1 20220116-0955.ts'\n"
    "  rivulet -t tv,radio mux.ts         every television and radio program\n"
    "  dvbv5-zap -c dvb.conf -o - \"Rai 1\" | rivulet -o /rec -b news -\n"
    "                                     a recorder's pipe: /rec/news_<program>_0_0.ts\n"
    "  rivulet /dev/dvb/adapter0/dvr0     a tuner, until SIGINT: dvr0_<program>_0_0.ts\n"
    "  rivulet --follow=30 rec.ts         a recording still being written\n"
    "A file whose name begins with '-' is reached as ./-name.\n";

// "  -o, --output-dir DIR", "      --follow[=SECONDS]".
std::string optionLabel(const SplitOption& option) {
    std::string label = "  ";
    label += *option.shortName ? option.shortName : "  ";
    label += *option.shortName ? ", " : "  ";
    label += option.longName;
    if (option.takes == OptionTakes::Value) label.append(" ").append(option.valueName);
    if (option.takes == OptionTakes::OptionalValue) label.append("[=").append(option.valueName).append("]");
    return label;
}

// Each option's label, then its description from kDescriptionColumn on.
std::string optionList() {
    std::string list;
    for (const SplitOption& option : splitOptions()) {
        std::string label = optionLabel(option);
        list += label + std::string(std::max(kMinGap, kDescriptionColumn - std::min(label.size(), kDescriptionColumn)), ' ');
        for (const char* c = option.help; *c; ++c) {
            list += *c;
            if (*c == '\n') list += std::string(kDescriptionColumn, ' ');
        }
        list += '\n';
    }
    return list;
}

}  // namespace

int printAnswer(const ParsedCommand& command) {
    switch (command.request) {
    case CommandRequest::Banner: std::fputs(kBanner, stdout); break;
    case CommandRequest::Help: std::fputs((kHelpIntroduction + optionList() + kHelpExamples).c_str(), stdout); break;
    case CommandRequest::Version: std::puts("rivulet " RIVULET_VERSION); break;
    case CommandRequest::UsageError:
        std::fprintf(stderr, "rivulet: %s\nRun 'rivulet --help' for usage.\n", command.usageError.c_str());
        return kExitUsage;
    case CommandRequest::Split: break;
    }
    return finishStandardOutput(kExitOk);
}

}  // namespace rivulet
