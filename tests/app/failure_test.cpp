// Every driver, through its command and through its function, on inputs and
// outputs that cannot be used: the exit status, the status code and the
// message; and files cut by a size limit hold a prefix of what they would.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "rivulet/ts.h"
#include "tests/support/run.h"
#include "tests/support/temp_dir.h"

using tsb::Bytes;

namespace {

const Bytes kPMTSection = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}, {0x0F, 0x102, {}}});

Bytes singleProgram(int rounds) {
    tsb::Stream188 s;
    for (int i = 0; i < rounds; ++i) {
        s.pat({{0, 0x10}, {1, 0x100}}), s.section(0x100, kPMTSection);
        for (int k = 0; k < 10; ++k) s.es(0x101), s.es(0x102);
    }
    return s.bytes;
}

std::string segmentName() {
    const Bytes& s = kPMTSection;
    char name[32];
    std::snprintf(name, sizeof name, "in_%02X%02X%02X%02X.ts", s[s.size() - 4], s[s.size() - 3], s[s.size() - 2], s.back());
    return name;
}

// Replaces {in}, {out} and {dir} in `text`.
std::string filled(std::string text, const std::string& in, const std::string& out, const std::string& dir) {
    for (const auto& [key, value] : {std::pair{"{in}", in}, {"{out}", out}, {"{dir}", dir}}) {
        for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, std::string(key).size(), value);
    }
    return text;
}

struct Driver {
    const char* name;
    std::vector<std::string> command;  // with {in} and {out}
    std::function<int32_t(const std::string& in, const std::string& out)> call;
    bool writes;
};

const std::vector<Driver>& drivers() {
    static const std::string crc = segmentName().substr(3, 8);
    static const std::vector<Driver> all = {
        {"split", {RIVULET_TOOL, "{in}"}, [](auto& in, auto&) { return TS_ProgramSplitFile(in.c_str()); }, true},
        {"dump", {RIVULET_TS_TOOL, "dump", "--all", "{in}"}, [](auto& in, auto&) { return TS_Print(in.c_str(), 0x1FF); }, false},
        {"programs", {RIVULET_TS_TOOL, "programs", "{in}"},
         [](auto& in, auto&) {
             static TS_ProgramList list;
             return TS_GetProgramList(&list, in.c_str());
         },
         false},
        {"extract", {RIVULET_TS_TOOL, "extract", "--pmt-pid", "0x100", "{in}", "{out}"},
         [](auto& in, auto& out) { return TS_ProgramSplitStream(out.c_str(), in.c_str(), 0x100); }, true},
        {"pmt-survey", {RIVULET_TS_TOOL, "pmt-survey", "{in}"},
         [](auto& in, auto&) {
             static TS_PMTSplitData table;
             return TS_CheckPMTSplit(&table, in.c_str());
         },
         false},
        {"pmt-split", {RIVULET_TS_TOOL, "pmt-split", "{in}"}, [](auto& in, auto&) { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); },
         true},
        {"pmt-split --crc", {RIVULET_TS_TOOL, "pmt-split", "{in}", "--crc", crc, "--output", "{out}"},
         [](auto& in, auto& out) { return TS_PMTSplitFile(in.c_str(), 0, std::stoul(crc, nullptr, 16), out.c_str()); }, true},
    };
    return all;
}

struct Failure {
    const char* name;
    bool unprivileged;  // permissions do not bind root: run as nobody
    // Makes the input (or not) and the failure in `dir`; returns {input, output}.
    std::function<std::pair<std::string, std::string>(const TempDir& dir)> setUp;
    std::map<std::string, std::pair<int32_t, std::string>> expected;  // by driver: status and message
};

void link(const std::string& target, const std::string& name) { ASSERT_EQ(::symlink(target.c_str(), name.c_str()), 0); }

