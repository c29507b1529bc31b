// End-to-end tests of `rivulet IN.ts`: each output file is compared byte for
// byte with the input packets that belong to its program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/run_tool.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

// A stream being built, with the file each packet must reach.
class Scenario {
public:
    Scenario() : dir_(tsb::makeTempDir("split")) {}
    ~Scenario() { tsb::removeTree(dir_); }

    // Adds packets and names the output files (e.g. "in_1_0_0.ts") that must
    // receive them unchanged.
    void add(const std::vector<Bytes>& packets, const std::set<std::string>& files = {}) {
        for (const Bytes& p : packets) {
            tsb::append(input_, p);
            for (const std::string& f : files) tsb::append(expected_[f], p);
        }
    }
    void add(const Bytes& packet, const std::set<std::string>& files = {}) { add(std::vector<Bytes>{packet}, files); }

    // A PAT section in one packet; each file in `rebuilt` expects its own
    // single-program PAT packet (network entry, then the program).
    void pat(const Bytes& section, const std::map<std::string, Bytes>& rebuilt) {
        Bytes payload = {0x00};
        tsb::append(payload, section);
        add(tsb::packet({.pid = 0, .pusi = true, .cc = patCC_, .payload = payload}));
        for (const auto& [file, singleSection] : rebuilt) tsb::append(expected_[file], patPacket(singleSection));
        patCC_ = (patCC_ + 1) & 15;
    }

    Bytes patPacket(const Bytes& section) const {
        Bytes payload = {0x00};
        tsb::append(payload, section);
        return tsb::packet({.pid = 0, .pusi = true, .cc = patCC_, .payload = payload});
    }

    tsb::ToolResult run() {
        tsb::writeFile(path("in.ts"), input_);
        return tsb::runTool({tsb::toolPath(), path("in.ts")});
    }

    void expectOutputs() {
        std::vector<std::string> names = tsb::listDir(dir_);
        std::set<std::string> produced(names.begin(), names.end());
        produced.erase("in.ts");
        std::set<std::string> wanted;
        for (const auto& [file, bytes] : expected_) wanted.insert(file);
        EXPECT_EQ(produced, wanted);
        for (const auto& [file, bytes] : expected_) {
            Bytes got = tsb::readFile(path(file));
            EXPECT_EQ(got.size(), bytes.size()) << file;
            EXPECT_TRUE(got == bytes) << file << " differs";
        }
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const Bytes& input() const { return input_; }
    Bytes& expected(const std::string& file) { return expected_[file]; }

private:
    std::string dir_;
    Bytes input_;
    std::map<std::string, Bytes> expected_;
    uint8_t patCC_ = 0;
};

std::vector<Bytes> sectionPackets(uint16_t pid, const Bytes& section, uint8_t& cc) {
    return tsb::packetize(pid, section, cc);
}

const std::string kOne = "in_1_0_0.ts";
const std::string kTwo = "in_2_0_0.ts";

}  // namespace

TEST(Splitter, WorkedExampleOfTheSingleProgramPAT) {
    Scenario s;
    // The input PAT packet's header is 47 40 00 17.
    Bytes pat = tsb::patSection(1, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}});
    Bytes payload = {0x00};
    tsb::append(payload, pat);
    s.add(tsb::packet({.pid = 0, .pusi = true, .cc = 7, .payload = payload}));
    ASSERT_EQ(s.run().status, 0);
    Bytes out = tsb::readFile(s.path(kTwo));
    ASSERT_EQ(out.size(), 188u);
    const Bytes head = {0x47, 0x40, 0x00, 0x17, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x01, 0xC1, 0x00, 0x00,
                        0x00, 0x00, 0xE0, 0x10, 0x00, 0x02, 0xE2, 0x00, 0xEE, 0x24, 0xCE, 0xCC};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 25), head);
    for (size_t i = 25; i < 188; ++i) ASSERT_EQ(out[i], 0xFF) << i;
    EXPECT_EQ(tsb::readFile(s.path(kOne)).size(), 188u);
}

