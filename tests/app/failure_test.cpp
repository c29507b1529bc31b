// Every driver, through its command and through its function, on inputs and
// outputs that cannot be used: the exit status, the status code and the
// message; and files cut by a size limit hold a prefix of what they would.

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "tests/support/test.h"

namespace {

const Bytes kPMTSection = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}, {0x0F, 0x102, {}}});

Bytes singleProgram(int rounds) {
    tsb::Stream188 s;
    for (int i = 0; i < rounds; ++i) {
        s.pat({{0, 0x10}, {1, 0x100}});
        s.section(0x100, kPMTSection);
        for (int k = 0; k < 10; ++k) {
            s.es(0x101);
            s.es(0x102);
        }
    }
    return s.bytes;
}

std::string segmentName() { return "in_" + crcHex(kPMTSection) + ".ts"; }

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
    std::function<int32_t(const char* in, const char* out)> call;
};

const std::vector<Driver>& drivers() {
    static TS_ProgramList list;
    static TS_PMTSplitData table;
    static const std::string crc = segmentName().substr(3, 8);
    static const std::vector<Driver> all = {
        {"split", {RIVULET_TOOL, "{in}"}, [](auto in, auto) { return TS_ProgramSplitFile(in); }},
        {"dump", {RIVULET_TS_TOOL, "dump", "--all", "{in}"}, [](auto in, auto) { return TS_Print(in, 0x1FF); }},
        {"programs", {RIVULET_TS_TOOL, "programs", "{in}"}, [](auto in, auto) { return TS_GetProgramList(&list, in); }},
        {"extract",
         {RIVULET_TS_TOOL, "extract", "--pmt-pid", "0x100", "{in}", "{out}"},
         [](auto in, auto out) { return TS_ProgramSplitStream(out, in, 0x100); }},
        {"pmt-survey", {RIVULET_TS_TOOL, "pmt-survey", "{in}"}, [](auto in, auto) { return TS_CheckPMTSplit(&table, in); }},
        {"pmt-split",
         {RIVULET_TS_TOOL, "pmt-split", "{in}"},
         [](auto in, auto) { return TS_PMTSplitFile(in, 1, 0, nullptr); }},
        {"pmt-split --crc",
         {RIVULET_TS_TOOL, "pmt-split", "{in}", "--crc", crc, "--output", "{out}"},
         [](auto in, auto out) { return TS_PMTSplitFile(in, 0, uint32_t(std::stoul(crc, nullptr, 16)), out); }},
    };
    return all;
}

using Expected = std::map<std::string, std::pair<int32_t, std::string>>;  // by driver: status and message

struct Failure {
    const char* name;
    bool unprivileged;  // permissions do not bind root: run as nobody
    std::string out;  // the output named to the drivers, with {dir} and {in}
    // Makes the input (or not) and the failure in `dir`.
    std::function<void(const TempDir& dir)> setUp;
    Expected expected;
};

void link(const std::string& target, const std::string& name) { ASSERT_EQ(::symlink(target.c_str(), name.c_str()), 0); }

std::string input(const TempDir& d) { return d.write("in.ts", singleProgram(1)); }

Expected everyDriver(int32_t status, const std::string& message) {
    Expected e;
    for (const Driver& d : drivers()) e[d.name] = {status, message};
    return e;
}

Expected writers(int32_t split, int32_t pmtSplit, const std::string& verb, const std::string& extract) {
    return {{"split", {split, "Error: Failed " + verb + " {dir}/in_1_0_0.ts.\n"}},
            {"extract", {split, extract}},
            {"pmt-split", {pmtSplit, "Error: Failed " + verb + " {dir}/" + segmentName() + ".\n"}},
            {"pmt-split --crc", {pmtSplit, "Error: Failed " + verb + " {out}.\n"}}};
}

