// Programs held while their choice is decided: released, a program's file
// and its report's record are those its number alone gives; let go, it
// leaves nothing and the other programs' files are as they were.

#include <cstring>

#include "tests/support/test.h"

namespace {

// Programs 1 and 130 from the first PAT, 259 from its second version (round
// 4) on (each in a word of programs of its own); each round a PAT, the PMTs,
// a PES start of each program's audio, then `fill` packets of program 130.
Bytes heldStream(int rounds, int fill) {
    tsb::Stream188 s;
    for (int round = 0; round < rounds; ++round) {
        std::vector<tsb::Program> listed = {{1, 0x100}, {130, 0x200}, {259, 0x300}};
        listed.resize(round < 4 ? 2 : 3);
        s.pat(listed, uint8_t(round >= 4));
        for (const tsb::Program& p : listed) s.section(p.pid, tsb::pmtSection(p.number, 0x1FFF, {}, {{0x04, uint16_t(p.pid + 1), {}}}));
        for (const tsb::Program& p : listed) s.add(tsb::packet({.pid = uint16_t(p.pid + 1), .pusi = true, .cc = uint8_t(round & 0x0F), .payload = {0, 0, 1, 0xC0, 0, 0, 0x80, 0, 0}}));
        for (int i = 0; i < fill; ++i) s.es(0x201);
    }
    return s.bytes;
}

struct HeldCase {
    const char* what;
    uint16_t program;   // held before the first byte
    size_t decideAt;    // packets fed before it is decided; 0: by the watch's caller, told past the bound
    bool release;       // else let go
    uint8_t cleanStart;
    const Bytes& input;
};

struct HeldRun {
    const HeldCase* c;
    TS_Splitter* splitter;
    uint32_t count = 0;
    std::string log;  // the run's messages, and "told" for each time the watch's caller is told past the bound
    std::map<std::string, Bytes> files;
    std::string records;  // the report's, as bytes, their paths left out
};

// A split choosing `chosen`, with the case's program held (`hold`) and decided as it says.
HeldRun split(const HeldCase& c, const std::vector<uint16_t>& chosen, bool hold) {
    TempDir out;
    HeldRun run{&c, nullptr};
    const TS_SplitOptions options{.strOutputDir = out.path().c_str(), .lu16Programs = chosen.data(),
                                  .u32ProgramCount = uint32_t(chosen.size()), .u8CleanStart = c.cleanStart, .pFileCount = &run.count,
                                  .pfLog = [](void* user, int32_t, const char* text) { static_cast<HeldRun*>(user)->log += text; }, .pLogUser = &run};
    run.splitter = TS_Splitter_Open("in.ts", &options);
    TS_ServiceWatch* watch = TS_ServiceWatch_Open();
    TS_SplitFileList list{};
    TS_Splitter_SetFileList(run.splitter, &list);
    auto told = [](void* user, const uint8_t*, uint64_t) {
        HeldRun& r = *static_cast<HeldRun*>(user);
        if (TS_Splitter_HeldBytes(r.splitter) <= TS_SPLIT_HELD_MAX_BYTES) return;
        r.log += "told\n";
        if (r.c->release) TS_Splitter_AddProgram(r.splitter, r.c->program);
    };
    EXPECT_EQ(hold ? TS_Splitter_Watch(run.splitter, watch, 0, told, &run) : 0, 0);
    EXPECT_EQ(hold ? TS_Splitter_HoldProgram(run.splitter, c.program) : 0, 0);
    const size_t at = hold ? std::min(c.decideAt * TS_PACKET_SIZE, c.input.size()) : c.input.size();
    TS_Splitter_Feed(run.splitter, c.input.data(), at);
    if (hold && c.decideAt > 0) (c.release ? TS_Splitter_AddProgram : TS_Splitter_DropProgram)(run.splitter, c.program);
    EXPECT_EQ(TS_Splitter_HeldBytes(run.splitter), 0u) << c.what;
    TS_Splitter_Feed(run.splitter, c.input.data() + at, c.input.size() - at);
    EXPECT_EQ(TS_Splitter_Close(run.splitter), 0) << c.what;
    for (uint32_t i = 0; i < list.u32Count; ++i) {
        TS_SplitFileReport record = list.ltFile[i];
        std::memset(record.strPath, 0, TS_SPLIT_REPORT_PATH_SIZE);
        record.ltDropLine = nullptr;  // its lines, by value behind it
        run.records.append(reinterpret_cast<const char*>(&record), sizeof record);
        run.records.append(reinterpret_cast<const char*>(list.ltFile[i].ltDropLine), record.u32DropLines * sizeof(TS_DropLine));
    }
    TS_SplitFileList_Release(&list);
    TS_ServiceWatch_Close(watch);
    run.files = out.outputs();
    return run;
}

}  // namespace

TEST(HeldPrograms, ReleasedAProgramGetsTheFileItsNumberGivesLetGoNone) {
    const Bytes small = heldStream(12, 2);
    const Bytes big = heldStream(3200, 100);  // program 130 alone holds past 64 MiB
    const HeldCase cases[] = {
        {"released", 130, 40, true, 0, small},
        {"released, clean start", 130, 40, true, 1, small},
        {"joins the PAT later", 259, 80, true, 0, small},
        {"joins the PAT later, let go", 259, 80, false, 0, small},
        {"let go", 130, 40, false, 0, small},
        {"released by the watch's caller past the bound", 130, 0, true, 0, big},
        {"undecided past the bound", 130, 0, false, 0, big},
    };
    for (const HeldCase& c : cases) {
        // Each program's file is the one its number alone gives, in a split of several as alone.
        const HeldRun want = split(c, c.release ? std::vector<uint16_t>{1, c.program} : std::vector<uint16_t>{1}, false);
        const HeldRun held = split(c, {1}, true);
        EXPECT_EQ(want.count, c.release ? 2u : 1u) << c.what;
        EXPECT_TRUE(held.files == want.files) << c.what;
        EXPECT_EQ(held.count, want.count) << c.what;
        EXPECT_EQ(held.records, want.records) << c.what;
        const std::string warning = c.release ? "" : "Warning: program 130 of in.ts held past 64 MiB undecided; it gets no file.\n";
        EXPECT_EQ(held.log, c.decideAt == 0 ? "told\n" + warning : "") << c.what;
    }
}