TEST(Splitter, RoutesPMTPCRCAAndStreamsOncePerFile) {
    Scenario s;
    uint8_t cc1 = 0, cc2 = 0, es = 0;
    Bytes pat = tsb::patSection(9, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}});
    Bytes single1 = tsb::patSection(9, 0, {{0, 0x10}, {1, 0x100}});
    Bytes single2 = tsb::patSection(9, 0, {{0, 0x10}, {2, 0x200}});
    // Program 1: PCR in its video; program 2: PCR on its own PID, two CA
    // systems at program level and one ECM per component.
    Bytes pmt1 = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}, {0x0F, 0x102, {}}});
    Bytes pmt2 = tsb::pmtSection(2, 0x2FF,
                                 tsb::concat({tsb::caDescriptor(0x0B00, 0x250), tsb::caDescriptor(0x0500, 0x251)}),
                                 {{0x02, 0x201, tsb::caDescriptor(0x0B00, 0x252)}, {0x03, 0x202, {}}});
    s.add(tsb::esPacket(0x101, es), {});  // before any PAT: nowhere
    s.pat(pat, {{kOne, single1}, {kTwo, single2}});
    s.add(tsb::esPacket(0x101, es), {});  // before its PMT: nowhere
    s.add(sectionPackets(0x100, pmt1, cc1), {kOne});
    s.add(sectionPackets(0x200, pmt2, cc2), {kTwo});
    for (int i = 0; i < 3; ++i) {
        s.add(tsb::esPacket(0x101, es), {kOne});
        s.add(tsb::esPacket(0x102, es), {kOne});
        s.add(tsb::esPacket(0x201, es), {kTwo});
        s.add(tsb::esPacket(0x202, es), {kTwo});
        s.add(tsb::esPacket(0x2FF, es), {kTwo});
        s.add(tsb::esPacket(0x250, es), {kTwo});
        s.add(tsb::esPacket(0x251, es), {kTwo});
        s.add(tsb::esPacket(0x252, es), {kTwo});
        s.add(tsb::esPacket(0x1FFF, es), {});
        s.add(tsb::esPacket(0x0001, es), {});
        s.add(tsb::esPacket(0x0010, es), {});
    }
    s.pat(pat, {{kOne, single1}, {kTwo, single2}});
    s.add(tsb::esPacket(0x102, es), {kOne});
    auto result = s.run();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    s.expectOutputs();
}

TEST(Splitter, PMTSpanningTwoPacketsIsCopiedWhole) {
    Scenario s;
    uint8_t cc = 5, es = 0;
    Bytes longInfo = tsb::descriptor(0x05, Bytes(200, 0x41));  // pushes the PMT past 183 bytes
    Bytes pmt = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, longInfo}});
    auto packets = sectionPackets(0x100, pmt, cc);
    ASSERT_EQ(packets.size(), 2u);
    s.pat(tsb::patSection(1, 0, {{1, 0x100}}), {{kOne, tsb::patSection(1, 0, {{1, 0x100}})}});
    s.add(packets, {kOne});
    s.add(tsb::esPacket(0x101, es), {kOne});
    ASSERT_EQ(s.run().status, 0);
    s.expectOutputs();  // also: no network entry, so the rebuilt PAT lists the program alone
}

TEST(Splitter, RebuiltPATIsAPlainPacketWhateverTheInputPATLooksLike) {
    Scenario s;
    // A PAT with an adaptation field, TEI and scrambling bits set, priority 1.
    Bytes pat = tsb::patSection(3, 2, {{0, 0x10}, {1, 0x100}});
    Bytes payload = {0x00};
    tsb::append(payload, pat);
    s.add(tsb::packet({.pid = 0, .pusi = true, .cc = 9, .tei = true, .priority = true, .scrambling = 2,
                       .hasAdaptation = true, .adaptation = {0x00, 0xFF, 0xFF}, .payload = payload}));
    // A PAT spread over two packets: the completing one has no pusi.
    std::vector<tsb::Program> many;
    for (uint16_t i = 1; i <= 50; ++i) many.push_back({i, uint16_t(0x100 + i)});
    Bytes bigPAT = tsb::patSection(3, 3, many);
    uint8_t cc = 10;
    s.add(tsb::packetize(0, bigPAT, cc));
    ASSERT_EQ(s.run().status, 0);
    Bytes out = tsb::readFile(s.path("in_1_0_0.ts"));
    ASSERT_EQ(out.size(), 2 * 188u);
    Bytes first = tsb::packet({.pid = 0, .pusi = true, .cc = 9, .priority = true,
                               .payload = tsb::concat({{0x00}, tsb::patSection(3, 2, {{0, 0x10}, {1, 0x100}})})});
    Bytes second = tsb::packet({.pid = 0, .pusi = true, .cc = 11,
                                .payload = tsb::concat({{0x00}, tsb::patSection(3, 3, {{1, 0x101}})})});
    EXPECT_EQ(tsb::hex(Bytes(out.begin(), out.begin() + 188)), tsb::hex(first));
    EXPECT_EQ(tsb::hex(Bytes(out.begin() + 188, out.end())), tsb::hex(second));
}