std::vector<Failure> failures() {
    const std::string refused = "error - failed on _open({out}) [dest]\n";
    return {
        {"input missing", false, "{dir}/out.ts", [](auto&) {},
         everyDriver(TS_ERR_OPEN_INPUT, "Error: Failed open {in}.\n  No such file or directory\n")},
        {"input is a folder", false, "{dir}/out.ts", [](auto& d) { ASSERT_EQ(::mkdir(d.file("in.ts").c_str(), 0755), 0); },
         everyDriver(TS_ERR_READ, "Error: Failed read {in}.\n  Is a directory\n")},
        {"input without read permission", true, "{dir}/out.ts", [](auto& d) { ASSERT_EQ(::chmod(input(d).c_str(), 0200), 0); },
         everyDriver(TS_ERR_OPEN_INPUT, "Error: Failed open {in}.\n  Permission denied\n")},
        {"output folder read-only", true, "{dir}/out.ts",
         [](auto& d) {
             input(d);
             ASSERT_EQ(::chmod(d.path().c_str(), 0500), 0);
         },
         writers(TS_ERR_OPEN_OUTPUT, TS_ERR_PMT_SPLIT_OPEN_OUTPUT, "open", refused)},
        {"output names taken by a link and a device", false, "/dev/full",
         [](auto& d) {
             input(d);
             link("/dev/full", d.file("in_1_0_0.ts"));
             link("/dev/full", d.file(segmentName()));
         },
         writers(TS_ERR_OPEN_OUTPUT, TS_ERR_PMT_SPLIT_OPEN_OUTPUT, "open", refused)},
        {"output names taken by FIFOs nobody reads", false, "{dir}/out.ts",
         [](auto& d) {
             input(d);
             for (const std::string& name : {std::string("in_1_0_0.ts"), segmentName(), std::string("out.ts")}) {
                 EXPECT_EQ(::mkfifo(d.file(name).c_str(), 0600), 0);
             }
         },
         writers(TS_ERR_OPEN_OUTPUT, TS_ERR_PMT_SPLIT_OPEN_OUTPUT, "open", refused)},
        {"input named as output", false, "{in}",
         [](auto& d) {
             input(d);
             link(d.file("in.ts"), d.file("in_1_0_0.ts"));
             link(d.file("in.ts"), d.file(segmentName()));
         },
         writers(TS_ERR_OPEN_OUTPUT, TS_ERR_PMT_SPLIT_OPEN_OUTPUT, "open", refused)},
    };
}

void expectFailure(const Failure& f) {
    for (const Driver& d : drivers()) {
        if (!f.expected.count(d.name)) continue;
        SCOPED_TRACE(std::string(f.name) + ", " + d.name);
        for (bool command : {true, false}) {
            TempDir dir;
            std::string in = dir.file("in.ts");
            std::string out = filled(f.out, in, "", dir.path());
            f.setUp(dir);
            Bytes before = tsb::readFile(in);
            std::vector<std::string> argv;
            for (const std::string& a : d.command) argv.push_back(filled(a, in, out, dir.path()));
            Outcome o = command ? runTool(argv) : captured([&] { return d.call(in.c_str(), out.c_str()); });
            EXPECT_EQ(o.status, command ? 1 : f.expected.at(d.name).first) << (command ? "command" : "call");
            EXPECT_EQ(o.err, filled(f.expected.at(d.name).second, in, out, dir.path()));
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
                // A tree under a folder only root may enter (/root) leaves nobody nothing to run.
                if (::access(RIVULET_TOOL, X_OK) != 0) std::_Exit(0);
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
        {RIVULET_TOOL, "-n", "{program} {service}", "{in}"},  // the split that watches for names
        {RIVULET_TS_TOOL, "extract", "--pmt-pid", "0x100", "{in}", "{dir}/extract.ts"},
        {RIVULET_TS_TOOL, "pmt-split", "{in}"},
    };
    Bytes input = singleProgram(800);
    for (const auto& command : commands) {
        for (int blocks : {1, 7, 300}) {
            SCOPED_TRACE(command[command.size() - 2] + " " + std::to_string(blocks));
            TempDir full;
            TempDir cut;
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
                EXPECT_TRUE(bytes.size() <= want[name].size() && std::equal(bytes.begin(), bytes.end(), want[name].begin()))
                    << name;
                EXPECT_EQ(bytes.size() % 188, 0u) << name;
                someCut = someCut || bytes.size() < want[name].size();
            }
            EXPECT_TRUE(someCut);
            EXPECT_TRUE(tsb::readFile(cut.file("in.ts")) == input);
        }
    }
}
