// rivulet: split a multi-program MPEG-2 transport stream into one file per
// program, beside the input.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "app/exit_status.h"
#include "app/progress/progress_terminal.h"
#include "rivulet/ts.h"

using rivulet::kExitFailed;
using rivulet::kExitOk;
using rivulet::kExitUsage;

namespace {

void printBanner(FILE* out) {
    std::fputs("=== Rivulet === v1.00\n", out);
    std::fputs("Split multi-program MPEG-2 TS file to one by one program files.\n", out);
    std::fputs("Usage: rivulet <input TS filename>\n", out);
}

void printHelp() {
    printBanner(stdout);
    std::fputs("\n"
               "For an input DIR/NAME.EXT, writes DIR/NAME_<program>_<duplicate>_<revision>.ts for\n"
               "every program that the stream's PAT announces:\n"
               "  program    the program number;\n"
               "  duplicate  0, or 1, 2, ... when one PAT lists the same program number again;\n"
               "  revision   0, counting up each time the program leaves the PAT and returns.\n"
               "Each file starts every PAT of the input with a rebuilt PAT of that one program and\n"
               "holds the program's PMT, PCR, conditional-access and elementary-stream packets,\n"
               "unchanged and in input order. Existing files of these names are overwritten.\n"
               "\n"
               "Exit status: 0 success, 1 the split failed (the message says why), 2 usage error.\n"
               "While it runs, a terminal on standard error shows the share of the input read\n"
               "and the speed.\n"
               "\n"
               "  -h, --help     show this help\n"
               "      --version  show the version\n"
               "A file whose name begins with '-' is reached as ./-name.\n",
               stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit must surface as a failed write, not kill the process
    // before it can report and close its files.
    ::signal(SIGXFSZ, SIG_IGN);
    if (argc < 2) {
        printBanner(stdout);
        return kExitOk;
    }
    const char* arg = argv[1];
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
        printHelp();
        return kExitOk;
    }
    if (std::strcmp(arg, "--version") == 0) {
        std::puts("rivulet 1.00");
        return kExitOk;
    }
    if (arg[0] == '-') {
        std::fprintf(stderr, "rivulet: unknown option %s\n", arg);
        printBanner(stderr);
        return kExitUsage;
    }
    rivulet::progressStartOnTerminal();
    int32_t status = TS_ProgramSplitFile(arg);
    rivulet::progressStop();
    return status < 0 ? kExitFailed : kExitOk;
}