TEST(Splitter, DuplicateProgramNumbers) {
    Scenario s;
    uint8_t cc = 0, es = 0;
    // Program 5 twice on two PMT PIDs, and program 6 twice on one PMT PID.
    Bytes pat = tsb::patSection(1, 0, {{0, 0x10}, {5, 0x100}, {5, 0x200}, {6, 0x300}, {6, 0x300}});
    s.pat(pat, {{"in_5_0_0.ts", tsb::patSection(1, 0, {{0, 0x10}, {5, 0x100}})},
                {"in_5_1_0.ts", tsb::patSection(1, 0, {{0, 0x10}, {5, 0x200}})},
                {"in_6_0_0.ts", tsb::patSection(1, 0, {{0, 0x10}, {6, 0x300}})},
                {"in_6_1_0.ts", tsb::patSection(1, 0, {{0, 0x10}, {6, 0x300}})}});
    s.add(sectionPackets(0x100, tsb::pmtSection(5, 0x101, {}, {{0x1B, 0x101, {}}}), cc), {"in_5_0_0.ts"});
    uint8_t cc2 = 0, cc3 = 0;
    s.add(sectionPackets(0x200, tsb::pmtSection(5, 0x201, {}, {{0x1B, 0x201, {}}}), cc2), {"in_5_1_0.ts"});
    s.add(sectionPackets(0x300, tsb::pmtSection(6, 0x301, {}, {{0x1B, 0x301, {}}}), cc3), {"in_6_0_0.ts"});
    s.add(tsb::esPacket(0x101, es), {"in_5_0_0.ts"});
    s.add(tsb::esPacket(0x201, es), {"in_5_1_0.ts"});
    s.add(tsb::esPacket(0x301, es), {"in_6_0_0.ts"});
    ASSERT_EQ(s.run().status, 0);
    s.expectOutputs();
}

TEST(Splitter, ProgramThatLeavesAndReturnsGetsANewRevision) {
    Scenario s;
    uint8_t cc1 = 0, cc2 = 0, es = 0;
    Bytes both = tsb::patSection(1, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}});
    Bytes onlyOne = tsb::patSection(1, 1, {{0, 0x10}, {1, 0x100}});
    Bytes pmt2 = tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}});
    s.pat(both, {{kOne, tsb::patSection(1, 0, {{0, 0x10}, {1, 0x100}})},
                 {kTwo, tsb::patSection(1, 0, {{0, 0x10}, {2, 0x200}})}});
    s.add(sectionPackets(0x200, pmt2, cc2), {kTwo});
    s.add(tsb::esPacket(0x201, es), {kTwo});
    s.pat(onlyOne, {{kOne, tsb::patSection(1, 1, {{0, 0x10}, {1, 0x100}})}});
    s.add(tsb::esPacket(0x201, es), {});  // program 2 is gone
    s.pat(onlyOne, {{kOne, tsb::patSection(1, 1, {{0, 0x10}, {1, 0x100}})}});
    Bytes again = tsb::patSection(1, 2, {{0, 0x10}, {1, 0x100}, {2, 0x200}});
    // Absent from two PATs: the third number counts them.
    s.pat(again, {{kOne, tsb::patSection(1, 2, {{0, 0x10}, {1, 0x100}})},
                  {"in_2_0_2.ts", tsb::patSection(1, 2, {{0, 0x10}, {2, 0x200}})}});
    s.add(sectionPackets(0x200, pmt2, cc2), {"in_2_0_2.ts"});
    s.add(tsb::esPacket(0x201, es), {"in_2_0_2.ts"});
    (void)cc1;
    ASSERT_EQ(s.run().status, 0);
    s.expectOutputs();
}

