// rivulet: split multi-program MPEG-2 transport streams into one file per
// program, beside each input or in a folder of the user's choice.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/common/guarded_file.h"
#include "app/common/number.h"
#include "app/common/process.h"
#include "app/exit_status.h"
#include "app/follow.h"
#include "app/output_template.h"
#include "app/progress/progress_terminal.h"
#include "app/report.h"
#include "app/watched_split.h"
#include "rivulet/ts.h"

using rivulet::kExitFailed;
using rivulet::kExitOk;
using rivulet::kExitUsage;

namespace {

constexpr uint32_t kMaxProgramNumber = 0xFFFF;
constexpr uint32_t kDefaultFollowSeconds = 10;
constexpr uint32_t kMaxFollowSeconds = 86400 * 365;
constexpr uint32_t kMaxMarginSeconds = 3600;
constexpr size_t kFollowChunkSize = 1 << 20;
// The input name that stands for standard input, and the base name of its files.
constexpr const char* kStandardInput = "-";
constexpr const char* kStandardInputBase = "stdin";

void printBanner(FILE* out) {
    std::fputs("=== Rivulet === v" RIVULET_VERSION "\n", out);
    std::fputs("Split multi-program MPEG-2 TS file to one by one program files.\n", out);
    std::fputs("Usage: rivulet <input TS filename>\n", out);
}

void printHelp() {
    std::fputs("Rivulet " RIVULET_VERSION ": split multi-program MPEG-2 transport streams into one file per program.\n"
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
               "\n"
               "  -o, --output-dir DIR  write the files into DIR (which must exist), not beside\n"
               "                        the input\n"
               "  -p, --program N       write only program N (decimal or 0x-hexadecimal); may be\n"
               "                        given again for more programs\n"
               "  -s, --service NAME    write the programs of service NAME (case and blanks do not\n"
               "                        count; ATSC: short name or channel number, e.g. 7.1); may\n"
               "                        be given again. Each file is the one -p gives its program\n"
               "                        when the name is there from the start: the input is read\n"
               "                        ahead (up to 64 MiB or 10 s) until the names arrive\n"
               "  -t, --type LIST       write the programs of these types: tv,radio,data (from the\n"
               "                        service type, else from the PMT's streams; data over video\n"
               "                        is tv, over audio radio)\n"
               "  -n, --name TEMPLATE   name files from fields: {base} {program} {dup} {rev}\n"
               "                        {service} {provider} {type} {event} {event_id} {start}\n"
               "                        {end} {duration} (the event present when the file begins,\n"
               "                        its start and end, YYYYMMDD-HHMM, and its length, HHMM);\n"
               "                        each the value in force at the file's first packet, or the\n"
               "                        first to come; default {base}_{program}_{dup}_{rev}. '/' and\n"
               "                        control characters become '_'; a second file of one name\n"
               "                        gets -2, -3, ...\n"
               "      --si              each file also carries its own service information: its\n"
               "                        service's SDT and EIT, the TDT/TOT and the NIT, so that\n"
               "                        players show the channel name and the programme guide\n"
               "                        (without it: \"Program 3401\" and no guide)\n"
               "      --clean-start     each file begins where a decoder can: its PAT, its PMT (and\n"
               "                        with --si its SDT and EIT), then the video from its first\n"
               "                        random access point and every other stream from its next\n"
               "                        PES start; without one within 10 s, the file starts at its\n"
               "                        PMT, with a warning\n"
               "  -e, --events          a file per programme: each program's file is cut where its\n"
               "                        present event (EIT present/following) changes, at the next\n"
               "                        random access point, and opens there as --clean-start opens\n"
               "                        a file; default names gain _<event_id> (_none before the\n"
               "                        first known event)\n"
               "      --margin BEFORE[,AFTER]  with -e: each programme's file also begins BEFORE\n"
               "                        seconds before its cut and ends AFTER seconds (default:\n"
               "                        BEFORE) after the next, at random access points by the\n"
               "                        program's clock (PCR, else PTS); the packets in between go\n"
               "                        to both files\n"
               "  -b, --base NAME       name the files NAME_<program>_..., for a single input\n"
               "      --report FILE.json  write what each file holds: its program and service, its\n"
               "                        packets, PIDs and duration, the input bytes it took\n"
               "                        packets from and their continuity, transport and\n"
               "                        scrambling errors (also when stopped by a signal)\n"
               "      --follow[=SECONDS]  split a file that a recorder is still writing: at its\n"
               "                        end, wait for it to grow; stop once it has not grown for\n"
               "                        SECONDS (default 10; 0: only SIGINT or SIGTERM stops)\n"
               "  -h, --help            show this help\n"
               "      --version         show the version\n"
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
               "A file whose name begins with '-' is reached as ./-name.\n",
               stdout);
}

struct CommandLine {
    const char* outputDir = nullptr;
    const char* baseName = nullptr;
    std::vector<uint16_t> programs;
    rivulet::OutputTemplate nameTemplate;
    bool named = false;
    rivulet::ServiceChoice choice{};
    std::vector<const char*> inputs;
    bool serviceInformation = false;
    bool cleanStart = false;
    bool events = false;
    uint32_t marginBefore = 0;  // seconds
    uint32_t marginAfter = 0;
    bool follow = false;
    uint32_t followSeconds = kDefaultFollowSeconds;
    const char* reportPath = nullptr;
};

int usageError(const char* what, const char* arg) {
    std::fprintf(stderr, "rivulet: %s %s\n", what, arg);
    printBanner(stderr);
    return kExitUsage;
}

bool parseProgramNumber(const char* text, uint16_t* value) {
    uint32_t number = 0;
    if (!rivulet::parseNumber(text, 1, kMaxProgramNumber, &number)) return false;
    *value = uint16_t(number);
    return true;
}

// The value of option `arg` (long form `name`): "--name=value", or the next argument.
const char* optionValue(const char* arg, const char* name, int argc, char** argv, int* i) {
    size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) == 0 && arg[length] == '=') return arg + length + 1;
    return *i + 1 < argc ? argv[++*i] : nullptr;
}

