// End-to-end tests of rivulet-ts and of rivulet's options: each subcommand is
// run as a process on a generated stream, and what it prints or writes is
// compared with what its driver produces through the C++ interface in this
// process; --json output is parsed and compared value by value.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "rivulet/ts.h"
#include "tests/support/capture.h"
#include "tests/support/run_tool.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

constexpr uint16_t kPMT1 = 0x100, kVideo1 = 0x101, kAudio1 = 0x102, kECM1 = 0x301;
constexpr uint16_t kPMT2 = 0x200, kVideo2 = 0x201, kPCR2 = 0x210;
constexpr uint16_t kEMM = 0x300;
constexpr uint32_t kDumpTables = TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT;
constexpr uint32_t kDumpAll = TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_PRIVATE | TS_PRINT_EMM |
                              TS_PRINT_PIDLIST | TS_PRINT_PCR;

std::string tsTool() { return RIVULET_TS_TOOL; }

// Counters per PID, so that every PID's packets count on without a gap.
struct Counters {
    std::map<uint16_t, uint8_t> next;
    uint8_t& of(uint16_t pid) { return next[pid]; }
};

void addSection(tsb::Stream188& s, Counters& cc, uint16_t pid, const Bytes& section) {
    s.add(tsb::packetize(pid, section, cc.of(pid)));
}

void addPCRPacket(tsb::Stream188& s, Counters& cc, uint16_t pid, uint64_t base, bool payload) {
    uint8_t& counter = cc.of(pid);
    s.add(tsb::packet({.pid = pid, .cc = counter, .hasAdaptation = true, .hasPayload = payload,
                       .adaptation = tsb::pcrAdaptation(base, 0, payload ? 0 : 176),
                       .payload = payload ? Bytes(4, 0x55) : Bytes{}}));
    if (payload) counter = (counter + 1) & 15;
}

// A network entry and two programs: program 1 scrambled (ECM PID in its PMT,
// PCR on its video PID), program 2 with its PCR on a PID of its own; a CAT
// naming an EMM PID; null packets.
Bytes multiProgramStream() {
    tsb::Stream188 s;
    Counters cc;
    Bytes pmt1 = tsb::pmtSection(1, kVideo1, tsb::caDescriptor(0x0B00, kECM1),
                                 {{0x02, kVideo1, {}}, {0x04, kAudio1, tsb::descriptor(0x0A, {'e', 'n', 'g', 0})}});
    Bytes pmt2 = tsb::pmtSection(2, kPCR2, {}, {{0x1B, kVideo2, {}}});
    for (int round = 0; round < 2; ++round) {
        addSection(s, cc, 0x0000, tsb::patSection(1, 0, {{0, 0x0010}, {1, kPMT1}, {2, kPMT2}}));
        addSection(s, cc, 0x0001, tsb::catSection(tsb::caDescriptor(0x0B00, kEMM)));
        addSection(s, cc, kPMT1, pmt1);
        addSection(s, cc, kPMT2, pmt2);
        addSection(s, cc, kECM1, tsb::section(0x80, 1, 0, {0x11, 0x22, 0x33}));
        addSection(s, cc, kEMM, tsb::section(0x82, 2, 0, {1, 2, 3, 4, 5, 6, 7, 8}));
        addPCRPacket(s, cc, kVideo1, 9000 * (round + 1), true);
        s.add(tsb::esPacket(kAudio1, cc.of(kAudio1)));
        addPCRPacket(s, cc, kPCR2, 9000 * (round + 1), false);
        s.add(tsb::esPacket(kVideo2, cc.of(kVideo2)));
        s.add(tsb::esPacket(TS_PID_NULL, cc.of(TS_PID_NULL), 0xFF));
    }
    return s.bytes;
}

Bytes pmtA() { return tsb::pmtSection(1, kVideo1, {}, {{0x02, kVideo1, {}}}, 0); }
Bytes pmtB() { return tsb::pmtSection(1, kVideo1, {}, {{0x02, kVideo1, {}}, {0x04, kAudio1, {}}}, 1); }

uint32_t crcOf(const Bytes& section) {
    size_t n = section.size();
    return uint32_t(section[n - 4]) << 24 | uint32_t(section[n - 3]) << 16 | uint32_t(section[n - 2]) << 8 |
           section[n - 1];
}

