// The command lines of rivulet and rivulet-ts: how options name programs,
// CRCs and selections, the program list as text and JSON, usage errors.

#include <nlohmann/json.hpp>

#include <cstring>

#include "tests/support/test.h"

namespace {

Outcome ts(std::vector<std::string> args) {
    args.insert(args.begin(), RIVULET_TS_TOOL);
    return runTool(args);
}

}  // namespace

// The last PAT whose CRC verifies, without its network entry.
TEST(CommandLine, ProgramsAsTextAndJSON) {
    Bytes bad = tsb::patSection(1, 1, {{9, 0x900}});
    bad.back() ^= 1;
    tsb::Stream188 s;
    s.pat({{0, 0x10}, {1, 0x100}}), s.pat({{0x0102, 0x1FF0}, {0, 0x10}, {5, 0x40}}), s.section(0, bad);
    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes);
    EXPECT_EQ(ts({"programs", in}).out, "program 258 pmt_pid 0x1FF0\nprogram 5 pmt_pid 0x0040\n");
    EXPECT_EQ(
        nlohmann::json::parse(ts({"programs", "--json", in}).out),
        nlohmann::json::parse(R"({"programs":[{"program_number":258,"pmt_pid":8176},{"program_number":5,"pmt_pid":64}]})"));
    // A PAT that never completes leaves the caller's list as it was.
    uint8_t cc = 0;
    TS_ProgramList list{.u16Count = 7};
    dir.write("in.ts", tsb::packetize(0, tsb::patSection(1, 0, std::vector<tsb::Program>(60, {1, 0x100})), cc)[0]);
    ASSERT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
    EXPECT_EQ(list.u16Count, 7);
    EXPECT_EQ(nlohmann::json::parse(ts({"programs", "--json", in}).out), nlohmann::json::parse(R"({"programs":[]})"));
}

TEST(CommandLine, OptionsNameWhatTheDriversTake) {
    tsb::Stream188 s;
    s.pat({{0, 0x10}, {1, 0x100}, {2, 0x200}});
    s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}})), s.es(0x201);
    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes), out = dir.file("out.ts");
    for (const char* number : {"0x200", "512", "0512", "0X0200"}) {  // no octal
        ASSERT_EQ(ts({"extract", "--pmt-pid", number, in, out}).status, 0) << number;
        EXPECT_TRUE(tsb::readFile(out) == s.packets({1, 2})) << number;
    }
    ASSERT_EQ(ts({"extract", "--program", "0x2", in, dir.file("p.ts")}).status, 0);
    EXPECT_TRUE(tsb::readFile(dir.file("p.ts")) == s.packets({1, 2}));
    EXPECT_EQ(ts({"extract", "--program", "9", in, out}).err, "rivulet-ts: " + in + ": no program 9 in the PAT.\n");
    for (const char* command : {"pmt-survey", "pmt-split"}) {
        EXPECT_EQ(ts({command, in}).err,
                  "rivulet-ts: " + in + ": not a single-program stream: a PAT lists more than one program.\n");
    }
    const std::pair<std::vector<std::string>, uint32_t> dumps[] = {
        {{}, TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT}, {{"--all"}, 0x1FF & ~(TS_PRINT_PACKET | TS_PRINT_ES)},
        {{"--pat", "--cat", "--pmt", "--private", "--emm", "--pids", "--pcr", "--packets", "--es"}, 0x1FF}};
    for (auto [options, flags] : dumps) {
        options.insert(options.begin(), "dump");
        options.push_back(in);
        EXPECT_EQ(ts(options).out, captured([&] { return TS_Print(in.c_str(), flags); }).out) << flags;
    }

    // PMT-change runs named by their CRC, in either case.
    tsb::Stream188 runs;
    Bytes a = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}), b = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}, 1);
    for (const Bytes* pmt : {&a, &b, &a}) runs.pat({{1, 0x100}}), runs.section(0x100, *pmt), runs.es(0x101);
    in = dir.write("in.ts", runs.bytes);
    char text[64], crc[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X 0 564\n", b[b.size() - 4], b[b.size() - 3], b[b.size() - 2], b.back());
    std::snprintf(crc, sizeof crc, "0x%02x%02x%02x%02x", b[b.size() - 4], b[b.size() - 3], b[b.size() - 2], b.back());
    std::string survey = ts({"pmt-survey", in}).out;
    EXPECT_EQ(survey.substr(survey.find('\n') + 1, std::strlen(text)), text);
    nlohmann::json doc = nlohmann::json::parse(ts({"pmt-survey", "--json", in}).out)["runs"];
    EXPECT_EQ(doc[1]["crc"], std::string(text, 8));
    EXPECT_EQ(doc[2]["occurrence"], 1);
    EXPECT_EQ(doc[2]["size"], 564);
    ASSERT_EQ(ts({"pmt-split", in, "--crc", crc, "--output", out}).status, 0);
    EXPECT_TRUE(tsb::readFile(out) == runs.packets({3, 4, 5}));
}

TEST(CommandLine, UsageErrorsHelpAndVersions) {
    const std::vector<std::string> usage[] = {
        {}, {"frob"}, {"--frob"}, {"dump"}, {"dump", "--nope", "in.ts"}, {"dump", "a.ts", "b.ts"}, {"programs"},
        {"extract", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "0x100", "--program", "1", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x2000", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "12a", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "-1", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "0x", "in.ts", "out.ts"},
        {"extract", "--program", "0", "in.ts", "out.ts"}, {"extract", "--program", "65536", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x100", "in.ts"}, {"pmt-survey"}, {"pmt-split"}, {"pmt-split", "in", "--output", "o"},
        {"pmt-split", "in.ts", "--crc", "123456789"}, {"pmt-split", "in.ts", "--crc", "12G4"},
    };
    for (const auto& args : usage) {
        Outcome r = ts(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("rivulet-ts: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("--help' for usage.\n"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ts({"frob"}).err, "rivulet-ts: unknown command frob\nRun 'rivulet-ts --help' for usage.\n");
    EXPECT_NE(ts({"extract", "--help"}).out.find("Usage: rivulet-ts extract [OPTIONS]"), std::string::npos);
    EXPECT_EQ(ts({"--version"}).out, "rivulet-ts 1.00\n");

    const std::string banner = "=== Rivulet === v1.00\nSplit multi-program MPEG-2 TS file to one by one program files.\n"
                               "Usage: rivulet <input TS filename>\n";
    EXPECT_EQ(runTool({RIVULET_TOOL}).out, banner);
    EXPECT_EQ(runTool({RIVULET_TOOL, "--version"}).out, "rivulet 1.00\n");
    EXPECT_EQ(runTool({RIVULET_TOOL, "-h"}).out.rfind(banner, 0), 0u);
    Outcome unknown = runTool({RIVULET_TOOL, "-x"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "rivulet: unknown option -x\n" + banner);
}