bool isOption(const char* arg, const char* shortName, const char* longName) {
    size_t length = std::strlen(longName);
    return std::strcmp(arg, shortName) == 0 ||
           (std::strncmp(arg, longName, length) == 0 && (arg[length] == '\0' || arg[length] == '='));
}

// "tv,radio": a bit 1 << TS_SERVICE_... for each type named.
bool parseTypes(const char* text, uint32_t* types) {
    static constexpr struct {
        const char* name;
        uint8_t type;
    } kTypes[] = {{"tv", TS_SERVICE_TV}, {"radio", TS_SERVICE_RADIO}, {"data", TS_SERVICE_DATA}};
    std::string list = text;
    for (size_t at = 0; at <= list.size();) {
        size_t comma = std::min(list.find(',', at), list.size());
        std::string name = list.substr(at, comma - at);
        bool known = false;
        for (const auto& entry : kTypes) {
            if (name != entry.name) continue;
            *types |= 1u << entry.type;
            known = true;
        }
        if (!known) return false;
        at = comma + 1;
    }
    return true;
}

// -1 to go on, else the exit status of a usage error.
// "BEFORE" or "BEFORE,AFTER", whole seconds; one number is both.
bool parseMargins(std::string_view text, uint32_t* before, uint32_t* after) {
    size_t comma = text.find(',');
    if (!rivulet::parseNumber(text.substr(0, comma), 0, kMaxMarginSeconds, before)) return false;
    if (comma == std::string_view::npos) {
        *after = *before;
        return true;
    }
    return rivulet::parseNumber(text.substr(comma + 1), 0, kMaxMarginSeconds, after);
}

