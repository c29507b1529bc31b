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
    uint64_t fed = 0;                // bytes the splitter has taken
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
        if (!chosen(run, program)) {
            if (run.splitter) run.passed[program] = true;
            continue;
        }
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

bool feedSplitter(WatchedRun& run, const uint8_t* bytes, size_t size) {
    run.fed += size;
    return TS_Splitter_Feed(run.splitter, bytes, size) == 0;
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

// Takes bytes read: held while the service information of a listed program
// has not come, else split at once. False when the split cannot go on.
bool take(WatchedRun& run, const uint8_t* bytes, size_t size, uint32_t needs) {
    if (TS_ServiceWatch_Feed(run.watch, bytes, size) != 0) return false;
    bool settled = needs == 0 || TS_ServiceWatch_Settled(run.watch, needs);
    if (run.splitter && run.held.empty() && settled) {
        if (choosing(run.choice) && !run.chosenAhead) chooseListed(run);
        return feedSplitter(run, bytes, size);
    }
    // Reserved whole, so that growing does not copy the held bytes again.
    if (run.held.capacity() == 0) run.held.reserve(kMaxHeldBytes);
    run.held.insert(run.held.end(), bytes, bytes + size);
    if (settled || run.held.size() + kChunkSize > kMaxHeldBytes) return release(run, settled);
    return true;
}

bool isRegularFile(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

enum class ReadEnd { End, Stopped, Failed, Shrank, SplitEnded };

// Reads a chunk; 0 at the end (or, followed, once it has stopped growing).
ReadEnd readChunk(WatchedRun& run, uint8_t* chunk, bool follow, ssize_t* n) {
    for (;;) {
        *n = ::read(run.fd, chunk, kChunkSize);
        if (stopRequested()) return ReadEnd::Stopped;
        if (*n < 0 && errno == EINTR) continue;
        if (*n < 0) return ReadEnd::Failed;
        if (*n > 0 || !follow) return ReadEnd::End;
        Growth growth = waitForGrowth(run.fd, run.input, uint64_t(::lseek(run.fd, 0, SEEK_CUR)),
                                      run.choice.u32FollowSeconds);
        if (growth == Growth::Idle) return ReadEnd::End;
        if (growth == Growth::Shrank) return ReadEnd::Shrank;
        if (growth == Growth::Stopped) return ReadEnd::Stopped;
    }
}

// Reads the input to its end (or, followed, until it stops growing).
ReadEnd readAll(WatchedRun& run) {
    std::vector<uint8_t> chunk(kChunkSize);
    const bool follow = run.choice.follow && isRegularFile(run.fd);
    for (;;) {
        uint32_t needs = nameNeeds(run.choice) | (run.chosenAhead ? 0 : choiceNeeds(run.choice));
        ssize_t n = 0;
        ReadEnd end = readChunk(run, chunk.data(), follow, &n);
        if (end != ReadEnd::End || n == 0) return end;
        if (!take(run, chunk.data(), size_t(n), needs)) return ReadEnd::SplitEnded;
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
    return run.watch && ::lseek(run.fd, 0, SEEK_SET) == 0;
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

int32_t finish(WatchedRun& run, ReadEnd end) {
    if (end == ReadEnd::Shrank) {
        std::fprintf(stderr, "Error: %s shrank while being followed.\n", run.shown);
        if (run.splitter) TS_Splitter_Abandon(run.splitter);
        return TS_ERR_READ;
    }
    if (end == ReadEnd::End) {
        TS_ServiceWatch_End(run.watch);
        uint32_t needs = nameNeeds(run.choice) | (run.chosenAhead ? 0 : choiceNeeds(run.choice));
        if (!run.splitter || !run.held.empty()) release(run, TS_ServiceWatch_Settled(run.watch, needs));
    }
    if (end == ReadEnd::Failed) std::fprintf(stderr, "Error: Failed read %s.\n", run.shown);
    int32_t closed = run.splitter ? TS_Splitter_Close(run.splitter) : 0;
    if (end == ReadEnd::Failed) return TS_ERR_READ;
    if (end == ReadEnd::Stopped || stopRequested()) {
        // Unless the splitter saw the stop itself: the bytes held back for
        // names were not split.
        if (closed != TS_ERR_INTERRUPTED) {
            std::fprintf(stderr, "Interrupted: outputs hold the input up to byte %llu.\n",
                         static_cast<unsigned long long>(run.fed));
        }
        return TS_ERR_INTERRUPTED;
    }
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