std::vector<Failure> failures() {
    const std::pair<int32_t, std::string> openIn = {TS_ERR_OPEN_INPUT, "Error: Failed open {in}.\n"};
    const std::pair<int32_t, std::string> readIn = {TS_ERR_READ, "Error: Failed read {in}.\n"};
    auto everyDriver = [](const std::pair<int32_t, std::string>& e) {
        std::map<std::string, std::pair<int32_t, std::string>> m;
        for (const Driver& d : drivers()) m[d.name] = e;
        return m;
    };
    const std::string seg = "{dir}/" + segmentName();
    auto writers = [&](int32_t split, int32_t extract, int32_t pmt, const std::string& verb, const std::string& dest) {
        return std::map<std::string, std::pair<int32_t, std::string>>{
            {"split", {split, "Error: Failed " + verb + " {dir}/in_1_0_0.ts.\n"}},
            {"extract", {extract, dest}},
            {"pmt-split", {pmt, "Error: Failed " + verb + " " + seg + ".\n"}},
            {"pmt-split --crc", {pmt, "Error: Failed " + verb + " {out}.\n"}}};
    };
    const std::string refused = "error - failed on _open({out}) [dest]\n";
    return {
        {"input missing", false, [](const TempDir& d) { return std::pair{d.file("missing.ts"), d.file("out.ts")}; },
         everyDriver(openIn)},
        {"input is a folder", false,
         [](const TempDir& d) {
             ::mkdir(d.file("in.ts").c_str(), 0755);
             return std::pair{d.file("in.ts"), d.file("out.ts")};
         },
         everyDriver(readIn)},
        {"input without read permission", true,
         [](const TempDir& d) {
             ::chmod(d.write("in.ts", singleProgram(1)).c_str(), 0200);
             return std::pair{d.file("in.ts"), d.file("out.ts")};
         },
         everyDriver(openIn)},
        {"output folder read-only", true,
         [](const TempDir& d) {
             d.write("in.ts", singleProgram(1));
             ::chmod(d.path().c_str(), 0500);
             return std::pair{d.file("in.ts"), d.file("out.ts")};
         },
         writers(TS_ERR_OPEN_OUTPUT, TS_ERR_OPEN_OUTPUT, TS_ERR_PMT_SPLIT_OPEN_OUTPUT, "open", refused)},
        {"output cannot be written", false,
         [](const TempDir& d) {
             d.write("in.ts", singleProgram(1));
             link("/dev/full", d.file("in_1_0_0.ts"));
             link("/dev/full", d.file(segmentName()));
             return std::pair{d.file("in.ts"), std::string("/dev/full")};
         },
         writers(TS_ERR_WRITE, TS_ERR_WRITE, TS_ERR_WRITE, "write", "Error: Failed write {out}.\n")},
        {"input named as output", false,
         [](const TempDir& d) {
             d.write("in.ts", singleProgram(1));
             link(d.file("in.ts"), d.file("in_1_0_0.ts"));
             link(d.file("in.ts"), d.file(segmentName()));
             return std::pair{d.file("in.ts"), d.file("in.ts")};
         },
         writers(TS_ERR_OPEN_OUTPUT, TS_ERR_OPEN_OUTPUT, TS_ERR_PMT_SPLIT_OPEN_OUTPUT, "open", refused)},
    };
}

void expectFailure(const Failure& f) {
    for (const Driver& d : drivers()) {
        if (!f.expected.count(d.name)) continue;
        SCOPED_TRACE(std::string(f.name) + ", " + d.name);
        const auto& [status, message] = f.expected.at(d.name);
        for (bool command : {true, false}) {
            TempDir dir;
            auto [in, out] = f.setUp(dir);
            Bytes before = tsb::readFile(in);
            Outcome o;
            if (command) {
                std::vector<std::string> argv;
                for (const std::string& a : d.command) argv.push_back(filled(a, in, out, dir.path()));
                o = runTool(argv);
                EXPECT_EQ(o.status, 1);
            } else {
                o = captured([&] { return d.call(in, out); });
                EXPECT_EQ(o.status, status);
            }
            EXPECT_EQ(o.err, filled(message, in, out, dir.path()));
            EXPECT_TRUE(tsb::readFile(in) == before);
        }
    }
}

}  // namespace

TEST(Failures, EveryDriverReportsWhatWentWrong) {
    for (const Failure& f : failures()) {
        if (!f.unprivileged || ::geteuid() != 0) {
            expectFailure(f);
            continue;
        }
        constexpr uid_t kNobody = 65534;
        EXPECT_EXIT(
            {
                if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) std::_Exit(3);
                expectFailure(f);
                std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), "")
            << f.name;
    }
}

// Under a file size limit (SIGXFSZ ignored, so writes fail with EFBIG) the
// writing commands report the failed write, every file holds a prefix of
// what it holds without the limit, and the input stays as it was.
TEST(Failures, FilesCutByASizeLimitHoldAPrefix) {
    const std::vector<std::string> commands[] = {
        {RIVULET_TOOL, "{in}"},
        {RIVULET_TS_TOOL, "extract", "--pmt-pid", "0x100", "{in}", "{dir}/extract.ts"},
        {RIVULET_TS_TOOL, "pmt-split", "{in}"},
    };
    Bytes input = singleProgram(800);
    for (const auto& command : commands) {
        for (int blocks : {1, 7, 300}) {
            SCOPED_TRACE(command[1] + " " + std::to_string(blocks));
            TempDir full, cut;
            for (const TempDir* dir : {&full, &cut}) {
                std::vector<std::string> argv;
                for (const std::string& a : command) argv.push_back(filled(a, dir->write("in.ts", input), "", dir->path()));
                Outcome o = runTool(argv, dir == &cut ? "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + ";" : "");
                EXPECT_EQ(o.status, dir == &cut ? 1 : 0);
                EXPECT_TRUE(dir == &full || o.err.rfind("Error: Failed write " + cut.path() + "/", 0) == 0) << o.err;
            }
            auto want = full.outputs();
            bool someCut = false;
            for (const auto& [name, bytes] : cut.outputs()) {
                ASSERT_TRUE(want.count(name)) << name;
                EXPECT_TRUE(bytes.size() <= want[name].size() && std::equal(bytes.begin(), bytes.end(), want[name].begin())) << name;
                someCut = someCut || bytes.size() < want[name].size();
            }
            EXPECT_TRUE(someCut);
            EXPECT_TRUE(tsb::readFile(cut.file("in.ts")) == input);
        }
    }
}