int parseOption(CommandLine& line, int argc, char** argv, int* i) {
    const char* arg = argv[*i];
    if (isOption(arg, "-o", "--output-dir")) {
        line.outputDir = optionValue(arg, "--output-dir", argc, argv, i);
        return line.outputDir ? -1 : usageError("missing folder after", arg);
    }
    if (isOption(arg, "-p", "--program")) {
        const char* value = optionValue(arg, "--program", argc, argv, i);
        uint16_t number = 0;
        if (!value) return usageError("missing program number after", arg);
        if (!parseProgramNumber(value, &number)) return usageError("not a program number from 1 to 65535:", value);
        line.programs.push_back(number);
        return -1;
    }
    if (isOption(arg, "-s", "--service")) {
        const char* value = optionValue(arg, "--service", argc, argv, i);
        if (!value) return usageError("missing service name after", arg);
        line.choice.services.push_back(value);
        return -1;
    }
    if (isOption(arg, "-t", "--type")) {
        const char* value = optionValue(arg, "--type", argc, argv, i);
        if (!value) return usageError("missing types after", arg);
        return parseTypes(value, &line.choice.u32Types) ? -1 : usageError("not a list of tv, radio, data:", value);
    }
    if (isOption(arg, "-n", "--name")) {
        const char* value = optionValue(arg, "--name", argc, argv, i);
        std::string error;
        if (!value) return usageError("missing template after", arg);
        if (!rivulet::parseTemplate(value, &line.nameTemplate, &error)) {
            return usageError("not a name field:", error.c_str());
        }
        line.named = true;
        return -1;
    }
    if (isOption(arg, "-b", "--base")) {
        line.baseName = optionValue(arg, "--base", argc, argv, i);
        return line.baseName && *line.baseName ? -1 : usageError("missing name after", arg);
    }
    if (isOption(arg, "--report", "--report")) {
        line.reportPath = optionValue(arg, "--report", argc, argv, i);
        return line.reportPath && *line.reportPath ? -1 : usageError("missing file after", arg);
    }
    if (isOption(arg, "--margin", "--margin")) {
        const char* value = optionValue(arg, "--margin", argc, argv, i);
        if (!value) return usageError("missing seconds after", arg);
        return parseMargins(value, &line.marginBefore, &line.marginAfter) ? -1
                                                                          : usageError("not seconds BEFORE[,AFTER]:", value);
    }
    if (std::strcmp(arg, "--follow") == 0) {
        line.follow = true;
        return -1;
    }
    if (std::strncmp(arg, "--follow=", 9) == 0) {
        line.follow = true;
        return rivulet::parseNumber(arg + 9, 0, kMaxFollowSeconds, &line.followSeconds)
                   ? -1
                   : usageError("not a number of seconds:", arg + 9);
    }
    return usageError("unknown option", arg);
}

// Feeds a regular file that a recorder may still be writing, chunk by
// chunk, until it has not grown for the time given, it shrinks (or is cut
// and written again), or a signal stops the split; then closes the splitter.
int32_t feedFollowed(TS_Splitter* splitter, int fd, const char* input, const CommandLine& line) {
    rivulet::FollowedInput followed;
    bool standardInput = std::strcmp(input, kStandardInput) == 0;
    rivulet::followStart(&followed, fd, standardInput ? nullptr : input, true, line.followSeconds);
    std::vector<uint8_t> chunk(kFollowChunkSize);
    for (;;) {
        size_t n = 0;
        rivulet::FollowRead read = rivulet::followRead(&followed, chunk.data(), chunk.size(), &n);
        if (read == rivulet::FollowRead::Data) {
            int32_t fed = TS_Splitter_Feed(splitter, chunk.data(), n);
            if (fed != 0) return TS_Splitter_Close(splitter);
            continue;
        }
        if (read == rivulet::FollowRead::Shrank) {
            std::fprintf(stderr, "Error: %s shrank while being followed.\n", TS_InputName(input));
        } else if (read == rivulet::FollowRead::Failed) {
            std::fprintf(stderr, "Error: Failed read %s.\n  %s\n", TS_InputName(input), std::strerror(errno));
        } else {
            return TS_Splitter_Close(splitter);  // the end, or a stop the close reports
        }
        TS_Splitter_Abandon(splitter);
        return TS_ERR_READ;
    }
}

// Feeds what `fd` delivers (a file, a pipe, a device; followed when asked)
// to the splitter and closes it; its status.
int32_t feedAndClose(TS_Splitter* splitter, int fd, const char* input, const CommandLine& line) {
    if (line.follow && rivulet::isRegularFile(fd)) return feedFollowed(splitter, fd, input, line);
    TS_Splitter_FeedFrom(splitter, fd);
    return TS_Splitter_Close(splitter);
}

// One input through a splitter of its own, read straight into its buffer:
// a file, standard input ("-"), a FIFO or a device. A choice of services or
// names from the service information goes through a watched split.
int32_t splitFile(const char* input, TS_SplitOptions options, const CommandLine& line,
                  rivulet::SplitReportFile& report) {
    bool standardInput = std::strcmp(input, kStandardInput) == 0;
    if (standardInput && !options.strBaseName) options.strBaseName = kStandardInputBase;
    // Opened first, so that options that cannot be met fail before any input is read.
    int32_t opened = 0;
    TS_Splitter* splitter = TS_Splitter_OpenWithStatus(input, &options, &opened);
    if (!splitter) return opened;
    int fd = standardInput ? STDIN_FILENO : ::open(input, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "Error: Failed open %s.\n  %s\n", input, std::strerror(errno));
        TS_Splitter_Abandon(splitter);
        return TS_ERR_OPEN_INPUT;
    }
    int32_t status = 0;
    if (rivulet::needsWatch(line.choice)) {
        TS_Splitter_Abandon(splitter);
        status = rivulet::splitWatched(input, fd, options, line.choice, report);
    } else if (!report.attach(splitter, input)) {
        TS_Splitter_Abandon(splitter);
        status = TS_ERR_NO_MEMORY;
    } else {
        status = feedAndClose(splitter, fd, input, line);
    }
    report.collect();
    if (!standardInput) ::close(fd);
    return status;
}

