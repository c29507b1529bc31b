// rivulet: split multi-program MPEG-2 transport streams into one file per
// program, beside each input or in a folder of the user's choice.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/common/number.h"
#include "app/common/process.h"
#include "app/exit_status.h"
#include "app/progress/progress_terminal.h"
#include "rivulet/ts.h"

using rivulet::kExitFailed;
using rivulet::kExitOk;
using rivulet::kExitUsage;

namespace {

constexpr uint32_t kMaxProgramNumber = 0xFFFF;

void printBanner(FILE* out) {
    std::fputs("=== Rivulet === v1.00\n", out);
    std::fputs("Split multi-program MPEG-2 TS file to one by one program files.\n", out);
    std::fputs("Usage: rivulet <input TS filename>\n", out);
}

void printHelp() {
    printBanner(stdout);
    std::fputs("       rivulet [-o DIR] [-p N]... [--si] INPUT...\n"
               "\n"
               "For an input DIR/NAME.EXT, writes DIR/NAME_<program>_<duplicate>_<revision>.ts for\n"
               "every program that the stream's PAT announces:\n"
               "  program    the program number;\n"
               "  duplicate  0, or 1, 2, ... when one PAT lists the same program number again;\n"
               "  revision   0, counting up each time the program leaves the PAT and returns.\n"
               "Each file starts every PAT of the input with a rebuilt PAT of that one program and\n"
               "holds the program's PMT, PCR, conditional-access and elementary-stream packets,\n"
               "unchanged and in input order. Existing files of these names are overwritten.\n"
               "M2TS input (192-byte packets, Blu-ray and AVCHD) gives .m2ts files that keep each\n"
               "packet's 4-byte header; 204-byte packets are written without their parity bytes.\n"
               "Several inputs are split in turn; a failure of one does not stop the others.\n"
               "\n"
               "Exit status: 0 success, 1 a split failed (the message says why), 2 usage error,\n"
               "130 or 143 stopped by SIGINT or SIGTERM (every file then holds whole packets).\n"
               "While it runs, a terminal on standard error shows the share of the input read\n"
               "and the speed.\n"
               "\n"
               "  -o, --output-dir DIR  write the files into DIR (which must exist), not beside\n"
               "                        the input\n"
               "  -p, --program N       write only program N (decimal or 0x-hexadecimal); may be\n"
               "                        given again for more programs\n"
               "      --si              each file also carries its own service information: its\n"
               "                        service's SDT and EIT, the TDT/TOT and the NIT, so that\n"
               "                        players show the channel name and the programme guide\n"
               "                        (without it: \"Program 3401\" and no guide)\n"
               "  -h, --help            show this help\n"
               "      --version         show the version\n"
               "Examples:\n"
               "  rivulet rec.ts                     rec_<program>_0_0.ts beside rec.ts\n"
               "  rivulet -o /tmp/out /media/dvd/*.ts  every recording, split into /tmp/out\n"
               "  rivulet -p 3401 -p 3402 mux.ts     only programs 3401 and 3402\n"
               "  rivulet --si rec.ts                with channel names and programme guide\n"
               "A file whose name begins with '-' is reached as ./-name.\n",
               stdout);
}

struct CommandLine {
    const char* outputDir = nullptr;
    std::vector<uint16_t> programs;
    std::vector<const char*> inputs;
    bool serviceInformation = false;
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

// -1 to go on, else the exit status of a usage error.
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
    return usageError("unknown option", arg);
}

// One input through a splitter of its own, read straight into its buffer.
int32_t splitFile(const char* input, const TS_SplitOptions& options) {
    TS_Splitter* splitter = TS_Splitter_Open(input, &options);
    if (!splitter) return -1;
    int fd = ::open(input, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "Error: Failed open %s.\n", input);
        TS_Splitter_Abandon(splitter);
        return TS_ERR_OPEN_INPUT;
    }
    TS_Splitter_FeedFrom(splitter, fd);
    int32_t status = TS_Splitter_Close(splitter);
    ::close(fd);
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
    for (const char* input : line.inputs) TS_SplitRun_ProtectInput(run, input);
    TS_SplitOptions options{line.outputDir, line.programs.data(), uint32_t(line.programs.size()), 0,
                            uint8_t(line.serviceInformation ? 1 : 0), run};
    int status = kExitOk;
    for (const char* input : line.inputs) {
        rivulet::progressStartOnTerminal();
        int32_t result = splitFile(input, options);
        rivulet::progressStop();
        if (result == TS_ERR_INTERRUPTED) {
            status = rivulet::interruptedExitStatus();
            break;
        }
        if (result < 0) status = kExitFailed;
    }
    TS_SplitRun_Close(run);
    return status;
}

bool isFolder(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
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
        if (!options || arg[0] != '-') {
            line.inputs.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            printHelp();
            return rivulet::finishStandardOutput(kExitOk);
        } else if (std::strcmp(arg, "--si") == 0) {
            line.serviceInformation = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::puts("rivulet 1.00");
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
    // A missing output folder fails every input alike: say so once, write nothing.
    if (line.outputDir && !isFolder(line.outputDir)) {
        std::fprintf(stderr, "Error: Failed open %s.\n", line.outputDir);
        return kExitFailed;
    }
    return splitAll(line);
}
