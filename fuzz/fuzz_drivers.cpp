// Fuzz target: every file driver on the input written to a file. A private
// temporary folder holds the input and whatever the drivers write; it is
// emptied after each run. The dump writes into /dev/null.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "rivulet/ts.h"

namespace {

constexpr uint32_t kAllPrintFlags = TS_PRINT_PACKET | TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT |
                                    TS_PRINT_PRIVATE | TS_PRINT_EMM | TS_PRINT_ES | TS_PRINT_PIDLIST |
                                    TS_PRINT_PCR;
constexpr uint16_t kFallbackPMTPID = 0x0100;

std::string g_dir;
std::string g_input;

bool makeWorkDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/rivulet-fuzz-XXXXXX";
    char* made = ::mkdtemp(templ.data());
    if (!made) return false;
    g_dir = made;
    g_input = g_dir + "/in.ts";
    return true;
}

void emptyWorkDir() {
    DIR* dir = ::opendir(g_dir.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        ::unlink((g_dir + "/" + entry->d_name).c_str());
    }
    ::closedir(dir);
}

void writeInput(const uint8_t* data, size_t size) {
    int fd = ::open(g_input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) __builtin_trap();
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0) __builtin_trap();
        data += n;
        size -= size_t(n);
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rivulet::fuzz::discardStdout();
    if (!makeWorkDir()) {
        std::perror("fuzz_drivers: mkdtemp");
        std::exit(1);
    }
    std::atexit([] {
        emptyWorkDir();
        ::rmdir(g_dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeInput(data, size);
    const char* in = g_input.c_str();

    TS_ProgramSplitFile(in);
    TS_SplitOptions withSI{nullptr, nullptr, 0, 0, 1};
    TS_ProgramSplitFileWith(in, &withSI);
    TS_Print(in, kAllPrintFlags);
    std::fflush(stdout);

    static TS_ProgramList list;
    static TS_ServiceList services;
    std::memset(&list, 0, sizeof list);
    TS_GetProgramServices(&list, &services, in);
    if (list.u16Count > TS_PAT_MAX_PROGRAMS || services.u16Count > TS_PAT_MAX_PROGRAMS) __builtin_trap();
    uint16_t pmtPID = list.u16Count > 0 ? list.lu16PMTPID[0] : kFallbackPMTPID;
    TS_ProgramSplitStream((g_dir + "/extract.ts").c_str(), in, pmtPID);
    TS_ExtractOptions byNumber{1, uint16_t(list.u16Count > 0 ? list.lu16ProgramNumber[0] : 1), 0, 1};
    TS_ExtractProgram((g_dir + "/extract-si.ts").c_str(), in, &byNumber);

    static TS_PMTSplitData table;
    TS_CheckPMTSplit(&table, in);
    if (table.u16Count > TS_PMT_SPLIT_MAX_ENTRIES) __builtin_trap();
    TS_PMTSplitFile(in, 1, 0, nullptr);
    if (table.u16Count > 0) TS_PMTSplitFile(in, 0, table.ltEntry[0].u32PMTCRC, (g_dir + "/single.ts").c_str());

    emptyWorkDir();
    return 0;
}