TEST(Splitter, ProgramMovingItsPMTPIDGoesOnInItsFile) {
    Scenario s;
    uint8_t ccA = 0, ccB = 0, es = 0;
    s.pat(tsb::patSection(1, 0, {{1, 0x100}}), {{kOne, tsb::patSection(1, 0, {{1, 0x100}})}});
    s.add(sectionPackets(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}), ccA), {kOne});
    s.add(tsb::esPacket(0x101, es), {kOne});
    s.pat(tsb::patSection(1, 1, {{1, 0x300}}), {{kOne, tsb::patSection(1, 1, {{1, 0x300}})}});
    s.add(sectionPackets(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}), ccA), {});
    s.add(sectionPackets(0x300, tsb::pmtSection(1, 0x301, {}, {{0x1B, 0x301, {}}}, 1), ccB), {kOne});
    s.add(tsb::esPacket(0x301, es), {kOne});
    s.add(tsb::esPacket(0x101, es), {});  // the old PMT's stream no longer belongs
    ASSERT_EQ(s.run().status, 0);
    s.expectOutputs();
}

TEST(Splitter, SharedPIDsAndASharedPMTPID) {
    Scenario s;
    uint8_t cc = 0, es = 0;
    Bytes pat = tsb::patSection(1, 0, {{1, 0x100}, {2, 0x100}});
    s.pat(pat, {{kOne, tsb::patSection(1, 0, {{1, 0x100}})}, {kTwo, tsb::patSection(1, 0, {{2, 0x100}})}});
    // Both programs' PMTs travel on PID 0x100; both share audio 0x500 and a CA PID.
    Bytes pmt1 = tsb::pmtSection(1, 0x101, tsb::caDescriptor(1, 0x600), {{0x1B, 0x101, {}}, {0x03, 0x500, {}}});
    Bytes pmt2 = tsb::pmtSection(2, 0x201, tsb::caDescriptor(1, 0x600), {{0x1B, 0x201, {}}, {0x03, 0x500, {}}});
    s.add(sectionPackets(0x100, pmt1, cc), {kOne});
    s.add(sectionPackets(0x100, pmt2, cc), {kTwo});
    s.add(tsb::esPacket(0x101, es), {kOne});
    s.add(tsb::esPacket(0x201, es), {kTwo});
    s.add(tsb::esPacket(0x500, es), {kOne, kTwo});
    s.add(tsb::esPacket(0x600, es), {kOne, kTwo});
    // One packet carrying both PMT sections reaches both files, once each.
    Bytes payload = tsb::concat({{0x00}, pmt1, pmt2});
    s.add(tsb::packet({.pid = 0x100, .pusi = true, .cc = cc, .payload = payload}), {kOne, kTwo});
    ASSERT_EQ(s.run().status, 0);
    s.expectOutputs();
}

TEST(Splitter, DamagedPATsAreIgnoredAndNoPATMeansNoFiles) {
    Scenario s;
    Bytes pat = tsb::patSection(1, 0, {{0, 0x10}, {1, 0x100}});
    pat[13] ^= 0x40;  // a bit error: the CRC no longer verifies
    s.add(tsb::packet({.pid = 0, .pusi = true, .payload = tsb::concat({{0x00}, pat})}));
    uint8_t es = 0;
    s.add(tsb::esPacket(0x101, es));
    auto result = s.run();
    EXPECT_EQ(result.status, 0);
    s.expectOutputs();  // none
}