// One program whose PMT runs A, then B, then A again, each run followed by
// elementary-stream packets.
Bytes pmtChangeStream() {
    tsb::Stream188 s;
    Counters cc;
    const Bytes runs[] = {pmtA(), pmtB(), pmtA()};
    for (const Bytes& pmt : runs) {
        addSection(s, cc, 0x0000, tsb::patSection(1, 0, {{0, 0x0010}, {1, kPMT1}}));
        addSection(s, cc, kPMT1, pmt);
        s.add(tsb::esPacket(kVideo1, cc.of(kVideo1)));
        s.add(tsb::esPacket(kAudio1, cc.of(kAudio1)));
        s.add(tsb::esPacket(kVideo1, cc.of(kVideo1)));
    }
    return s.bytes;
}

std::string crcText(uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", crc);
    return text;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = tsb::makeTempDir("cli"); }
    void TearDown() override { tsb::removeTree(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string write(const std::string& name, const Bytes& data) {
        tsb::writeFile(path(name), data);
        return path(name);
    }
    tsb::ToolResult ts(std::vector<std::string> args) {
        args.insert(args.begin(), tsTool());
        return tsb::runTool(args);
    }

    std::string dir_;
};

// --- dump ---------------------------------------------------------------------

TEST_F(CliTest, DumpPrintsWhatTSPrintPrintsForEachSelection) {
    std::string in = write("in.ts", multiProgramStream());
    const struct {
        std::vector<std::string> options;
        uint32_t flags;
    } cases[] = {
        {{}, kDumpTables},
        {{"--pat"}, TS_PRINT_PAT},
        {{"--cat", "--pmt"}, TS_PRINT_CAT | TS_PRINT_PMT},
        {{"--private", "--emm"}, TS_PRINT_PRIVATE | TS_PRINT_EMM},
        {{"--pids", "--pcr"}, TS_PRINT_PIDLIST | TS_PRINT_PCR},
        {{"--packets"}, TS_PRINT_PACKET},
        {{"--es"}, TS_PRINT_ES},
        {{"--all"}, kDumpAll},
        {{"--all", "--packets", "--es"}, kDumpAll | TS_PRINT_PACKET | TS_PRINT_ES},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"dump"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(in);
        tsb::ToolResult r = ts(args);
        std::string expected = tsb::captureStdout([&] { EXPECT_EQ(TS_Print(in.c_str(), c.flags), 0); });
        std::string label = args.size() > 2 ? args[1] : "(none)";
        EXPECT_EQ(r.status, 0) << label;
        EXPECT_EQ(r.err, "") << label;
        EXPECT_NE(r.out.find("========================================\n"), std::string::npos) << label;
        EXPECT_EQ(r.out, expected) << label;
    }
}

TEST_F(CliTest, DumpOfAMissingFileFailsWithTheDriversMessage) {
    tsb::ToolResult r = ts({"dump", path("absent.ts")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Failed open " + path("absent.ts") + ".\n");
}

// --- programs -----------------------------------------------------------------

TEST_F(CliTest, ProgramsListsTheProgramsAsTextAndAsJSON) {
    std::string in = write("in.ts", multiProgramStream());
    TS_ProgramList list{};
    ASSERT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
    ASSERT_EQ(list.u16Count, 2);

    tsb::ToolResult text = ts({"programs", in});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(text.out, "program 1 pmt_pid 0x0100\nprogram 2 pmt_pid 0x0200\n");

    tsb::ToolResult json = ts({"programs", "--json", in});
    EXPECT_EQ(json.status, 0);
    nlohmann::json doc = nlohmann::json::parse(json.out);
    ASSERT_TRUE(doc["programs"].is_array());
    ASSERT_EQ(doc["programs"].size(), list.u16Count);
    for (uint16_t i = 0; i < list.u16Count; ++i) {
        EXPECT_EQ(doc["programs"][i]["program_number"], list.lu16ProgramNumber[i]);
        EXPECT_EQ(doc["programs"][i]["pmt_pid"], list.lu16PMTPID[i]);
    }
}

TEST_F(CliTest, ProgramsOfAStreamWithoutPATIsEmpty) {
    uint8_t cc = 0;
    std::string in = write("in.ts", tsb::esPacket(0x0100, cc));
    tsb::ToolResult text = ts({"programs", in});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, "");
    tsb::ToolResult json = ts({"programs", "--json", in});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(nlohmann::json::parse(json.out), nlohmann::json::parse(R"({"programs":[]})"));
}

// --- extract ------------------------------------------------------------------

TEST_F(CliTest, ExtractWritesWhatTheDriverWritesForEachWayOfNamingTheProgram) {
    std::string in = write("in.ts", multiProgramStream());
    ASSERT_EQ(TS_ProgramSplitStream(path("expected.ts").c_str(), in.c_str(), kPMT2), 0);
    Bytes expected = tsb::readFile(path("expected.ts"));
    ASSERT_FALSE(expected.empty());

    // 0512 is decimal: a leading zero does not make it octal.
    const std::vector<std::string> choices[] = {
        {"--pmt-pid", "0x200"}, {"--pmt-pid", "512"}, {"--pmt-pid", "0512"}, {"--pmt-pid", "0X0200"}, {"--program", "2"},
        {"--program", "0x2"},
    };
    int n = 0;
    for (const auto& choice : choices) {
        std::string dest = path("out" + std::to_string(n++) + ".ts");
        tsb::ToolResult r = ts({"extract", choice[0], choice[1], in, dest});
        EXPECT_EQ(r.status, 0) << choice[1];
        EXPECT_EQ(r.err, "") << choice[1];
        EXPECT_TRUE(tsb::readFile(dest) == expected) << choice[0] << " " << choice[1];
    }
}

TEST_F(CliTest, ExtractOfAProgramThatIsNotInThePATFails) {
    std::string in = write("in.ts", multiProgramStream());
    tsb::ToolResult r = ts({"extract", "--program", "9", in, path("out.ts")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rivulet-ts: " + in + ": no program 9 in the PAT.\n");
    EXPECT_FALSE(tsb::fileExists(path("out.ts")));
}

TEST_F(CliTest, ExtractFailuresOfTheDriverGiveStatusOne) {
    std::string in = write("in.ts", multiProgramStream());
    tsb::ToolResult noInput = ts({"extract", "--pmt-pid", "0x100", path("absent.ts"), path("out.ts")});
    EXPECT_EQ(noInput.status, 1);
    EXPECT_EQ(noInput.err, "Error: Failed open " + path("absent.ts") + ".\n");

    std::string badDest = path("no-such-dir/out.ts");
    tsb::ToolResult noDest = ts({"extract", "--pmt-pid", "0x100", in, badDest});
    EXPECT_EQ(noDest.status, 1);
    EXPECT_EQ(noDest.err, "error - failed on _open(" + badDest + ") [dest]\n");
}

// --- pmt-survey ---------------------------------------------------------------

TEST_F(CliTest, PMTSurveyPrintsOneLinePerRunAsTextAndAsJSON) {
    std::string in = write("in.ts", pmtChangeStream());
    TS_PMTSplitData table{};
    ASSERT_EQ(TS_CheckPMTSplit(&table, in.c_str()), 0);
    ASSERT_EQ(table.u16Count, 3);

    std::string a = crcText(crcOf(pmtA())), b = crcText(crcOf(pmtB()));
    std::string expected;
    for (uint16_t i = 0; i < table.u16Count; ++i) {
        expected += crcText(table.ltEntry[i].u32PMTCRC) + " " + std::to_string(table.ltEntry[i].u16Occurrence) + " " +
                    std::to_string(table.ltEntry[i].u64Size) + "\n";
    }
    tsb::ToolResult text = ts({"pmt-survey", in});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(text.out, expected);
    // The runs A, B, A: CRCs as the sections carry them, occurrences 0, 0, 1.
    EXPECT_EQ(text.out.substr(0, 11), a + " 0 ");
    EXPECT_NE(text.out.find("\n" + b + " 0 "), std::string::npos);
    EXPECT_NE(text.out.find("\n" + a + " 1 "), std::string::npos);

    tsb::ToolResult json = ts({"pmt-survey", "--json", in});
    EXPECT_EQ(json.status, 0);
    nlohmann::json doc = nlohmann::json::parse(json.out);
    ASSERT_EQ(doc["runs"].size(), table.u16Count);
    for (uint16_t i = 0; i < table.u16Count; ++i) {
        EXPECT_EQ(doc["runs"][i]["crc"], crcText(table.ltEntry[i].u32PMTCRC));
        EXPECT_EQ(doc["runs"][i]["occurrence"], table.ltEntry[i].u16Occurrence);
        EXPECT_EQ(doc["runs"][i]["size"], table.ltEntry[i].u64Size);
    }
}

TEST_F(CliTest, PMTSurveyOfAMultiProgramStreamFailsWithAMessage) {
    std::string in = write("in.ts", multiProgramStream());
    tsb::ToolResult r = ts({"pmt-survey", in});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "rivulet-ts: " + in + ": not a single-program stream: a PAT lists more than one program.\n");
}

// --- pmt-split ----------------------------------------------------------------

class PMTSplitCliTest : public CliTest {
protected:
    // The files the driver writes for `input` in a directory of their own.
    std::map<std::string, Bytes> driverFiles(uint8_t splitAll, uint32_t crc, bool withDest) {
        std::string dir = tsb::makeTempDir("cli-driver");
        std::string in = dir + "/in.ts";
        tsb::writeFile(in, input_);
        std::string dest = dir + "/dest.ts";
        EXPECT_EQ(TS_PMTSplitFile(in.c_str(), splitAll, crc, withDest ? dest.c_str() : nullptr), 0);
        std::map<std::string, Bytes> files = filesIn(dir);
        tsb::removeTree(dir);
        return files;
    }
    std::map<std::string, Bytes> filesIn(const std::string& dir) {
        std::map<std::string, Bytes> files;
        for (const std::string& name : tsb::listDir(dir)) {
            if (name != "in.ts") files[name] = tsb::readFile(dir + "/" + name);
        }
        return files;
    }

    Bytes input_ = pmtChangeStream();
};

TEST_F(PMTSplitCliTest, WithoutCRCEveryPMTGetsTheDriversFile) {
    std::string in = write("in.ts", input_);
    tsb::ToolResult r = ts({"pmt-split", in});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::map<std::string, Bytes> produced = filesIn(dir_);
    EXPECT_EQ(produced.size(), 2u);
    EXPECT_TRUE(produced.count("in_" + crcText(crcOf(pmtA())) + ".ts"));
    EXPECT_TRUE(produced.count("in_" + crcText(crcOf(pmtB())) + ".ts"));
    EXPECT_TRUE(produced == driverFiles(1, 0, false));
}

TEST_F(PMTSplitCliTest, WithCRCOnlyThatPMTIsWrittenToOutputOrTheDefaultName) {
    std::string in = write("in.ts", input_);
    uint32_t b = crcOf(pmtB());
    std::string dest = path("dest.ts");
    tsb::ToolResult named = ts({"pmt-split", in, "--crc", crcText(b), "--output", dest});
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(named.err, "");
    std::map<std::string, Bytes> expectedNamed = driverFiles(0, b, true);
    ASSERT_EQ(expectedNamed.size(), 1u);
    EXPECT_FALSE(expectedNamed["dest.ts"].empty());
    EXPECT_TRUE(tsb::readFile(dest) == expectedNamed["dest.ts"]);
    tsb::removeTree(dest);

    // Lower-case digits behind 0x name the same CRC.
    char lower[16];
    std::snprintf(lower, sizeof lower, "0x%x", b);
    tsb::ToolResult unnamed = ts({"pmt-split", in, "--crc", lower});
    EXPECT_EQ(unnamed.status, 0);
    EXPECT_TRUE(filesIn(dir_) == driverFiles(0, b, false));
    EXPECT_TRUE(tsb::fileExists(path("in_" + crcText(b) + ".ts")));
}

TEST_F(PMTSplitCliTest, AMultiProgramStreamFailsWithAMessage) {
    std::string in = write("in.ts", multiProgramStream());
    tsb::ToolResult r = ts({"pmt-split", in});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rivulet-ts: " + in + ": not a single-program stream: a PAT lists more than one program.\n");
}

// --- usage ----------------------------------------------------------------------

TEST_F(CliTest, UsageErrorsGiveStatusTwoAndAMessage) {
    const std::vector<std::string> cases[] = {
        {},
        {"frob"},
        {"--frob"},
        {"dump"},
        {"dump", "--nope", "in.ts"},
        {"dump", "a.ts", "b.ts"},
        {"programs"},
        {"programs", "--json"},
        {"extract", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x100", "--program", "1", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x2000", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "12a", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "-1", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x", "in.ts", "out.ts"},
        {"extract", "--program", "0", "in.ts", "out.ts"},
        {"extract", "--program", "65536", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x100", "in.ts"},
        {"pmt-survey"},
        {"pmt-split"},
        {"pmt-split", "in.ts", "--output", "out.ts"},
        {"pmt-split", "in.ts", "--crc", "123456789"},
        {"pmt-split", "in.ts", "--crc", "12G4"},
    };
    for (const auto& args : cases) {
        std::string label;
        for (const std::string& a : args) label += a + " ";
        tsb::ToolResult r = ts(args);
        EXPECT_EQ(r.status, 2) << label;
        EXPECT_EQ(r.out, "") << label;
        EXPECT_EQ(r.err.rfind("rivulet-ts: ", 0), 0u) << label << ": " << r.err;
        EXPECT_NE(r.err.find("--help' for usage.\n"), std::string::npos) << label;
    }
}

TEST_F(CliTest, UsageMessagesNameTheProblem) {
    EXPECT_EQ(ts({"frob"}).err, "rivulet-ts: unknown command frob\nRun 'rivulet-ts --help' for usage.\n");
    EXPECT_EQ(ts({"--frob"}).err, "rivulet-ts: unknown option --frob\nRun 'rivulet-ts --help' for usage.\n");
    tsb::ToolResult badPID = ts({"extract", "--pmt-pid", "0x2000", "in.ts", "out.ts"});
    EXPECT_NE(badPID.err.find("0x2000"), std::string::npos);
    EXPECT_NE(badPID.err.find("Run 'rivulet-ts extract --help' for usage."), std::string::npos);
    EXPECT_NE(ts({"pmt-split", "in.ts", "--output", "o.ts"}).err.find("--output requires --crc"), std::string::npos);
}

TEST_F(CliTest, EverySubcommandAnswersHelp) {
    for (const char* command : {"dump", "programs", "extract", "pmt-survey", "pmt-split"}) {
        tsb::ToolResult r = ts({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.err, "") << command;
        EXPECT_NE(r.out.find(std::string("Usage: rivulet-ts ") + command + " [OPTIONS]"), std::string::npos) << r.out;
    }
    tsb::ToolResult top = ts({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* command : {"dump", "programs", "extract", "pmt-survey", "pmt-split"}) {
        EXPECT_NE(top.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    }
    tsb::ToolResult version = ts({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "rivulet-ts 1.00\n");
}

// --- rivulet ----------------------------------------------------------------------

const char kBanner[] =
    "=== Rivulet === v1.00\n"
    "Split multi-program MPEG-2 TS file to one by one program files.\n"
    "Usage: rivulet <input TS filename>\n";

TEST_F(CliTest, RivuletAnswersHelpAndVersion) {
    for (const char* option : {"-h", "--help"}) {
        tsb::ToolResult r = tsb::runTool({tsb::toolPath(), option});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.err, "") << option;
        EXPECT_EQ(r.out.rfind(kBanner, 0), 0u) << option;
        EXPECT_NE(r.out.find("NAME_<program>_<duplicate>_<revision>.ts"), std::string::npos) << option;
    }
    tsb::ToolResult version = tsb::runTool({tsb::toolPath(), "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "rivulet 1.00\n");
}

TEST_F(CliTest, RivuletRefusesUnknownOptionsButReachesDashNamesThroughAPath) {
    tsb::ToolResult r = tsb::runTool({tsb::toolPath(), "-x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("rivulet: unknown option -x\n") + kBanner);

    write("-name.ts", multiProgramStream());
    tsb::ToolResult split = tsb::runTool({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" ./-name.ts", dir_, tsb::toolPath()});
    EXPECT_EQ(split.status, 0);
    EXPECT_EQ(split.err, "");
    EXPECT_TRUE(tsb::fileExists(path("-name_1_0_0.ts")));
    EXPECT_TRUE(tsb::fileExists(path("-name_2_0_0.ts")));
}

}  // namespace
