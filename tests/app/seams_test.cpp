// The promises of the paths around the split, run as a user would: nothing
// a tool writes lands on an input, a file of the run or through a link;
// names chosen from the service information on live input are those of the
// whole file; a name that falls on an input is told apart.

#include <filesystem>

#include "tests/support/test.h"

namespace {

// 5 s in steps of 40 ms: program 1 "News" throughout; program 2 joins the
// PAT at 2.0 s and the SDT names it "Sport" from 3.0 s on.
Bytes lateNamedProgram() {
    tsb::Stream188 s;
    for (uint64_t step = 0; step < 125; ++step) {
        bool joined = step >= 50;
        bool named = step >= 75;
        if (step % 5 == 0) {
            s.pat(joined ? std::vector<tsb::Program>{{1, 0x100}, {2, 0x200}} : std::vector<tsb::Program>{{1, 0x100}});
            for (uint16_t p = 1; p <= (joined ? 2 : 1); ++p) {
                s.section(uint16_t(p << 8), tsb::pmtSection(p, uint16_t(p << 8 | 0x11), {}, {{0x02, uint16_t(p << 8 | 0x11), {}}}));
            }
            s.section(0x11, named ? sdtSection({{1, "News"}, {2, "Sport"}}) : sdtSection({{1, "News"}}));
        }
        for (uint16_t p : {1, 2}) {
            uint16_t video = uint16_t(p << 8 | 0x11);
            s.add(tsb::packet({.pid = video, .cc = s.cc[video], .hasAdaptation = true,
                               .adaptation = tsb::pcrAdaptation(step * 3600, 0, 10)}));
            s.cc[video] = (s.cc[video] + 1) & 15;
        }
    }
    return s.bytes;
}

struct Case {
    const char* command;       // run by /bin/sh in a folder holding in.ts; $R rivulet, $T rivulet-ts
    int status;
    const char* err;
    std::vector<std::pair<std::string, std::string>> files;  // name: "1", "2" (the file -p gives), "in", or text
};

}  // namespace

TEST(Seams, WrittenFilesKeepTheRuleAndLiveNamesMatchTheWholeFile) {
    const Bytes stream = lateNamedProgram();
    TempDir reference;
    reference.write("in.ts", stream);
    ASSERT_EQ(runTool({RIVULET_TOOL, reference.file("in.ts")}).status, 0);
    std::map<std::string, Bytes> known = {{"1", tsb::readFile(reference.file("in_1_0_0.ts"))},
                                          {"2", tsb::readFile(reference.file("in_2_0_0.ts"))},
                                          {"in", stream}};
    ASSERT_FALSE(known["2"].empty());
    const Case cases[] = {
        {"$R --report in.ts in.ts", 1, "Error: Failed open in.ts.\n", {}},
        {"$R --report in.ts - < in.ts", 1, "Error: Failed open in.ts.\n", {}},
        {"echo keep > t; ln -s t r.json; $R --report r.json in.ts", 1, "Error: Failed open r.json.\n", {{"t", "keep\n"}, {"r.json", "keep\n"}}},
        {"$R --report in_1_0_0.ts in.ts", 1, "Error: Failed open in_1_0_0.ts.\n", {{"in_1_0_0.ts", "1"}, {"in_2_0_0.ts", "2"}}},
        {"$T check --svg in.ts in.ts", 1, "Error: Failed open in.ts.\n", {}},
        {"mkdir c.svg; $T check --svg c.svg in.ts", 1, "Error: Failed open c.svg.\n", {{"c.svg", ""}}},
        // Names that come late on a pipe are those of the whole file.
        {"cat in.ts | $R -s SPORT -", 0, "", {{"stdin_2_0_0.ts", "2"}}},
        {"cat in.ts | $R -n '{service} {event}' -", 0, "", {{"News.ts", "1"}, {"Sport.ts", "2"}}},
        // A name that falls on the input is told apart; a base name is no path.
        {"mv in.ts News.ts && $R -n '{event}_{service}' News.ts", 0, "", {{"News.ts", "in"}, {"News-2.ts", "1"}, {"Sport.ts", "2"}}},
        {"mkdir o && $R -o o -b ../up -p 2 in.ts && mv o/* .", 0, "", {{"_._up_2_0_0.ts", "2"}, {"o", ""}}},
        // Standard input by any name, redirected from a file, is followed as that file.
        {"$R /dev/stdin < in.ts", 0, "", {{"stdin_1_0_0.ts", "1"}, {"stdin_2_0_0.ts", "2"}}},
        {"mv in.ts stdin_1_0_0.ts && $R - < stdin_1_0_0.ts", 1, "Error: Failed open stdin_1_0_0.ts.\n",
         {{"stdin_1_0_0.ts", "in"}, {"stdin_2_0_0.ts", "2"}}},
        {"$R --follow=0 - < in.ts & sleep 1; kill $!; wait $!", 143,
         "Interrupted: outputs hold the input up to byte {size}.\n", {{"stdin_1_0_0.ts", "1"}, {"stdin_2_0_0.ts", "2"}}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("in.ts", stream);
        SCOPED_TRACE(c.command);
        Outcome o = runTool({"/bin/sh", "-c", std::string("cd \"$0\" && R=$1 T=$2 && ") + c.command, dir.path(),
                             RIVULET_TOOL, RIVULET_TS_TOOL});
        EXPECT_EQ(o.status, c.status);
        std::string err = c.err;
        if (size_t at = err.find("{size}"); at != std::string::npos) err.replace(at, 6, std::to_string(stream.size()));
        EXPECT_EQ(o.err, err);
        std::map<std::string, Bytes> want;
        for (const auto& [name, content] : c.files) {
            want[name] = known.count(content) ? known[content] : Bytes(content.begin(), content.end());
        }
        expectFiles(dir, want);  // in.ts apart
        const bool moved = std::string(c.command).rfind("mv in.ts", 0) == 0;
        EXPECT_EQ(std::filesystem::exists(dir.file("in.ts")), !moved);
        EXPECT_TRUE(moved || tsb::readFile(dir.file("in.ts")) == stream);
    }
}

// The toolkit's seam check (tests/seams.sh, which CTest runs on the tree as it
// is) fails on a copy of the tree with one fault planted.
TEST(Seams, CheckFailsOnAnUmbrellaIncludeOrACallUpALayer) {
    const std::pair<const char*, const char*> cases[] = {  // run in the copy's ts/; a line of the report
        {"echo '#include \"rivulet/ts.h\"' >> video/access_rule.h", "ts/video/access_rule.h includes rivulet/ts.h"},
        {"mv section/presection.cpp split/",
         "ts/stream/stream_context.cpp uses TS_PreSection_Initialise(TS_PreSection*) of ts/split/"},
        {"echo 'inline void up() { GetBaseFileName(0, 0); }' >> core/bit_set.h",
         "ts/core/bit_set.h uses GetBaseFileName of ts/output/"},
    };
    for (const auto& [plant, report] : cases) {
        TempDir copy;
        SCOPED_TRACE(plant);
        Outcome o = runTool({"/bin/sh", "-c", std::string("cp -r \"$1/ts\" \"$0\" && cd \"$0/ts\" && ") + plant +
                                                  " && sh \"$1/tests/seams.sh\" \"$0\" \"$2\"",
                             copy.path(), RIVULET_SOURCE_DIR, RIVULET_LIBRARY});
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.out.find(report), std::string::npos) << o.out;
    }
}
