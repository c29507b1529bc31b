// Inputs no driver can use, and damage around intact packets, which must
// give what the intact packets give.

#include <sys/stat.h>

#include "tests/support/test.h"

namespace {

// Two programs, one with a PMT of two packets, something for every driver.
Bytes sample(int rounds) {
    tsb::Stream188 s;
    for (int i = 0; i < rounds; ++i) {
        s.pat({{0, 0x10}, {1, 0x100}, {2, 0x200}});
        s.section(1, tsb::catSection(tsb::caDescriptor(0x0B00, 0x700)));
        s.section(0x100, tsb::pmtSection(1, 0x101, tsb::descriptor(0x05, Bytes(190, 0x41)), {{0x02, 0x101, {}}}));
        s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}));
        s.es(0x101);
        s.es(0x201);
        s.es(0x1FFF);
    }
    return s.bytes;
}

// Status and messages of the splitter, status and last message of every
// driver, and the files written.
struct Results {
    std::vector<std::string> statuses;
    std::map<std::string, Bytes> files;
    bool operator==(const Results&) const = default;
};

std::string lastLine(const std::string& text) {
    size_t cut = text.size() < 2 ? std::string::npos : text.rfind('\n', text.size() - 2);
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

Results results(const TempDir& dir, const std::string& in) {
    static TS_ProgramList list;
    static TS_PMTSplitData table;
    Outcome split = captured([&] { return TS_ProgramSplitFile(in.c_str()); });
    Results got{{std::to_string(split.status) + "|" + split.err}, {}};
    for (const std::function<int32_t()>& call : std::vector<std::function<int32_t()>>{
             [&] { return TS_GetProgramList(&list, in.c_str()); }, [&] { return TS_CheckPMTSplit(&table, in.c_str()); },
             [&] { return TS_ProgramSplitStream(dir.file("x.ts").c_str(), in.c_str(), 0x200); },
             [&] { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); }, [&] { return TS_Print(in.c_str(), 0x1FF); }}) {
        Outcome o = captured(call);
        got.statuses.push_back(std::to_string(o.status) + "|" + lastLine(o.err));
    }
    got.files = dir.outputs();
    return got;
}

}  // namespace

TEST(DamagedInput, NothingUsableGivesNothing) {
    uint32_t noise = 20240607;
    Bytes random(256 * 1024);
    Bytes one = sample(1);
    for (uint8_t& b : random) b = uint8_t((noise = noise * 1103515245 + 12345) >> 16);
    // No packet at all: an error, but for the dump, which shows an empty stream. Packets, but no PAT:
    // nothing to write, said once by each writer.
    const std::string none = "Error: No transport stream packets in {in}.\n";
    const std::string noPAT = "Warning: no PAT in {in}; no file written.\n";
    const std::vector<std::string> noPackets = {"-11|" + none, "-11|" + none, "-11|" + none,
                                                "-11|" + none, "-11|" + none, "0|Warning: no transport stream packets in {in}.\n"};
    const std::vector<std::string> noTables = {"0|" + noPAT, "0|", "0|", "0|" + noPAT, "0|" + noPAT, "0|"};
    const std::pair<Bytes, std::vector<std::string>> cases[] = {
        {Bytes{}, noPackets}, {Bytes(one.begin(), one.begin() + 187), noPackets}, {random, noPackets}, {Bytes(188 * 20 + 5, 0x47), noTables}};
    for (const auto& [bytes, statuses] : cases) {
        TempDir dir;
        std::string in = dir.write("in.ts", bytes);
        std::vector<std::string> want;
        for (const std::string& w : statuses) want.push_back(withInput(w, in));
        Results got = results(dir, in);
        EXPECT_EQ(got.statuses, want) << bytes.size();
        EXPECT_TRUE(got.files.empty()) << bytes.size();
    }
}