// The inputs of one command share a run: no split overwrites a file an
// earlier one wrote, nor an input it has yet to read.
int splitAll(const CommandLine& line) {
    TS_SplitRun* run = TS_SplitRun_Open();
    if (!run) {
        std::fputs("Error: Out of memory.\n", stderr);
        return kExitFailed;
    }
    for (const char* input : line.inputs) {
        // Standard input redirected from a file is protected as that file.
        TS_SplitRun_ProtectInput(run, std::strcmp(input, kStandardInput) == 0 ? "/dev/stdin" : input);
    }
    TS_SplitOptions options{line.outputDir, line.programs.data(), uint32_t(line.programs.size()), 0,
                            uint8_t(line.serviceInformation ? 1 : 0), run, line.baseName, nullptr, nullptr};
    options.u8CleanStart = uint8_t(line.cleanStart ? 1 : 0);
    options.u8Events = uint8_t(line.events ? 1 : 0);
    options.u32MarginBeforeMs = line.marginBefore * 1000;
    options.u32MarginAfterMs = line.marginAfter * 1000;
    // A template of the split's own fields needs no service information.
    if (line.named && !rivulet::needsWatch(line.choice)) {
        options.pfNamer = rivulet::nameFromTemplate;
        options.pNamerUser = const_cast<rivulet::OutputTemplate*>(&line.nameTemplate);
    }
    int status = kExitOk;
    bool stopped = false;
    rivulet::SplitReportFile report(line.reportPath);
    for (const char* input : line.inputs) {
        rivulet::progressStartOnTerminal();
        int32_t result = splitFile(input, options, line, report);
        rivulet::progressStop();
        if (result == TS_ERR_INTERRUPTED) {
            stopped = true;
            status = rivulet::interruptedExitStatus();
            break;
        }
        if (result < 0) status = kExitFailed;
    }
    bool reported = report.write(!stopped, line.inputs, run);
    TS_SplitRun_Close(run);
    return reported ? status : kExitFailed;
}

// 0 for a folder, else why it is none (an errno value).
int folderError(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace

int main(int argc, char** argv) {
    rivulet::prepareProcess();
    if (argc < 2) {
        printBanner(stdout);
        return rivulet::finishStandardOutput(kExitOk);
    }
    CommandLine line;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!options || arg[0] != '-' || arg[1] == '\0') {
            line.inputs.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            printHelp();
            return rivulet::finishStandardOutput(kExitOk);
        } else if (std::strcmp(arg, "--si") == 0) {
            line.serviceInformation = true;
        } else if (std::strcmp(arg, "--clean-start") == 0) {
            line.cleanStart = true;
        } else if (std::strcmp(arg, "-e") == 0 || std::strcmp(arg, "--events") == 0) {
            line.events = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::puts("rivulet " RIVULET_VERSION);
            return rivulet::finishStandardOutput(kExitOk);
        } else if (int usage = parseOption(line, argc, argv, &i); usage >= 0) {
            return usage;
        }
    }
    if (line.inputs.empty()) {
        std::fputs("rivulet: no input file\n", stderr);
        printBanner(stderr);
        return kExitUsage;
    }
    if ((line.marginBefore || line.marginAfter) && !line.events) {
        std::fputs("rivulet: --margin is for the files of -e\n", stderr);
        printBanner(stderr);
        return kExitUsage;
    }
    if (line.baseName && line.inputs.size() > 1) {
        std::fputs("rivulet: --base names the files of a single input\n", stderr);
        printBanner(stderr);
        return kExitUsage;
    }
    // A missing output folder fails every input alike: say so once, write nothing.
    if (int error = line.outputDir ? folderError(line.outputDir) : 0) {
        std::fprintf(stderr, "Error: Failed open %s.\n  the output folder: %s\n", line.outputDir, std::strerror(error));
        return kExitFailed;
    }
    // A report that would replace an input, or write through a link, is refused before anything is read.
    if (line.reportPath && !rivulet::mayWriteAt(line.reportPath, line.inputs, nullptr)) {
        std::fprintf(stderr, "Error: Failed open %s.\n", line.reportPath);
        return kExitFailed;
    }
    if (line.named) line.choice.pName = &line.nameTemplate;
    line.choice.follow = line.follow;
    line.choice.u32FollowSeconds = line.followSeconds;
    return splitAll(line);
}
