// The command lines of rivulet and rivulet-ts: how options name programs,
// CRCs and selections, the program list as text and JSON, usage errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "rivulet/ts.h"
#include "tests/support/run.h"
#include "tests/support/temp_dir.h"

using tsb::Bytes;

namespace {

Outcome ts(std::vector<std::string> args) {
    args.insert(args.begin(), RIVULET_TS_TOOL);
    return runTool(args);
}

// Network entry and programs 1 (PMT 0x100) and 2 (PMT 0x200), then a PAT
// whose PMT changes for program 1 alone.
Bytes twoPrograms() {
    tsb::Stream188 s;
    s.pat({{0, 0x10}, {1, 0x100}, {2, 0x200}});
    s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}));
    s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}));
    for (int i = 0; i < 3; ++i) s.es(0x101), s.es(0x201);
    return s.bytes;
}

}  // namespace

TEST(CommandLine, ProgramsListsTheLastVerifiedPAT) {
    std::vector<tsb::Program> sixtyFour;
    for (uint16_t i = 0; i < 64; ++i) sixtyFour.push_back({uint16_t(1000 + i), uint16_t(0x200 + 3 * i)});
    Bytes badCRC = tsb::patSection(1, 1, {{9, 0x900}});
    badCRC.back() ^= 1;
    tsb::Stream188 last, bad, many;
    last.pat({{0, 0x10}, {1, 0x100}, {2, 0x200}, {3, 0x300}}), last.es(0x100), last.section(1, tsb::catSection({})), last.pat({{9, 0x900}}, 1);
    bad.pat({{0x0102, 0x1FF0}, {0, 0x10}, {5, 0x40}}), bad.section(0, badCRC);
    many.pat(sixtyFour);
    std::string sixtyFourText;
    for (const tsb::Program& p : sixtyFour) {
        char line[48];
        std::snprintf(line, sizeof line, "program %d pmt_pid 0x%04X\n", p.number, p.pid);
        sixtyFourText += line;
    }
    const std::pair<Bytes, std::string> cases[] = {
        {last.bytes, "program 9 pmt_pid 0x0900\n"},
        {bad.bytes, "program 258 pmt_pid 0x1FF0\nprogram 5 pmt_pid 0x0040\n"},
        {many.bytes, sixtyFourText},
        {tsb::psiPacket(0, 0, tsb::patSection(1, 0, {{0, 0x10}})), ""},
    };
    for (const auto& [stream, text] : cases) {
        TempDir dir;
        std::string in = dir.write("in.ts", stream);
        Outcome plain = ts({"programs", in}), json = ts({"programs", "--json", in});
        EXPECT_EQ(plain.status, 0);
        EXPECT_EQ(plain.out, text);
        nlohmann::json doc = nlohmann::json::parse(json.out);
        std::string fromJSON;
        for (const auto& p : doc["programs"]) {
            char line[48];
            std::snprintf(line, sizeof line, "program %d pmt_pid 0x%04X\n", int(p["program_number"]), int(p["pmt_pid"]));
            fromJSON += line;
        }
        EXPECT_EQ(fromJSON, text);
    }
    // A PAT that never completes leaves the caller's list as it was.
    TempDir dir;
    TS_ProgramList list{};
    list.u16Count = 7;
    ASSERT_EQ(TS_GetProgramList(&list, dir.write("in.ts", Bytes(many.bytes.begin(), many.bytes.begin() + 188)).c_str()), 0);
    EXPECT_EQ(list.u16Count, 7);
}