TEST(DamagedInput, DamageAroundIntactPacketsChangesNothing) {
    Bytes stream = sample(2);
    TempDir clean;
    TempDir cut;
    TempDir parity;
    TempDir trimmed;
    TempDir lastParityCut;
    Results want = results(clean, clean.write("in.ts", stream));
    ASSERT_EQ(want.files.size(), 3u);  // two programs' files and the extraction
    EXPECT_EQ(results(cut, cut.write("in.ts", tsb::concat({stream, Bytes(stream.begin(), stream.begin() + 100)}))), want);
    // 204-byte packets lose their parity bytes; 192-byte ones keep their header in .m2ts files.
    EXPECT_EQ(results(parity, parity.write("in.ts", framed(stream, {}, Bytes(16, 0x47)))), want);
    // A capture that ends before the parity of its last packet, one of program 2.
    Bytes programLast(stream.begin(), stream.end() - 188);
    Bytes withParity = framed(programLast, {}, Bytes(16, 0));
    EXPECT_EQ(results(lastParityCut, lastParityCut.write("in.ts", Bytes(withParity.begin(), withParity.end() - 16))),
              results(trimmed, trimmed.write("in.ts", programLast)));
    // Junk in front that begins with a sync byte whose recurrence fails only at the first packet's place.
    Bytes front(376, 0x00);
    front[0] = 0x47;
    TempDir fronted;
    EXPECT_EQ(runTool({RIVULET_TOOL, fronted.write("in.ts", tsb::concat({front, stream}))}).err, "Warning: 376 bytes without packet sync skipped.\n");
    // Sync bytes in the headers, which a walk in their phase would take for packets.
    for (const Bytes& header : {Bytes{0x00, 0x1A, 0x2B, 0x47}, Bytes{0x47, 0x47, 0x47, 0x47}}) {
        TempDir m2ts;
        std::string in = m2ts.write("in.ts", framed(stream, header));
        EXPECT_EQ(captured([&] { return TS_Print(in.c_str(), TS_PRINT_PAT); }).out.rfind("Packet size: 192 bytes\n", 0), 0u);
        Results got = results(m2ts, in);
        EXPECT_EQ(got.statuses, want.statuses);
        for (const auto& [name, bytes] : want.files) {
            std::string renamed = name == "x.ts" ? name : name.substr(0, name.size() - 3) + ".m2ts";
            EXPECT_TRUE(got.files[renamed] == framed(bytes, header)) << renamed;
        }
    }
    // A FIFO hands the bytes over in pieces of the pipe's size; its outputs go
    // into the current folder, not beside it.
    TempDir fifo;
    TempDir plain;
    TempDir cwd;
    std::string source = plain.write("in.ts", sample(800));
    ASSERT_EQ(::mkfifo(fifo.file("in.ts").c_str(), 0600), 0);
    ASSERT_EQ(runTool({RIVULET_TOOL, source}).status, 0);
    Outcome r = runTool({RIVULET_TOOL, fifo.file("in.ts")},
                        "cat '" + source + "' > '" + fifo.file("in.ts") + "' & cd '" + cwd.path() + "' &&");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(plain.outputs().size(), 2u);
    EXPECT_TRUE(fifo.outputs().empty());
    EXPECT_TRUE(cwd.outputs() == plain.outputs());
}

// Sync bytes in M2TS headers and in TS headers (PIDs whose low byte is 0x47),
// junk in front and between 188-, 192- and 204-byte packets: the split is
// that of the junk-free twin, and every junk byte is counted.
TEST(DamagedInput, SyncBytesInHeadersNeverTakeTheWalkOffThePackets) {
    tsb::Stream188 s;
    for (int i = 0; i < 20; ++i) {
        s.pat({{0, 0x10}, {1, 0x147}});
        s.section(0x147, tsb::pmtSection(1, 0x1047, {}, {{0x02, 0x1047, {}}}));
        s.es(0x1047);
    }
    const std::pair<Bytes, Bytes> frames[] = {{{}, {}}, {{0x00, 0x47, 0x12, 0x34}, {}}, {{0x47, 0, 0, 0}, {}}, {{0, 0, 0x47, 0}, {}},
                                              {{0, 0, 0, 0x47}, {}}, {{0x47, 0x47, 0x47, 0x47}, {}}, {{}, Bytes(16, 0)}};
    for (const auto& [header, parity] : frames) {
        Bytes twin = framed(s.bytes, header, parity);
        TempDir clean;
        std::string cleanIn = clean.write("in.ts", twin);
        TS_SplitOptions options{};
        ASSERT_EQ(captured([&] { return TS_ProgramSplitFileWith(cleanIn.c_str(), &options); }).status, 0);
        for (const Bytes& junk : {Bytes{0x47}, Bytes{0x47, 0x47}, Bytes{0, 0x47, 0x47}, Bytes{0x47, 1, 0x47, 0x47, 0}}) {
            for (size_t before : {0, 1, 2, 10, 13}) {
                SCOPED_TRACE(tsb::hex(header) + " " + tsb::hex(parity) + " junk " + tsb::hex(junk) + " before packet " + std::to_string(before));
                TempDir dir;
                long at = long(before * (188 + header.size() + parity.size()));
                std::string in = dir.write("in.ts", tsb::concat({Bytes(twin.begin(), twin.begin() + at), junk,
                                                                 Bytes(twin.begin() + at, twin.end())}));
                Outcome o = captured([&] { return TS_ProgramSplitFileWith(in.c_str(), &options); });
                EXPECT_EQ(o.status, 0);
                EXPECT_EQ(o.err, "Warning: " + std::to_string(junk.size()) + " bytes without packet sync skipped.\n");
                EXPECT_TRUE(dir.outputs() == clean.outputs());
            }
        }
    }
}

