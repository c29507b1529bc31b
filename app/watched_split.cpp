#include "app/watched_split.h"

#include <algorithm>
#include <cstdio>

#include "app/follow.h"

namespace rivulet {
namespace {

// The longest wait for a program's names, in stream time (by PCR) or, on
// live or followed input, on the wall clock; beyond it the program goes by
// what is known.
constexpr uint64_t kMaxHoldMs = 10000;
constexpr uint64_t kClockPerMs = 27000;
constexpr uint16_t kNoProgram = 0;  // a program list of it alone chooses none
constexpr size_t kProgramNumbers = 65536;

// Where the choice of each program stands.
enum class Fate : uint8_t { Unseen, Held, Chosen, Passed };

struct Hold {
    uint16_t program;
    uint64_t sinceMs;
    bool timeKnown;
    uint64_t sinceTime;  // the stream's time (27 MHz) when the hold began, once known
};

struct WatchedRun {
    WatchedRun(const TS_SplitOptions& o, const ServiceChoice& c) : options(o), choice(c) {}
    TS_SplitOptions options;
    const ServiceChoice& choice;
    const char* shown = nullptr;     // the input as messages name it
    bool live = false;               // live or followed: holds are timed on the wall clock too
    TS_ServiceWatch* watch = nullptr;
    TS_Splitter* splitter = nullptr;
    std::vector<uint16_t> asked;     // programs asked for by number
    std::vector<Fate> fates;         // of each program number
    std::vector<Hold> holds;
    std::vector<bool> matched;       // of each service asked for
    bool typeMatched = false;
    uint64_t at = 0;                 // input offset of the packet the watch last read
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

// Whether the services or types asked for name `program`: as it began, or
// as it is now.
bool matches(WatchedRun& run, uint16_t program) {
    bool chosen = false;
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

bool asked(const WatchedRun& run, uint16_t program) {
    return std::find(run.asked.begin(), run.asked.end(), program) != run.asked.end();
}

// Whether `program` may be chosen at all: asked for, or the choice by
// services or types may name it, or every program is named.
bool mayBeChosen(const WatchedRun& run, uint16_t program) {
    return asked(run, program) || choosing(run.choice) || run.asked.empty();
}

// Whether `program` is chosen by what is known now.
bool chosen(WatchedRun& run, uint16_t program) {
    if (asked(run, program)) return true;
    if (choosing(run.choice)) return matches(run, program);
    return run.asked.empty();  // named only: every program, unless some are asked for
}

std::vector<Hold>::iterator holdOf(WatchedRun& run, uint16_t program) {
    return std::find_if(run.holds.begin(), run.holds.end(), [program](const Hold& h) { return h.program == program; });
}

void startHold(WatchedRun& run, uint16_t program) {
    Hold hold{program, steadyClockMs(), false, 0};
    hold.timeKnown = TS_ServiceWatch_StreamTime(run.watch, &hold.sinceTime) == 0;
    run.holds.push_back(hold);
    run.fates[program] = Fate::Held;
    TS_Splitter_HoldProgram(run.splitter, program);
}

void endHold(WatchedRun& run, uint16_t program, Fate fate) {
    auto hold = holdOf(run, program);
    if (hold != run.holds.end()) run.holds.erase(hold);
    run.fates[program] = fate;
}

// Whether the program's names have been waited for long enough: 10 s of
// stream time, or, on live or followed input, of the wall clock; or the
// splitter holds all it may.
bool holdExpired(WatchedRun& run, Hold& hold) {
    if (TS_Splitter_HeldBytes(run.splitter) >= TS_SPLIT_HELD_MAX_BYTES) return true;
    uint64_t time = 0;
    if (TS_ServiceWatch_StreamTime(run.watch, &time) == 0) {
        if (!hold.timeKnown) {
            hold.timeKnown = true;
            hold.sinceTime = time;
        }
        if (time - hold.sinceTime >= kMaxHoldMs * kClockPerMs) return true;
    }
    return run.live && steadyClockMs() - hold.sinceMs >= kMaxHoldMs;
}

// Chooses `program`, held or not yet seen, when its choice and its names
// are known, lets it go when it is known not to be chosen, and holds it
// while either is awaited.
void decideUndecided(WatchedRun& run, uint16_t program, bool expired) {
    if (expired) TS_ServiceWatch_GiveUpProgram(run.watch, program);
    const bool settled = TS_ServiceWatch_ProgramSettled(run.watch, program, strict(choiceNeeds(run.choice) | nameNeeds(run.choice)));
    const bool named = TS_ServiceWatch_ProgramSettled(run.watch, program, strict(nameNeeds(run.choice)));
    const bool held = run.fates[program] == Fate::Held;
    if (!mayBeChosen(run, program)) {
        run.fates[program] = Fate::Passed;
    } else if (chosen(run, program) && named) {
        endHold(run, program, Fate::Chosen);
        TS_Splitter_AddProgram(run.splitter, program);
    } else if (settled) {
        endHold(run, program, Fate::Passed);
        if (held) TS_Splitter_DropProgram(run.splitter, program);
    } else if (!held) {
        startHold(run, program);
    }
}

// A program let go that the services or types asked for now name: the
// split cannot go back for the packets it has passed.
void chooseLate(WatchedRun& run, uint16_t program) {
    if (!choosing(run.choice) || !matches(run, program)) return;
    run.fates[program] = Fate::Chosen;
    TS_Splitter_AddProgram(run.splitter, program);
    std::fprintf(stderr,
                 "Warning: program %u of %s is chosen only from byte %llu on; its file begins at the next PAT.\n",
                 program, run.shown, static_cast<unsigned long long>(run.at));
}

void decide(WatchedRun& run, uint16_t program, bool expiredAll) {
    switch (run.fates[program]) {
    case Fate::Chosen:
        return;
    case Fate::Passed:
        chooseLate(run, program);
        return;
    case Fate::Held: {
        auto hold = holdOf(run, program);
        decideUndecided(run, program, expiredAll || holdExpired(run, *hold));
        return;
    }
    case Fate::Unseen:
        decideUndecided(run, program, expiredAll);
        return;
    }
}

// Each program of the watch's last PAT, and each still held.
void decideAll(WatchedRun& run, bool expiredAll) {
    std::vector<uint16_t> listed(TS_ServiceWatch_Programs(run.watch, nullptr, nullptr, 0));
    TS_ServiceWatch_Programs(run.watch, listed.data(), nullptr, uint32_t(listed.size()));
    for (uint16_t program : listed) decide(run, program, expiredAll);
    std::vector<Hold> held = run.holds;
    for (const Hold& hold : held) decide(run, hold.program, expiredAll);
}

// The PIDs whose tables may name a program: a choice is made again after
// their packets.
bool namesPrograms(uint16_t pid) {
    constexpr uint16_t kSDT = 0x0011, kSIT = 0x001F, kPSIP = 0x1FFB;
    return pid == TS_PID_PAT || pid == kSDT || pid == kSIT || pid == kPSIP;
}

// The watch has read the packet's tables: before the split acts on a PAT,
// so that a program chosen or held there has its file from that PAT.
void watched(void* user, const uint8_t* packet, uint64_t offset) {
    WatchedRun& run = *static_cast<WatchedRun*>(user);
    run.at = offset;
    uint16_t pid = uint16_t((packet[1] & 0x1F) << 8 | packet[2]);
    // Told too of a packet that took the held programs past their bound, and,
    // while some are held, of each that moved the stream's clock.
    if (namesPrograms(pid) || !run.holds.empty()) decideAll(run, false);
}

// The splitter is open: the watch follows it on its tables from the first
// byte.
bool watchSplit(void* user, TS_Splitter* splitter, const InputSource& source, int32_t* status) {
    WatchedRun& run = *static_cast<WatchedRun*>(user);
    run.splitter = splitter;
    run.live = source.live || source.followed;
    if (TS_Splitter_Watch(splitter, run.watch, 0, watched, &run) == 0) return true;
    *status = TS_ERR_NO_MEMORY;
    return false;
}

// All is fed: what is still held goes by what is known.
void decideHeld(void* user) { decideAll(*static_cast<WatchedRun*>(user), true); }

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

}  // namespace

bool needsWatch(const ServiceChoice& choice) { return (choiceNeeds(choice) | nameNeeds(choice)) != 0; }

int32_t splitWatched(const char* input, const TS_SplitOptions& options, const ServiceChoice& choice,
                     SplitReportFile& report) {
    WatchedRun run(options, choice);
    run.shown = TS_InputName(input);
    run.asked.assign(options.lu16Programs, options.lu16Programs + options.u32ProgramCount);
    run.matched.assign(choice.services.size(), false);
    run.fates.assign(kProgramNumbers, Fate::Unseen);
    if (choice.pName) {
        run.options.pfNamer = nameFile;
        run.options.pNamerUser = &run;
    }
    // Chosen by service or type, or every program named, and none asked
    // for by number: none until one is chosen or held.
    static const uint16_t kNone[] = {kNoProgram};
    if (run.asked.empty()) {
        run.options.lu16Programs = kNone;
        run.options.u32ProgramCount = 1;
    }
    run.watch = TS_ServiceWatch_Open();
    if (!run.watch) {
        std::fputs("Error: Out of memory.\n", stderr);
        return TS_ERR_NO_MEMORY;
    }
    const SplitSteps steps{watchSplit, decideHeld, &run};
    int32_t status = splitInput(input, run.options, choice.follow, choice.u32FollowSeconds, report, steps);
    TS_ServiceWatch_Close(run.watch);
    // A split stopped or failed says no more.
    if (status == TS_ERR_INTERRUPTED || status == TS_ERR_READ || !run.splitter) return status;
    int32_t unmatched = reportUnmatched(run);
    return status != 0 ? status : unmatched;
}

}  // namespace rivulet