TEST(Splitter, CommandLineAndExitStatuses) {
    auto banner = tsb::runTool({tsb::toolPath()});
    EXPECT_EQ(banner.status, 0);
    EXPECT_EQ(banner.out,
              "=== Rivulet === v1.00\n"
              "Split multi-program MPEG-2 TS file to one by one program files.\n"
              "Usage: rivulet <input TS filename>\n");
    auto missing = tsb::runTool({tsb::toolPath(), "/nonexistent/in.ts"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Error: Failed open /nonexistent/in.ts.\n");

    Scenario s;
    s.pat(tsb::patSection(1, 0, {{1, 0x100}}), {});
    // The output name is taken by a directory: it cannot be opened.
    ASSERT_EQ(::mkdir(s.path(kOne).c_str(), 0755), 0);
    auto blocked = s.run();
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.err, "Error: Failed open " + s.path(kOne) + ".\n");
}

TEST(Splitter, FailedWriteIsReportedAndLeavesAPrefix) {
    Scenario s;
    uint8_t cc = 0, es = 0;
    Bytes pat = tsb::patSection(1, 0, {{1, 0x100}, {2, 0x200}});
    s.pat(pat, {{kOne, tsb::patSection(1, 0, {{1, 0x100}})}, {kTwo, tsb::patSection(1, 0, {{2, 0x200}})}});
    uint8_t cc2 = 0;
    s.add(sectionPackets(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}), cc), {kOne});
    s.add(sectionPackets(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}), cc2), {kTwo});
    for (int i = 0; i < 2000; ++i) {
        s.add(tsb::esPacket(0x101, es), {kOne});
        s.add(tsb::esPacket(0x201, es), {kTwo});
    }
    tsb::writeFile(s.path("in.ts"), s.input());
    // 200 blocks of 512 bytes: far less than either file needs.
    auto result = tsb::runTool({tsb::toolPath(), s.path("in.ts")}, "trap '' XFSZ; ulimit -f 200;");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Error: Failed write " + s.path(kOne) + ".\n"), std::string::npos) << result.err;
    for (const std::string& f : {kOne, kTwo}) {
        Bytes got = tsb::readFile(s.path(f));
        const Bytes& full = s.expected(f);
        ASSERT_LE(got.size(), full.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), full.begin())) << f << " is not a prefix";
    }
    EXPECT_EQ(tsb::readFile(s.path("in.ts")), s.input());
}

TEST(Splitter, SampleCapturesSplitWithoutErrors) {
    std::string dir = tsb::samplesDir();
    if (dir.empty()) GTEST_SKIP() << "no sample captures here";
    std::string out = tsb::makeTempDir("samples");
    for (const std::string& name : tsb::listDir(dir)) {
        if (name.size() < 3 || name.substr(name.size() - 3) != ".ts") continue;
        std::string copy = out + "/" + name;
        tsb::writeFile(copy, tsb::readFile(dir + "/" + name));
        auto result = tsb::runTool({tsb::toolPath(), copy});
        EXPECT_EQ(result.status, 0) << name << ": " << result.err;
        // Every file begins with a PAT packet and holds whole packets.
        for (const std::string& f : tsb::listDir(out)) {
            if (f == name || f.find(name.substr(0, name.size() - 3) + "_") != 0) continue;
            Bytes data = tsb::readFile(out + "/" + f);
            ASSERT_FALSE(data.empty()) << f;
            EXPECT_EQ(data.size() % 188, 0u) << f;
            EXPECT_EQ(data[0], 0x47);
            EXPECT_EQ(data[1] & 0x1F, 0);
            EXPECT_EQ(data[2], 0);
        }
    }
    tsb::removeTree(out);
}

TEST(Splitter, FFprobeSeesOneProgramPerFile) {
    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe is not installed";
    Scenario s;
    uint8_t es = 0;
    Bytes pat = tsb::patSection(1, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}});
    std::vector<uint8_t> pmtCC(3, 0);
    for (int round = 0; round < 20; ++round) {
        s.pat(pat, {});
        s.add(sectionPackets(0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}, {0x03, 0x102, {}}}), pmtCC[1]));
        s.add(sectionPackets(0x200, tsb::pmtSection(2, 0x201, {}, {{0x02, 0x201, {}}}), pmtCC[2]));
        for (uint16_t pid : {0x101, 0x102, 0x201}) s.add(tsb::esPacket(pid, es));
    }
    ASSERT_EQ(s.run().status, 0);
    for (const auto& [file, program, streams] :
         {std::tuple<std::string, std::string, std::string>{kOne, "1", "2"}, {kTwo, "2", "1"}}) {
        std::string cmd = "ffprobe -v quiet -show_entries program=program_id,nb_streams -of csv=p=0 '" + s.path(file) + "'";
        FILE* pipe = ::popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[256] = {};
        std::string out;
        while (std::fgets(line, sizeof line, pipe)) out += line;
        ::pclose(pipe);
        // One program line ("id,streams,"), then only the blank lines of its sections.
        EXPECT_EQ(out.substr(0, out.find('\n')), program + "," + streams + ",") << file;
        EXPECT_EQ(out.find_first_not_of('\n', out.find('\n')), std::string::npos) << file;
    }
}
