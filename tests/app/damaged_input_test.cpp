// Inputs no driver can use, and damage around intact packets, which must
// give what the intact packets give.

#include <sys/stat.h>

#include "tests/support/test.h"

namespace {

// Two programs, one with a PMT of two packets, something for every driver.
Bytes sample(int rounds) {
    tsb::Stream188 s;
    for (int i = 0; i < rounds; ++i) {
        s.pat({{0, 0x10}, {1, 0x100}, {2, 0x200}}), s.section(1, tsb::catSection(tsb::caDescriptor(0x0B00, 0x700)));
        s.section(0x100, tsb::pmtSection(1, 0x101, tsb::descriptor(0x05, Bytes(190, 0x41)), {{0x02, 0x101, {}}}));
        s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}})), s.es(0x101), s.es(0x201), s.es(0x1FFF);
    }
    return s.bytes;
}

// Status and messages of the splitter and every driver, then the files written.
std::vector<std::string> results(const TempDir& dir, const std::string& in) {
    static TS_ProgramList list;
    static TS_PMTSplitData table;
    Outcome split = runTool({RIVULET_TOOL, in});
    std::vector<std::string> got = {std::to_string(split.status) + "|" + split.err};
    for (const std::function<int32_t()>& call : std::vector<std::function<int32_t()>>{
             [&] { return TS_GetProgramList(&list, in.c_str()); }, [&] { return TS_CheckPMTSplit(&table, in.c_str()); },
             [&] { return TS_ProgramSplitStream(dir.file("x.ts").c_str(), in.c_str(), 0x200); },
             [&] { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); }, [&] { return TS_Print(in.c_str(), 0x1FF); }}) {
        Outcome o = captured(call);
        got.push_back(std::to_string(o.status) + "|" + o.err);
    }
    for (const auto& [name, bytes] : dir.outputs()) got.push_back(name + ":" + tsb::hex(bytes));
    return got;
}

Bytes with192BytePackets(const Bytes& stream, const Bytes& prefix) {
    Bytes out;
    for (size_t at = 0; at < stream.size(); at += 188)
        tsb::append(out, tsb::concat({prefix, tsb::packetsAt(stream, {at / 188})}));
    return out;
}

}  // namespace

TEST(DamagedInput, NothingUsableGivesNothing) {
    uint32_t noise = 20240607;
    Bytes random(256 * 1024), one = sample(1);
    for (uint8_t& b : random) b = uint8_t((noise = noise * 1103515245 + 12345) >> 16);
    for (const Bytes& bytes : {Bytes{}, Bytes(one.begin(), one.begin() + 187), Bytes(188 * 20 + 5, 0x47), random,
                               with192BytePackets(one, {0x47, 0x47, 0x47, 0x47})}) {  // read as PID 0x747
        TempDir dir;
        EXPECT_EQ(results(dir, dir.write("in.ts", bytes)), std::vector<std::string>(6, "0|")) << bytes.size();
    }
}

TEST(DamagedInput, DamageAroundIntactPacketsChangesNothing) {
    Bytes stream = sample(2);
    TempDir clean, cut, prefixed;
    std::vector<std::string> want = results(clean, clean.write("in.ts", stream));
    ASSERT_EQ(want.size(), 9u);  // six results; two programs' files and the extraction
    EXPECT_EQ(results(cut, cut.write("in.ts", tsb::concat({stream, Bytes(stream.begin(), stream.begin() + 100)}))), want);
    EXPECT_EQ(results(prefixed, prefixed.write("in.ts", with192BytePackets(stream, {0x00, 0x1A, 0x2B, 0x3C}))), want);
    // A FIFO hands the bytes over in pieces of the pipe's size.
    TempDir fifo, plain;
    std::string source = plain.write("in.ts", sample(800));
    ASSERT_EQ(::mkfifo(fifo.file("in.ts").c_str(), 0600), 0);
    ASSERT_EQ(runTool({RIVULET_TOOL, source}).status, 0);
    Outcome r = runTool({RIVULET_TOOL, fifo.file("in.ts")}, "cat '" + source + "' > '" + fifo.file("in.ts") + "' &");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(plain.outputs().size(), 2u);
    EXPECT_TRUE(fifo.outputs() == plain.outputs());
}