TEST(CommandLine, OptionsNameWhatTheDriversTake) {
    TempDir dir;
    std::string in = dir.write("in.ts", twoPrograms());
    ASSERT_EQ(TS_ProgramSplitStream(dir.file("want.ts").c_str(), in.c_str(), 0x200), 0);
    int n = 0;
    for (auto [option, value] : {std::pair{"--pmt-pid", "0x200"}, {"--pmt-pid", "512"}, {"--pmt-pid", "0512"},
                                 {"--pmt-pid", "0X0200"}, {"--program", "2"}, {"--program", "0x2"}}) {
        std::string out = dir.file("out" + std::to_string(n++) + ".ts");
        Outcome r = ts({"extract", option, value, in, out});
        EXPECT_EQ(r.status, 0) << value;
        EXPECT_TRUE(tsb::readFile(out) == tsb::readFile(dir.file("want.ts"))) << option << " " << value;
    }
    Outcome absent = ts({"extract", "--program", "9", in, dir.file("none.ts")});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.err, "rivulet-ts: " + in + ": no program 9 in the PAT.\n");
    for (const char* command : {"pmt-survey", "pmt-split"}) {
        Outcome multi = ts({command, in});
        EXPECT_EQ(multi.status, 1);
        EXPECT_EQ(multi.err, "rivulet-ts: " + in + ": not a single-program stream: a PAT lists more than one program.\n");
    }
    Outcome dump = ts({"dump", "--pat", "--cat", "--pmt", "--private", "--emm", "--pids", "--pcr", "--packets", "--es", in});
    EXPECT_EQ(dump.out, captured([&] { return TS_Print(in.c_str(), 0x1FF); }).out);
    EXPECT_EQ(ts({"dump", in}).out, captured([&] { return TS_Print(in.c_str(), TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT); }).out);
    EXPECT_EQ(ts({"dump", "--all", in}).out, captured([&] { return TS_Print(in.c_str(), 0x1FF & ~(TS_PRINT_PACKET | TS_PRINT_ES)); }).out);

    // PMT-change runs by CRC, in upper or lower case.
    tsb::Stream188 s;
    Bytes a = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}), b = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}, 1);
    for (const Bytes* pmt : {&a, &b, &a}) s.pat({{1, 0x100}}), s.section(0x100, *pmt), s.es(0x101);
    in = dir.write("in.ts", s.bytes);
    static TS_PMTSplitData table;
    ASSERT_EQ(TS_CheckPMTSplit(&table, in.c_str()), 0);
    char crc[16], lower[16];
    std::snprintf(crc, sizeof crc, "%08X", table.ltEntry[1].u32PMTCRC);
    std::snprintf(lower, sizeof lower, "0x%x", table.ltEntry[1].u32PMTCRC);
    std::string survey;
    for (uint16_t i = 0; i < table.u16Count; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "%08X %d %d\n", table.ltEntry[i].u32PMTCRC, table.ltEntry[i].u16Occurrence,
                      int(table.ltEntry[i].u64Size));
        survey += line;
    }
    EXPECT_EQ(ts({"pmt-survey", in}).out, survey);
    nlohmann::json runs = nlohmann::json::parse(ts({"pmt-survey", "--json", in}).out)["runs"];
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[1]["crc"], crc);
    EXPECT_EQ(runs[2]["occurrence"], 1);
    EXPECT_EQ(runs[2]["size"], table.ltEntry[2].u64Size);
    ASSERT_EQ(ts({"pmt-split", in, "--crc", lower, "--output", dir.file("b.ts")}).status, 0);
    ASSERT_EQ(TS_PMTSplitFile(in.c_str(), 0, table.ltEntry[1].u32PMTCRC, dir.file("want.ts").c_str()), 0);
    EXPECT_TRUE(tsb::readFile(dir.file("b.ts")) == tsb::readFile(dir.file("want.ts")));
}

TEST(CommandLine, UsageErrorsHelpAndVersions) {
    const std::vector<std::string> usage[] = {
        {}, {"frob"}, {"--frob"}, {"dump"}, {"dump", "--nope", "in.ts"}, {"dump", "a.ts", "b.ts"}, {"programs"},
        {"extract", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "0x100", "--program", "1", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x2000", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "12a", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "-1", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "0x", "in.ts", "out.ts"},
        {"extract", "--program", "0", "in.ts", "out.ts"}, {"extract", "--program", "65536", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x100", "in.ts"}, {"pmt-survey"}, {"pmt-split"}, {"pmt-split", "in.ts", "--output", "o.ts"},
        {"pmt-split", "in.ts", "--crc", "123456789"}, {"pmt-split", "in.ts", "--crc", "12G4"},
    };
    for (const auto& args : usage) {
        Outcome r = ts(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("rivulet-ts: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("--help' for usage.\n"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ts({"frob"}).err, "rivulet-ts: unknown command frob\nRun 'rivulet-ts --help' for usage.\n");
    EXPECT_NE(ts({"pmt-split", "in.ts", "--output", "o.ts"}).err.find("--output requires --crc"), std::string::npos);
    for (const char* command : {"dump", "programs", "extract", "pmt-survey", "pmt-split"}) {
        EXPECT_NE(ts({command, "--help"}).out.find(std::string("Usage: rivulet-ts ") + command + " [OPTIONS]"), std::string::npos);
        EXPECT_NE(ts({"--help"}).out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    }
    EXPECT_EQ(ts({"--version"}).out, "rivulet-ts 1.00\n");

    const std::string banner = "=== Rivulet === v1.00\nSplit multi-program MPEG-2 TS file to one by one program files.\n"
                               "Usage: rivulet <input TS filename>\n";
    EXPECT_EQ(runTool({RIVULET_TOOL}).out, banner);
    EXPECT_EQ(runTool({RIVULET_TOOL, "--version"}).out, "rivulet 1.00\n");
    Outcome help = runTool({RIVULET_TOOL, "-h"});
    EXPECT_EQ(help.out.rfind(banner, 0), 0u);
    EXPECT_NE(help.out.find("NAME_<program>_<duplicate>_<revision>.ts"), std::string::npos);
    Outcome unknown = runTool({RIVULET_TOOL, "-x"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "rivulet: unknown option -x\n" + banner);
    // A name that begins with a dash is reached through a path.
    TempDir dir;
    dir.write("-name.ts", twoPrograms());
    Outcome split = runTool({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" ./-name.ts", dir.path(), RIVULET_TOOL});
    EXPECT_EQ(split.status, 0);
    EXPECT_EQ(dir.outputs().count("-name_2_0_0.ts"), 1u);
}
