// Fuzz target: every file driver on the input written to a file, and the
// splitter fed the same bytes in chunks, which must write what the file split
// writes. A private temporary folder holds the input and whatever the drivers
// write; it is emptied after each run. The dump writes into /dev/null.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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
std::string g_whole;  // the file split's outputs
std::string g_fed;    // the same bytes fed to a splitter in chunks

bool makeWorkDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/rivulet-fuzz-XXXXXX";
    char* made = ::mkdtemp(templ.data());
    if (!made) return false;
    g_dir = made;
    g_input = g_dir + "/in.ts";
    g_whole = g_dir + "/whole";
    g_fed = g_dir + "/fed";
    return ::mkdir(g_whole.c_str(), 0700) == 0 && ::mkdir(g_fed.c_str(), 0700) == 0;
}

// The names of the files in `folder`, and calls fn(name) for each.
template <class Fn>
int forEachFile(const std::string& folder, Fn&& fn) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    int count = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (entry->d_type == DT_DIR) continue;
        fn(std::string(entry->d_name));
        ++count;
    }
    ::closedir(dir);
    return count;
}

void emptyFolder(const std::string& folder) {
    forEachFile(folder, [&](const std::string& name) { ::unlink((folder + "/" + name).c_str()); });
}

void emptyWorkDir() {
    emptyFolder(g_dir);
    emptyFolder(g_whole);
    emptyFolder(g_fed);
}

std::string contents(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char block[65536];
        for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.append(block, n);
        std::fclose(f);
    }
    return bytes;
}

// The splitter fed the input in chunks of sizes drawn from its first bytes
// writes what the file split writes, and returns the same status; so do
// clean starts, cuts at events and their margins, as the input's first byte
// asks (bit 0, 1 and 2).
void checkFedSplit(const uint8_t* data, size_t size, const char* in) {
    constexpr uint32_t kMarginMs = 1000;
    const uint8_t modes = size > 0 ? data[0] : 0;
    TS_SplitOptions whole{g_whole.c_str(), nullptr, 0, 0, 1, nullptr, nullptr, nullptr, nullptr};
    whole.u8CleanStart = modes & 1;
    whole.u8Events = (modes >> 1) & 1;
    whole.u32MarginBeforeMs = (modes >> 2) & 1 ? kMarginMs : 0;
    whole.u32MarginAfterMs = whole.u32MarginBeforeMs;
    TS_SplitOptions fed = whole;
    fed.strOutputDir = g_fed.c_str();
    int32_t wholeStatus = TS_ProgramSplitFileWith(in, &whole);
    TS_Splitter* splitter = TS_Splitter_Open(in, &fed);
    if (!splitter) __builtin_trap();
    for (size_t at = 0, k = 0; at < size; ++k) {
        size_t chunk = size_t(1) + (size > 0 ? data[k % size] : 0) * (k % 3 == 0 ? 1 : 61);
        if (chunk > size - at) chunk = size - at;
        TS_Splitter_Feed(splitter, data + at, chunk);
        at += chunk;
    }
    if (TS_Splitter_Close(splitter) != wholeStatus) __builtin_trap();
    int files = forEachFile(g_whole, [&](const std::string& name) {
        if (contents(g_whole + "/" + name) != contents(g_fed + "/" + name)) __builtin_trap();
    });
    if (files != forEachFile(g_fed, [](const std::string&) {})) __builtin_trap();
}

// A namer that names every file from the input's own bytes: whatever they
// hold, the files get safe names of at most 255 bytes in the folder.
struct HostileNames {
    const uint8_t* data;
    size_t size;
};

int32_t nameFromInput(void* user, const TS_OutputNameRequest* request, char* name, uint32_t size) {
    const HostileNames& input = *static_cast<const HostileNames*>(user);
    size_t length = input.size < 300 ? input.size : 300;
    size_t start = input.size > 0 ? request->u16ProgramNumber % input.size : 0;
    if (length > input.size - start) length = input.size - start;
    if (length >= size) length = size - 1;
    std::memcpy(name, input.data + start, length);
    name[length] = '\0';
    return 0;
}

// The service watch, fed in chunks, keeps within its records; a split named
// from hostile bytes writes safe names only.
void checkWatchAndNames(const uint8_t* data, size_t size, const char* in) {
    TS_ServiceWatch* watch = TS_ServiceWatch_Open();
    if (!watch) __builtin_trap();
    for (size_t at = 0, k = 0; at < size; ++k) {
        size_t chunk = size_t(1) + (size > 0 ? data[(k * 7) % size] : 0) * 13;
        if (chunk > size - at) chunk = size - at;
        TS_ServiceWatch_Feed(watch, data + at, chunk);
        at += chunk;
    }
    TS_ServiceWatch_End(watch);
    static uint16_t programs[TS_PAT_MAX_PROGRAMS];
    static TS_ServiceFacts facts;
    uint32_t count = TS_ServiceWatch_Programs(watch, programs, nullptr, TS_PAT_MAX_PROGRAMS);
    for (uint32_t i = 0; i < count && i < TS_PAT_MAX_PROGRAMS; ++i) {
        for (uint64_t offset : {uint64_t(0), uint64_t(size / 2), UINT64_MAX}) {
            if (TS_ServiceWatch_Facts(watch, programs[i], offset, &facts) != 0) continue;
            if (facts.u8StreamCount > TS_PMT_MAX_STREAMS || facts.u8Type > TS_SERVICE_DATA) __builtin_trap();
        }
    }
    TS_ServiceWatch_Settled(watch, TS_WATCH_NAMES | TS_WATCH_EVENT | TS_WATCH_TYPE | TS_WATCH_STREAMS);
    TS_ServiceWatch_Close(watch);

    HostileNames names{data, size};
    TS_SplitOptions named{g_whole.c_str(), nullptr, 0, 0, 0, nullptr, nullptr, nameFromInput, &names};
    TS_ProgramSplitFileWith(in, &named);
    forEachFile(g_whole, [](const std::string& name) {
        if (name.size() > TS_FILE_NAME_MAX || name[0] == '.') __builtin_trap();
        for (char c : name) {
            if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();
        }
    });
    emptyFolder(g_whole);
}

// The guide of the input: every event and service it keeps decodes within
// its record.
void checkGuide(const char* in) {
    TS_Guide* guide = nullptr;
    TS_ReadGuide(in, nullptr, &guide);
    static TS_EventInfo event;
    for (uint32_t i = 0; i < TS_Guide_EventCount(guide); ++i) {
        if (TS_Guide_Event(guide, i, &event) != 0) continue;
        if (event.u8ItemCount > TS_EVENT_MAX_ITEMS || event.u16ItemBytes > TS_EVENT_LONG_TEXT_SIZE ||
            event.u16ExtendedTextLength > TS_EVENT_LONG_TEXT_SIZE || event.u8GenreCount > TS_EVENT_MAX_GENRES) {
            __builtin_trap();
        }
    }
    TS_GuideService service;
    for (uint32_t i = 0; i < TS_Guide_ServiceCount(guide); ++i) TS_Guide_Service(guide, i, &service);
    TS_Guide_Free(guide);
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
        ::rmdir(g_whole.c_str());
        ::rmdir(g_fed.c_str());
        ::rmdir(g_dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeInput(data, size);
    const char* in = g_input.c_str();

    TS_ProgramSplitFile(in);
    checkFedSplit(data, size, in);
    checkWatchAndNames(data, size, in);
    checkGuide(in);
    static TS_CheckResult check;
    TS_CheckStream(&check, in, nullptr, nullptr);
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
