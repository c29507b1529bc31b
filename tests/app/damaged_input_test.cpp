// Inputs no driver can use, and inputs that must give what their intact
// packets give: every driver, the splitter through its command.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "rivulet/ts.h"
#include "tests/support/run.h"
#include "tests/support/temp_dir.h"

using tsb::Bytes;

namespace {

// Two programs, one scrambled with an ECM PID and a PMT of two packets, a CAT
// with an EMM PID and PCRs: something for every driver to print or write.
Bytes sample(int rounds) {
    tsb::Stream188 s;
    Bytes longInfo = tsb::concat({tsb::caDescriptor(0x0B00, 0x600), tsb::descriptor(0x05, Bytes(190, 0x41))});
    for (int i = 0; i < rounds; ++i) {
        s.pat({{0, 0x10}, {1, 0x100}, {2, 0x200}}), s.section(1, tsb::catSection(tsb::caDescriptor(0x0B00, 0x700)));
        s.section(0x100, tsb::pmtSection(1, 0x1F0, longInfo, {{0x02, 0x101, {}}, {0x04, 0x102, {}}}));
        s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}));
        s.section(0x600, tsb::section(0x80, 1, 0, {1, 2})), s.section(0x700, tsb::section(0x82, 1, 0, {0, 0, 0x12, 0x34, 0x56, 0x78}));
        s.add(tsb::packet({.pid = 0x1F0, .hasAdaptation = true, .hasPayload = false, .adaptation = tsb::pcrAdaptation(900u * i, 0, 176)}));
        for (uint16_t pid : {0x101, 0x102, 0x201, 0x1FFF}) s.es(pid);
    }
    return s.bytes;
}

// What the splitter and every driver make of the file `in` in `dir`: status
// and messages of each, what the dump printed, then every file written.
std::vector<std::string> results(const TempDir& dir, const std::string& in) {
    static TS_ProgramList list;
    static TS_PMTSplitData table;
    Outcome split = runTool({RIVULET_TOOL, in});
    std::vector<std::string> got = {std::to_string(split.status) + "|" + split.err};
    for (const std::function<int32_t()>& call : std::vector<std::function<int32_t()>>{
             [&] { return TS_Print(in.c_str(), 0x1FF); }, [&] { return TS_GetProgramList(&list, in.c_str()); },
             [&] { return TS_ProgramSplitStream(dir.file("extract.ts").c_str(), in.c_str(), 0x200); },
             [&] { return TS_CheckPMTSplit(&table, in.c_str()); }, [&] { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); }}) {
        Outcome o = captured(call);
        got.push_back(std::to_string(o.status) + "|" + o.err);
        if (got.size() == 2) got.push_back(o.out);
    }
    for (const auto& [name, bytes] : dir.outputs()) got.push_back(name + ":" + tsb::hex(bytes));
    return got;
}

Bytes with192BytePackets(const Bytes& stream, const Bytes& prefix) {
    Bytes out;
    for (size_t at = 0; at < stream.size(); at += 188) out = tsb::concat({out, prefix, Bytes(stream.begin() + long(at), stream.begin() + long(at + 188))});
    return out;
}

}  // namespace

TEST(DamagedInput, NothingUsableGivesNothing) {
    uint32_t noise = 20240607;
    Bytes random(256 * 1024);
    for (uint8_t& b : random) b = uint8_t((noise = noise * 1103515245 + 12345) >> 16);
    const Bytes one = sample(1);
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"less than a packet", Bytes(one.begin(), one.begin() + 187)},
        {"only sync bytes", Bytes(188 * 20 + 5, 0x47)},
        {"random bytes", random},
        {"192-byte packets behind sync bytes", with192BytePackets(sample(2), {0x47, 0x47, 0x47, 0x47})},  // read as PID 0x747
    };
    for (const auto& [name, bytes] : cases) {
        TempDir dir;
        std::vector<std::string> got = results(dir, dir.write("in.ts", bytes));
        got.erase(got.begin() + 2);  // what the dump printed
        EXPECT_EQ(got, std::vector<std::string>(6, "0|")) << name;  // quiet, successful, no file written
    }
}

TEST(DamagedInput, DamageAroundIntactPacketsChangesNothing) {
    Bytes stream = sample(2);
    TempDir clean;
    std::vector<std::string> want = results(clean, clean.write("in.ts", stream));
    ASSERT_EQ(want.size(), 10u);  // split, five drivers, the dump, two programs' files, the extraction
    const std::pair<const char*, Bytes> cases[] = {
        {"cut mid-packet", tsb::concat({stream, Bytes(stream.begin(), stream.begin() + 100)})},
        {"192-byte packets", with192BytePackets(stream, {0x00, 0x1A, 0x2B, 0x3C})},
    };
    for (const auto& [name, bytes] : cases) {
        TempDir dir;
        EXPECT_EQ(results(dir, dir.write("in.ts", bytes)), want) << name;
    }
    // A FIFO hands the bytes over in pieces of the pipe's size.
    TempDir fifo;
    ASSERT_EQ(::mkfifo(fifo.file("in.ts").c_str(), 0600), 0);
    TempDir plain;
    Bytes big = sample(800);
    std::string source = plain.write("in.ts", big);
    ASSERT_EQ(runTool({RIVULET_TOOL, source}).status, 0);
    Outcome r = runTool({RIVULET_TOOL, fifo.file("in.ts")}, "cat '" + source + "' > '" + fifo.file("in.ts") + "' &");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(plain.outputs().size(), 2u);
    EXPECT_TRUE(fifo.outputs() == plain.outputs());
}
