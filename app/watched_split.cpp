#include "app/watched_split.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "app/common/process.h"
#include "app/follow.h"

namespace rivulet {
namespace {

constexpr size_t kChunkSize = 1 << 20;

struct WatchedRun {
    WatchedRun(const char* in, const char* b, int f, const TS_SplitOptions& o, const ServiceChoice& c,
               SplitReportFile& r)
        : input(in), base(b), fd(f), options(o), choice(c), report(r) {}
    const char* input;
    const char* base;
    int fd;
    TS_SplitOptions options;
    const ServiceChoice& choice;
    SplitReportFile& report;
    TS_ServiceWatch* watch = nullptr;
    TS_Splitter* splitter = nullptr;
    std::vector<uint8_t> held;
    std::vector<uint16_t> programs;
    std::vector<bool> matched;  // of each service asked for
    bool nothingChosen = false;
    int32_t status = 0;
};

uint32_t choiceNeeds(const ServiceChoice& choice) {
    uint32_t needs = choice.pName ? choice.pName->u32Needs : 0;
    if (!choice.services.empty()) needs |= TS_WATCH_NAMES;
    if (choice.u32Types) needs |= TS_WATCH_TYPE;
    return needs;
}

// What the watch knows of `program` at `offset`, as text; false when nothing.
bool textsAt(const WatchedRun& run, uint16_t program, uint64_t offset, tool::ServiceTexts* texts) {
    static thread_local TS_ServiceFacts facts;
    if (TS_ServiceWatch_Facts(run.watch, program, offset, &facts) != 0) return false;
    *texts = tool::serviceTexts(facts);
    return true;
}

int32_t nameFile(void* user, const TS_OutputNameRequest* request, char* name, uint32_t size) {
    const WatchedRun& run = *static_cast<const WatchedRun*>(user);
    tool::ServiceTexts texts;
    bool known = textsAt(run, request->u16ProgramNumber, request->u64InputOffset, &texts);
    std::string text = expandTemplate(*run.choice.pName, *request, known ? &texts : nullptr);
    std::snprintf(name, size, "%s", text.c_str());
    return 0;
}

bool chosen(WatchedRun& run, uint16_t program) {
    bool chosen = false;
    // The service as it began, and as it is now: a renamed one answers to both.
    for (uint64_t offset : {uint64_t(0), UINT64_MAX}) {
        tool::ServiceTexts texts;
        if (!textsAt(run, program, offset, &texts)) break;
        for (size_t i = 0; i < run.choice.services.size(); ++i) {
            if (!tool::namesService(texts, run.choice.services[i])) continue;
            run.matched[i] = true;
            chosen = true;
        }
    }
    TS_ServiceFacts facts;
    if (TS_ServiceWatch_Facts(run.watch, program, 0, &facts) == 0 && (run.choice.u32Types >> facts.u8Type & 1)) {
        chosen = true;
    }
    return chosen;
}

// The programs asked for by number, and those the services and types name.
void choosePrograms(WatchedRun& run) {
    if (run.choice.services.empty() && !run.choice.u32Types) return;
    uint16_t listed[TS_PAT_MAX_PROGRAMS];
    uint32_t count = std::min(TS_ServiceWatch_Programs(run.watch, listed, nullptr, TS_PAT_MAX_PROGRAMS),
                              TS_PAT_MAX_PROGRAMS);
    for (uint32_t i = 0; i < count; ++i) {
        bool known = std::find(run.programs.begin(), run.programs.end(), listed[i]) != run.programs.end();
        if (chosen(run, listed[i]) && !known) run.programs.push_back(listed[i]);
    }
    run.nothingChosen = run.programs.empty();
    run.options.lu16Programs = run.programs.data();
    run.options.u32ProgramCount = uint32_t(run.programs.size());
}

bool feedSplitter(WatchedRun& run, const uint8_t* bytes, size_t size) {
    int32_t fed = TS_Splitter_Feed(run.splitter, bytes, size);
    return fed == 0;
}

// Splits what is held: at the first release, once the programs are chosen.
bool release(WatchedRun& run, bool settled) {
    if (!settled) TS_ServiceWatch_GiveUp(run.watch);
    if (!run.splitter) {
        choosePrograms(run);
        if (run.nothingChosen) return false;
        run.splitter = TS_Splitter_Open(run.base, &run.options);
        if (!run.splitter) {
            run.status = TS_ERR_OPEN_OUTPUT;
            return false;
        }
        if (!run.report.attach(run.splitter, run.input)) {
            TS_Splitter_Abandon(run.splitter);
            run.splitter = nullptr;
            run.status = TS_ERR_NO_MEMORY;
            return false;
        }
    }
    bool fed = feedSplitter(run, run.held.data(), run.held.size());
    run.held.clear();
    return fed;
}

// Takes bytes read: held while the service information is not yet settled,
// else split at once. False when the split cannot go on.
bool take(WatchedRun& run, const uint8_t* bytes, size_t size, uint32_t needs) {
    if (TS_ServiceWatch_Feed(run.watch, bytes, size) != 0) return false;
    bool settled = needs == 0 || TS_ServiceWatch_Settled(run.watch, needs);
    if (run.splitter && run.held.empty() && settled) return feedSplitter(run, bytes, size);
    // Reserved whole: growing by copies would copy the held bytes again and
    // again; untouched pages cost nothing.
    if (run.held.capacity() == 0) run.held.reserve(kMaxHeldBytes + kChunkSize);
    run.held.insert(run.held.end(), bytes, bytes + size);
    if (settled || run.held.size() >= kMaxHeldBytes) return release(run, settled);
    return true;
}

bool isRegularFile(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

enum class ReadEnd { End, Stopped, Failed, Shrank, SplitEnded };

// Reads the input to its end (or, followed, until it stops growing).
ReadEnd readAll(WatchedRun& run) {
    std::vector<uint8_t> chunk(kChunkSize);
    const bool follow = run.choice.follow && isRegularFile(run.fd);
    for (;;) {
        // Before the splitter opens, the programs are chosen; after, only new files wait.
        uint32_t needs = choiceNeeds(run.choice);
        if (run.splitter) needs = run.choice.pName ? run.choice.pName->u32Needs : 0;
        ssize_t n = ::read(run.fd, chunk.data(), chunk.size());
        if (stopRequested()) return ReadEnd::Stopped;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadEnd::Failed;
        if (n > 0) {
            if (!take(run, chunk.data(), size_t(n), needs)) return ReadEnd::SplitEnded;
            continue;
        }
        if (!follow) return ReadEnd::End;
        Growth growth = waitForGrowth(run.fd, run.input, uint64_t(::lseek(run.fd, 0, SEEK_CUR)),
                                      run.choice.u32FollowSeconds);
        if (growth == Growth::Idle) return ReadEnd::End;
        if (growth == Growth::Shrank) return ReadEnd::Shrank;
        if (growth == Growth::Stopped) return ReadEnd::Stopped;
    }
}

int32_t reportUnmatched(const WatchedRun& run) {
    int32_t status = 0;
    for (size_t i = 0; i < run.choice.services.size(); ++i) {
        if (run.matched[i]) continue;
        std::fprintf(stderr, "Error: no service \"%s\" in %s.\n", run.choice.services[i].c_str(), run.input);
        status = TS_ERR_NO_PROGRAM;
    }
    return status;
}

int32_t finish(WatchedRun& run, ReadEnd end) {
    if (end == ReadEnd::Shrank) {
        std::fprintf(stderr, "Error: %s shrank while being followed.\n", run.input);
        if (run.splitter) TS_Splitter_Abandon(run.splitter);
        return TS_ERR_READ;
    }
    if (end == ReadEnd::End) {
        TS_ServiceWatch_End(run.watch);
        if (!run.splitter || !run.held.empty()) release(run, TS_ServiceWatch_Settled(run.watch, choiceNeeds(run.choice)));
    }
    if (end == ReadEnd::Failed) std::fprintf(stderr, "Error: Failed read %s.\n", run.input);
    int32_t closed = run.splitter ? TS_Splitter_Close(run.splitter) : 0;
    if (end == ReadEnd::Failed) return TS_ERR_READ;
    if (end == ReadEnd::Stopped || stopRequested()) {
        // Stopped while the input was held back for names: no file begun.
        if (!run.splitter) std::fputs("Interrupted: outputs hold the input up to byte 0.\n", stderr);
        return TS_ERR_INTERRUPTED;
    }
    int32_t status = run.status != 0 ? run.status : closed;
    int32_t unmatched = reportUnmatched(run);
    return status != 0 ? status : unmatched;
}

}  // namespace

bool needsWatch(const ServiceChoice& choice) { return choiceNeeds(choice) != 0; }

int32_t splitWatched(const char* input, const char* base, int fd, const TS_SplitOptions& options,
                     const ServiceChoice& choice, SplitReportFile& report) {
    WatchedRun run(input, base, fd, options, choice, report);
    run.programs.assign(options.lu16Programs, options.lu16Programs + options.u32ProgramCount);
    run.matched.assign(choice.services.size(), false);
    if (choice.pName) {
        run.options.pfNamer = nameFile;
        run.options.pNamerUser = &run;
    }
    run.watch = TS_ServiceWatch_Open();
    if (!run.watch) {
        std::fputs("Error: Out of memory.\n", stderr);
        return TS_ERR_NO_MEMORY;
    }
    int32_t status = finish(run, readAll(run));
    TS_ServiceWatch_Close(run.watch);
    return status;
}

}  // namespace rivulet
