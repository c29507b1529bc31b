#include "app/watched_split.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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
    bool live = false;               // a pipe, a FIFO, a device: held in memory while read ahead
    uint64_t aheadEnd = 0;           // bytes read ahead for the names
    uint64_t fed = 0;                // where the splitter is: bytes fed, or the packet it takes
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
    // Cut at events, the stretch before the first is of no event, not of the first to come.
    if (known && run.options.u8Events && !request->u8HasEventId) texts.event = texts.eventId = texts.start = texts.end = texts.duration = "";
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
        // The split cannot go back for the packets it has passed.
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
    return TS_Splitter_Feed(run.splitter, bytes, size) == 0;
}

// The PIDs whose tables may name a program: a choice is made again after
// their packets.
bool namesPrograms(uint16_t pid) {
    constexpr uint16_t kSDT = 0x0011, kSIT = 0x001F, kPSIP = 0x1FFB;
    return pid == TS_PID_PAT || pid == kSDT || pid == kSIT || pid == kPSIP;
}

// The watch follows the split on the splitter's tables, from where its
// reading ahead ended: no copy of the stream for it, and the programs its
// tables name are chosen before the split acts on the PAT.
void watched(void* user, const uint8_t* packet, uint64_t offset) {
    WatchedRun& run = *static_cast<WatchedRun*>(user);
    run.fed = offset;
    uint16_t pid = uint16_t((packet[1] & 0x1F) << 8 | packet[2]);
    if (!namesPrograms(pid)) return;
    if (choosing(run.choice)) chooseListed(run);
    if (pid == TS_PID_PAT) notePassed(run);
}

bool openSplitter(WatchedRun& run) {
    // Chosen by service or type and none yet: none until one is.
    static const uint16_t kNone[] = {kNoProgram};
    bool none = choosing(run.choice) && run.programs.empty();
    run.options.lu16Programs = none ? kNone : run.programs.data();
    run.options.u32ProgramCount = none ? 1 : uint32_t(run.programs.size());
    int32_t opened = 0;
    run.splitter = TS_Splitter_OpenWithStatus(run.input, &run.options, &opened);
    if (!run.splitter) {
        run.status = opened;
        return false;
    }
    const bool watching = TS_Splitter_Watch(run.splitter, run.watch, run.aheadEnd, watched, &run) == 0;
    if (watching && run.report.attach(run.splitter, run.input)) return true;
    TS_Splitter_Abandon(run.splitter);
    run.splitter = nullptr;
    run.status = TS_ERR_NO_MEMORY;
    return false;
}

void startHold(WatchedRun& run) {
    run.holdSinceMs = steadyClockMs();
    run.holdClockKnown = TS_ServiceWatch_Clock(run.watch, &run.holdSinceClock) == 0;
}

// Whether the names have been waited for long enough: 10 s of stream time,
// or, on live or followed input, of the wall clock.
bool holdExpired(WatchedRun& run) {
    uint64_t clock = 0;
    if (TS_ServiceWatch_Clock(run.watch, &clock) == 0) {
        if (!run.holdClockKnown) {
            run.holdClockKnown = true;
            run.holdSinceClock = clock;
        }
        if ((clock + kClockWrap - run.holdSinceClock) % kClockWrap >= kMaxHoldMs * kClockPerMs) return true;
    }
    return (run.live || run.in.follow) && steadyClockMs() - run.holdSinceMs >= kMaxHoldMs;
}

uint32_t allNeeds(const WatchedRun& run) { return strict(nameNeeds(run.choice) | choiceNeeds(run.choice)); }

// Reads ahead until the names settle, or the bound or the time for them has
// passed. Live input is held in memory; a file is read again.
FollowRead readAhead(WatchedRun& run) {
    std::vector<uint8_t> chunk(kChunkSize);
    startHold(run);
    for (;;) {
        if (TS_ServiceWatch_Settled(run.watch, allNeeds(run))) return FollowRead::Data;
        if (run.aheadEnd + kChunkSize > kMaxHeldBytes || holdExpired(run)) return FollowRead::Data;
        size_t n = 0;
        FollowRead read = followRead(&run.in, chunk.data(), chunk.size(), &n, run.live ? kQuietMs : -1);
        if (read == FollowRead::Quiet) continue;
        if (read != FollowRead::Data) return read;
        TS_ServiceWatch_Feed(run.watch, chunk.data(), n);
        // Reserved whole, so that growing does not copy the held bytes again.
        if (run.live && run.held.capacity() == 0) run.held.reserve(kMaxHeldBytes);
        if (run.live) run.held.insert(run.held.end(), chunk.data(), chunk.data() + n);
        run.aheadEnd += n;
    }
}

// Chooses from what the reading ahead found, and opens the splitter.
bool settle(WatchedRun& run) {
    if (!TS_ServiceWatch_Settled(run.watch, allNeeds(run))) TS_ServiceWatch_GiveUp(run.watch);
    if (choosing(run.choice)) chooseListed(run);
    if (!openSplitter(run)) return false;
    notePassed(run);
    return true;
}

