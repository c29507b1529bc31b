#include "app/watched_split.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/common/process.h"
#include "app/follow.h"

namespace rivulet {
namespace {

constexpr size_t kChunkSize = 1 << 20;
// The longest wait for names, in stream time (by PCR) or, on live input, on
// the wall clock; beyond it the programs go by what is known.
constexpr uint64_t kMaxHoldMs = 10000;
constexpr uint64_t kClockPerMs = 27000;
constexpr uint64_t kClockWrap = (uint64_t(1) << 33) * 300;
// Live input quiet this long has what came split at once.
constexpr int kQuietMs = 1000;
constexpr uint16_t kNoProgram = 0;  // a program list of it alone chooses none
constexpr size_t kProgramNumbers = 65536;

struct WatchedRun {
    WatchedRun(const char* in, int f, const TS_SplitOptions& o, const ServiceChoice& c,
               SplitReportFile& r)
        : input(in), shown(TS_InputName(in)), fd(f), options(o), choice(c), report(r) {}
    const char* input;
    const char* shown;  // the input as messages name it
    int fd;
    TS_SplitOptions options;
    const ServiceChoice& choice;
    SplitReportFile& report;
    TS_ServiceWatch* watch = nullptr;
    TS_Splitter* splitter = nullptr;
    std::vector<uint8_t> held;
    std::vector<uint16_t> programs;  // those asked for by number, and those chosen so far
    std::vector<bool> matched;       // of each service asked for
    std::vector<bool> passed;        // programs listed by a PAT the splitter has taken, not chosen
    bool typeMatched = false;
    bool chosenAhead = false;        // the whole input was read for the choice first
    bool splitEnded = false;         // the splitter stopped on a failure of its own
    bool live = false;               // a pipe, a FIFO, a device: waits are told by the wall clock too
    uint64_t fed = 0;                // bytes the splitter has taken
    uint64_t holdSinceMs = 0;        // when the bytes held began to be held
    bool holdClockKnown = false;
    uint64_t holdSinceClock = 0;     // the stream's clock then (27 MHz), once known
    FollowedInput in{};
    int32_t status = 0;
};

bool choosing(const ServiceChoice& choice) { return !choice.services.empty() || choice.u32Types != 0; }

uint32_t choiceNeeds(const ServiceChoice& choice) {
    uint32_t needs = 0;
    if (!choice.services.empty()) needs |= TS_WATCH_NAMES;
    if (choice.u32Types) needs |= TS_WATCH_TYPE;
    return needs;
}

uint32_t nameNeeds(const ServiceChoice& choice) { return choice.pName ? choice.pName->u32Needs : 0; }

// A program the PAT lists waits for a description that lists it.
uint32_t strict(uint32_t needs) { return needs ? needs | TS_WATCH_LISTED : 0; }

uint64_t nowMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

// What the watch knows of `program` at `offset`, as text; false when nothing.
bool textsAt(const TS_ServiceWatch* watch, uint16_t program, uint64_t offset, tool::ServiceTexts* texts) {
    TS_ServiceFacts facts;
    if (TS_ServiceWatch_Facts(watch, program, offset, &facts) != 0) return false;
    *texts = tool::serviceTexts(facts);
    return true;
}

int32_t nameFile(void* user, const TS_OutputNameRequest* request, char* name, uint32_t size) {
    const WatchedRun& run = *static_cast<const WatchedRun*>(user);
    tool::ServiceTexts texts;
    bool known = textsAt(run.watch, request->u16ProgramNumber, request->u64InputOffset, &texts);
    std::string text = expandTemplate(*run.choice.pName, *request, known ? &texts : nullptr);
    std::replace(text.begin(), text.end(), '\0', '_');  // a NUL in a name would end it early
    std::snprintf(name, size, "%s", text.c_str());
    return 0;
}

bool chosen(WatchedRun& run, uint16_t program) {
    bool chosen = false;
    // The service as it began, and as it is now.
    for (uint64_t offset : {uint64_t(0), UINT64_MAX}) {
        tool::ServiceTexts texts;
        if (!textsAt(run.watch, program, offset, &texts)) break;
        for (size_t i = 0; i < run.choice.services.size(); ++i) {
            if (!tool::namesService(texts, run.choice.services[i])) continue;
            run.matched[i] = true;
            chosen = true;
        }
    }
    TS_ServiceFacts facts;
    if (TS_ServiceWatch_Facts(run.watch, program, UINT64_MAX, &facts) == 0 && (run.choice.u32Types >> facts.u8Type & 1)) {
        run.typeMatched = true;
        chosen = true;
    }
    return chosen;
}

// Chooses the programs of the watch's last PAT that the services and types
// asked for name, and gives them files.
void chooseListed(WatchedRun& run) {
    uint16_t listed[TS_PAT_MAX_PROGRAMS];
    uint32_t count = std::min(TS_ServiceWatch_Programs(run.watch, listed, nullptr, TS_PAT_MAX_PROGRAMS),
                              TS_PAT_MAX_PROGRAMS);
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t program = listed[i];
        bool known = std::find(run.programs.begin(), run.programs.end(), program) != run.programs.end();
        if (known) continue;
        if (!chosen(run, program)) continue;
        run.programs.push_back(program);
        if (!run.splitter) continue;
        TS_Splitter_AddProgram(run.splitter, program);
        // Live input cannot go back for the packets already split.
        if (run.passed[program]) {
            std::fprintf(stderr,
                         "Warning: program %u of %s is chosen only from byte %llu on; its file begins at the "
                         "next PAT.\n",
                         program, run.shown, static_cast<unsigned long long>(run.fed));
        }
    }
}

// The programs of the PAT the splitter has now taken that are not chosen: a
// later choice of one of them comes late.
void notePassed(WatchedRun& run) {
    uint16_t listed[TS_PAT_MAX_PROGRAMS];
    uint32_t count = std::min(TS_ServiceWatch_Programs(run.watch, listed, nullptr, TS_PAT_MAX_PROGRAMS),
                              TS_PAT_MAX_PROGRAMS);
    for (uint32_t i = 0; i < count; ++i) {
        if (std::find(run.programs.begin(), run.programs.end(), listed[i]) == run.programs.end()) {
            run.passed[listed[i]] = true;
        }
    }
}

bool feedSplitter(WatchedRun& run, const uint8_t* bytes, size_t size) {
    run.fed += size;
    bool fed = TS_Splitter_Feed(run.splitter, bytes, size) == 0;
    notePassed(run);
    return fed;
}

bool openSplitter(WatchedRun& run) {
    // Chosen by service or type and none yet: none until one is.
    static const uint16_t kNone[] = {kNoProgram};
    bool none = choosing(run.choice) && run.programs.empty();
    run.options.lu16Programs = none ? kNone : run.programs.data();
    run.options.u32ProgramCount = none ? 1 : uint32_t(run.programs.size());
    run.splitter = TS_Splitter_Open(run.input, &run.options);
    if (!run.splitter) {
        run.status = TS_ERR_OPEN_OUTPUT;
        return false;
    }
    if (run.report.attach(run.splitter, run.input)) return true;
    TS_Splitter_Abandon(run.splitter);
    run.splitter = nullptr;
    run.status = TS_ERR_NO_MEMORY;
    return false;
}

// Splits what is held, once the programs it announces are chosen.
bool release(WatchedRun& run, bool settled) {
    if (!settled) TS_ServiceWatch_GiveUp(run.watch);
    if (choosing(run.choice) && !run.chosenAhead) chooseListed(run);
    if (!run.splitter && !openSplitter(run)) return false;
    bool fed = feedSplitter(run, run.held.data(), run.held.size());
    std::vector<uint8_t>().swap(run.held);
    return fed;
}

void startHold(WatchedRun& run) {
    run.holdSinceMs = nowMs();
    run.holdClockKnown = TS_ServiceWatch_Clock(run.watch, &run.holdSinceClock) == 0;
}

// Whether the names have been waited for long enough: 10 s of stream time,
// or, on live input, of the wall clock.
bool holdExpired(WatchedRun& run) {
    uint64_t clock = 0;
    if (TS_ServiceWatch_Clock(run.watch, &clock) == 0) {
        if (!run.holdClockKnown) {
            run.holdClockKnown = true;
            run.holdSinceClock = clock;
        }
        if ((clock + kClockWrap - run.holdSinceClock) % kClockWrap >= kMaxHoldMs * kClockPerMs) return true;
    }
    return run.live && nowMs() - run.holdSinceMs >= kMaxHoldMs;
}

// Takes bytes read: held while the service information of a listed program
// has not come, else split at once. False when the split cannot go on.
bool take(WatchedRun& run, const uint8_t* bytes, size_t size, uint32_t needs) {
    if (TS_ServiceWatch_Feed(run.watch, bytes, size) != 0) return false;
    bool settled = needs == 0 || TS_ServiceWatch_Settled(run.watch, strict(needs));
    if (run.splitter && run.held.empty() && settled) {
        if (choosing(run.choice) && !run.chosenAhead) chooseListed(run);
        return feedSplitter(run, bytes, size);
    }
    // Reserved whole, so that growing does not copy the held bytes again.
    if (run.held.capacity() == 0) run.held.reserve(kMaxHeldBytes);
    if (run.held.empty()) startHold(run);
    run.held.insert(run.held.end(), bytes, bytes + size);
    if (settled || run.held.size() + kChunkSize > kMaxHeldBytes || holdExpired(run)) return release(run, settled);
    return true;
}

bool isRegularFile(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

uint32_t currentNeeds(const WatchedRun& run) {
    return nameNeeds(run.choice) | (run.chosenAhead ? 0 : choiceNeeds(run.choice));
}

// Live input has paused: a hold that has waited long enough ends, and what
// the splitter has is judged at once, so that no packet waits on the pause.
bool onQuiet(WatchedRun& run) {
    if (!run.held.empty()) return !holdExpired(run) || release(run, false);
    return !run.splitter || TS_Splitter_Settle(run.splitter) == 0;
}

// Reads the input to its end (or, followed, until it stops growing).
FollowRead readAll(WatchedRun& run) {
    std::vector<uint8_t> chunk(kChunkSize);
    for (;;) {
        size_t n = 0;
        FollowRead read = followRead(&run.in, chunk.data(), chunk.size(), &n, run.live ? kQuietMs : -1);
        if (read == FollowRead::Quiet) {
            if (!onQuiet(run)) return FollowRead::Failed;
            continue;
        }
        if (read != FollowRead::Data) return read;
        if (!take(run, chunk.data(), n, currentNeeds(run))) {
            run.splitEnded = true;
            return FollowRead::End;
        }
    }
}

// A regular file is read through once for the choice; the split then starts
// again from its first byte with a new watch.
bool chooseAhead(WatchedRun& run) {
    std::vector<uint8_t> chunk(kChunkSize);
    for (;;) {
        ssize_t n = ::read(run.fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR && !stopRequested()) continue;
        if (n <= 0 || stopRequested()) break;
        TS_ServiceWatch_Feed(run.watch, chunk.data(), size_t(n));
        if (TS_ServiceWatch_Settled(run.watch, choiceNeeds(run.choice))) chooseListed(run);
    }
    TS_ServiceWatch_End(run.watch);
    chooseListed(run);
    TS_ServiceWatch_Close(run.watch);
    run.watch = TS_ServiceWatch_Open();
    run.chosenAhead = true;
    bool rewound = run.watch && ::lseek(run.fd, 0, SEEK_SET) == 0;
    followStart(&run.in, run.fd, run.in.path, run.choice.follow, run.choice.u32FollowSeconds);
    return rewound;
}

int32_t reportUnmatched(const WatchedRun& run) {
    int32_t status = 0;
    for (size_t i = 0; i < run.choice.services.size(); ++i) {
        if (run.matched[i]) continue;
        std::fprintf(stderr, "Error: no service \"%s\" in %s.\n", run.choice.services[i].c_str(), run.shown);
        status = TS_ERR_NO_PROGRAM;
    }
    if (run.choice.u32Types && !run.typeMatched) {
        std::fprintf(stderr, "Warning: no program of the types asked for in %s.\n", run.shown);
    }
    return status;
}

// Stopped by a signal while input is held: the held bytes are split with
// what is known (a second signal stops that at once), and the stop stands.
int32_t finishStopped(WatchedRun& run) {
    if (!run.held.empty() || !run.splitter) {
        TS_WithdrawStop();
        TS_ServiceWatch_End(run.watch);
        release(run, false);
        if (run.splitter) TS_Splitter_Settle(run.splitter);
        TS_RequestStop();
    }
    // The splitter says where the files end.
    if (run.splitter) TS_Splitter_Close(run.splitter);
    reportUnmatched(run);
    return TS_ERR_INTERRUPTED;
}

int32_t finish(WatchedRun& run, FollowRead end) {
    if (end == FollowRead::Shrank) {
        std::fprintf(stderr, "Error: %s shrank while being followed.\n", run.shown);
        if (run.splitter) TS_Splitter_Abandon(run.splitter);
        return TS_ERR_READ;
    }
    if (end == FollowRead::Stopped || stopRequested()) return finishStopped(run);
    if (end == FollowRead::End && !run.splitEnded) {
        TS_ServiceWatch_End(run.watch);
        if (!run.splitter || !run.held.empty()) {
            release(run, TS_ServiceWatch_Settled(run.watch, strict(currentNeeds(run))));
        }
    }
    if (end == FollowRead::Failed) std::fprintf(stderr, "Error: Failed read %s.\n", run.shown);
    int32_t closed = run.splitter ? TS_Splitter_Close(run.splitter) : 0;
    if (end == FollowRead::Failed) return TS_ERR_READ;
    if (closed == TS_ERR_INTERRUPTED) return closed;
    int32_t status = run.status != 0 ? run.status : closed;
    int32_t unmatched = reportUnmatched(run);
    return status != 0 ? status : unmatched;
}

// Programs chosen ahead and names that need no service information: the
// plain split, straight from the file into the splitter.
int32_t splitChosen(WatchedRun& run) {
    if (!openSplitter(run)) return run.status;
    TS_Splitter_FeedFrom(run.splitter, run.fd);
    int32_t status = TS_Splitter_Close(run.splitter);
    if (status == TS_ERR_INTERRUPTED) return status;
    int32_t unmatched = reportUnmatched(run);
    return status != 0 ? status : unmatched;
}

}  // namespace

bool needsWatch(const ServiceChoice& choice) { return (choiceNeeds(choice) | nameNeeds(choice)) != 0; }

int32_t splitWatched(const char* input, int fd, const TS_SplitOptions& options,
                     const ServiceChoice& choice, SplitReportFile& report) {
    WatchedRun run(input, fd, options, choice, report);
    run.programs.assign(options.lu16Programs, options.lu16Programs + options.u32ProgramCount);
    run.matched.assign(choice.services.size(), false);
    run.passed.assign(kProgramNumbers, false);
    if (choice.pName) {
        run.options.pfNamer = nameFile;
        run.options.pNamerUser = &run;
    }
    run.live = !isRegularFile(fd);
    followStart(&run.in, fd, std::strcmp(input, "-") == 0 ? nullptr : input, choice.follow, choice.u32FollowSeconds);
    run.watch = TS_ServiceWatch_Open();
    bool ready = run.watch != nullptr;
    if (ready && choosing(choice) && !choice.follow && isRegularFile(fd)) ready = chooseAhead(run);
    if (!ready) {
        TS_ServiceWatch_Close(run.watch);
        std::fputs("Error: Out of memory.\n", stderr);
        return TS_ERR_NO_MEMORY;
    }
    int32_t status = run.chosenAhead && nameNeeds(choice) == 0 ? splitChosen(run) : finish(run, readAll(run));
    TS_ServiceWatch_Close(run.watch);
    return status;
}

}  // namespace rivulet