// Splits what was read ahead: the bytes held, or the file's from its start.
bool feedAhead(WatchedRun& run) {
    if (run.live) {
        bool fed = feedSplitter(run, run.held.data(), run.held.size());
        std::vector<uint8_t>().swap(run.held);
        return fed;
    }
    std::vector<uint8_t> chunk(kChunkSize);
    for (uint64_t at = 0; at < run.aheadEnd;) {
        ssize_t n = ::pread(run.fd, chunk.data(), size_t(std::min<uint64_t>(kChunkSize, run.aheadEnd - at)),
                            off_t(run.in.start + at));
        if (n <= 0) return false;
        if (!feedSplitter(run, chunk.data(), size_t(n))) return false;
        at += uint64_t(n);
    }
    return true;
}

// Splits the input from its first byte: a file again from its start, straight
// into the splitter; live input from the bytes held on. A followed file is
// fed as it grows.
FollowRead splitAll(WatchedRun& run, bool ended) {
    if (run.live) {
        if (!feedAhead(run)) return FollowRead::End;
        TS_Splitter_FeedFrom(run.splitter, run.fd);
        return FollowRead::End;
    }
    if (::lseek(run.fd, off_t(run.in.start), SEEK_SET) < 0) return FollowRead::Failed;
    if (!run.in.follow || ended) {
        TS_Splitter_FeedFrom(run.splitter, run.fd);
        return FollowRead::End;
    }
    followStart(&run.in, run.fd, run.in.path, true, run.choice.u32FollowSeconds);
    std::vector<uint8_t> chunk(kChunkSize);
    for (;;) {
        size_t n = 0;
        FollowRead read = followRead(&run.in, chunk.data(), chunk.size(), &n);
        if (read != FollowRead::Data) return read;
        if (!feedSplitter(run, chunk.data(), n)) return FollowRead::End;
    }
}

int32_t reportUnmatched(const WatchedRun& run) {
    int32_t status = 0;
    for (size_t i = 0; i < run.choice.services.size(); ++i) {
        if (run.matched[i]) continue;
        std::fprintf(stderr, "Error: no service \"%s\" in %s.\n", run.choice.services[i].c_str(), run.shown);
        status = TS_ERR_NO_PROGRAM;
    }
    if (status != 0) std::fprintf(stderr, "  rivulet-ts programs %s lists the services\n", run.shown);
    if (run.choice.u32Types && !run.typeMatched) {
        std::fprintf(stderr, "Warning: no program of the types asked for in %s.\n", run.shown);
    }
    return status;
}

// Stopped by a signal while reading ahead: what was read is split with what
// is known (a second signal stops that at once), and the stop stands.
int32_t finishStopped(WatchedRun& run) {
    if (!run.splitter) {
        TS_WithdrawStop();
        TS_ServiceWatch_End(run.watch);
        if (settle(run) && feedAhead(run)) TS_Splitter_Settle(run.splitter);
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
    if (end == FollowRead::Failed) std::fprintf(stderr, "Error: Failed read %s.\n  %s\n", run.shown, std::strerror(errno));
    int32_t closed = run.splitter ? TS_Splitter_Close(run.splitter) : 0;
    if (end == FollowRead::Failed) return TS_ERR_READ;
    if (closed == TS_ERR_INTERRUPTED) return closed;
    int32_t status = run.status != 0 ? run.status : closed;
    int32_t unmatched = reportUnmatched(run);
    return status != 0 ? status : unmatched;
}

// Reads ahead for the names, then splits from the first byte with what is
// known while the watch follows.
FollowRead splitWithNames(WatchedRun& run) {
    FollowRead ahead = readAhead(run);
    if (stopRequested()) return FollowRead::Stopped;
    if (ahead != FollowRead::Data && ahead != FollowRead::End) return ahead;
    if (ahead == FollowRead::End) TS_ServiceWatch_End(run.watch);
    if (!settle(run)) return FollowRead::End;
    return splitAll(run, ahead == FollowRead::End);
}

}  // namespace

bool needsWatch(const ServiceChoice& choice) { return (choiceNeeds(choice) | nameNeeds(choice)) != 0; }

int32_t splitWatched(const char* input, int fd, const TS_SplitOptions& options, const ServiceChoice& choice,
                     SplitReportFile& report) {
    WatchedRun watched(input, fd, options, choice, report);
    watched.programs.assign(options.lu16Programs, options.lu16Programs + options.u32ProgramCount);
    watched.matched.assign(choice.services.size(), false);
    watched.passed.assign(kProgramNumbers, false);
    if (choice.pName) {
        watched.options.pfNamer = nameFile;
        watched.options.pNamerUser = &watched;
    }
    watched.live = !isRegularFile(fd);
    followStart(&watched.in, fd, std::strcmp(input, "-") == 0 ? nullptr : input, choice.follow,
                choice.u32FollowSeconds);
    watched.watch = TS_ServiceWatch_Open();
    if (!watched.watch) {
        std::fputs("Error: Out of memory.\n", stderr);
        return TS_ERR_NO_MEMORY;
    }
    int32_t status = finish(watched, splitWithNames(watched));
    TS_ServiceWatch_Close(watched.watch);
    return status;
}

}  // namespace rivulet
