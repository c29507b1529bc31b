// TS_CheckPMTSplit and TS_PMTSplitFile: a single-program stream cut wherever
// its PMT changes. The survey's runs and the segment files are compared with
// the input packets that belong to each PMT.

#include "tests/support/test.h"

namespace {

constexpr uint16_t kPMT = 0x100;
constexpr uint16_t kVideo = 0x101;
constexpr uint16_t kAudio = 0x102;
constexpr uint16_t kExtra = 0x103;

std::string segment(const Bytes& pmt) { return "in_" + crcHex(pmt) + ".ts"; }

// A PMT of the video (with the PCR) and `second`, `padding` registration
// descriptors long.
Bytes pmtWith(uint16_t second, size_t padding = 0, uint8_t tag = 0, uint8_t version = 0) {
    Bytes info;
    for (size_t i = 0; i < padding; ++i) tsb::append(info, tsb::descriptor(0x05, {'R', 'V', tag, uint8_t(i)}));
    return tsb::pmtSection(1, kVideo, info, {{0x1B, kVideo, {}}, {0x0F, second, {}}}, version);
}

const Bytes kA = pmtWith(kAudio);
const Bytes kB = pmtWith(kExtra, 0, 0, 1);
const std::vector<tsb::Program> kSingle = {{0, 0x10}, {1, kPMT}};

const Bytes kSinglePAT = tsb::patSection(1, 0, kSingle);

struct PMTRun {
    Bytes pmt;
    uint16_t occurrence;
    std::vector<size_t> packets;  // the segment file of a PMT holds all its runs
};

struct Case {
    const char* name;
    std::vector<Piece> input;
    std::vector<PMTRun> runs;
    int32_t status = 0;
};

// A packet that ends one PMT section and begins the next.
Case sharedPacket(const char* name, const Bytes& first, const Bytes& second) {
    long rest = long(first.size()) - 183;
    long head = 183 - rest;
    Bytes ends = tsb::packet({.pid = kPMT, .pusi = true, .cc = 1,
                              .payload = tsb::concat({{uint8_t(rest)}, Bytes(first.end() - rest, first.end()),
                                                      Bytes(second.begin(), second.begin() + head)})});
    Bytes begun = tsb::packet({.pid = kPMT, .cc = 2, .payload = Bytes(second.begin() + head, second.end())});
    std::vector<Piece> input = {{0, kSinglePAT}, {kWhole, tsb::psiPacket(kPMT, 0, Bytes(first.begin(), first.begin() + 183))},
                                {kWhole, ends}, {kWhole, begun}, {kVideo}};
    if (first == second) return {name, input, {{first, 0, {0, 1, 2, 0, 3, 4}}}};
    return {name, input, {{first, 0, {0, 1, 2}}, {second, 0, {0, 2, 3, 4}}}};
}

// Ten payload bytes a packet: a 200-byte PMT would touch 21 packets, more
// than any section of the slot's size can.
Case spreadOverTooManyPackets() {
    Bytes big = tsb::concat({{0x00}, pmtWith(kAudio, 30, 3)});
    Bytes stuffing(173, 0xFF);
    stuffing[0] = 0x00;
    std::vector<Piece> input = {{0, kSinglePAT}};
    for (size_t pos = 0; pos < big.size(); pos += 10) {
        Bytes payload(big.begin() + long(pos), big.begin() + long(std::min(pos + 10, big.size())));
        input.push_back({kWhole, tsb::packet({.pid = kPMT, .pusi = pos == 0, .cc = uint8_t(pos / 10 & 15), .hasAdaptation = true,
                                              .adaptation = stuffing, .payload = payload})});
    }
    input.push_back({kPMT, kA});
    input.push_back({kVideo});
    return {"spread over too many packets", input, {{kA, 0, {0, input.size() - 2, input.size() - 1}}}};
}

}  // namespace

TEST(PMTSplit, SurveyAndSegmentFiles) {
    // A video packet between the two packets of a PMT is judged by the PMT in force.
    const Bytes big = pmtWith(kAudio, 40, 1);
    const Bytes big2 = pmtWith(kAudio, 40, 2);
    uint8_t cc = 0;
    const std::vector<Bytes> a = tsb::packetize(kPMT, big, cc);
    const std::vector<Bytes> b = tsb::packetize(kPMT, big2, cc);
    Bytes badPAT = tsb::patSection(1, 1, {{1, kPMT}, {2, 0x200}});
    Bytes badPMT = kB;
    badPAT.back() ^= 1;
    badPMT.back() ^= 1;
    // A section begun on the old PMT PID is not finished on the new one.
    cc = 0;
    std::vector<Bytes> moved = tsb::packetize(kPMT, pmtWith(kAudio, 40, 4), cc);
    moved[1][1] = uint8_t((moved[1][1] & 0xE0) | 0x02);  // to PID 0x200
    moved[1][2] = 0x00;
    const Case cases[] = {
        {"A, B, A",  // 0-4: no stream of A last; 5-9; 10-13
         {{0, kSinglePAT}, {kPMT, kA}, {kVideo}, {kAudio}, {kExtra}, {0, kSinglePAT}, {kPMT, kB}, {kVideo}, {kExtra}, {kAudio},
          {0, kSinglePAT}, {kPMT, kA}, {kAudio}, {kExtra}},
         {{kA, 0, {0, 1, 2, 3}}, {kB, 0, {5, 6, 7, 8}}, {kA, 1, {10, 11, 12}}}},
        {"unchanged", {{0, kSinglePAT}, {kPMT, kA}, {kVideo}, {0, kSinglePAT}, {kPMT, kA}, {kAudio}}, {{kA, 0, {0, 1, 2, 3, 4, 5}}}},
        {"two-packet PMTs",
         {{0, kSinglePAT}, {kWhole, a[0]}, {kVideo}, {kWhole, a[1]}, {kVideo}, {kAudio}, {0, kSinglePAT}, {kWhole, b[0]}, {kVideo},
          {kWhole, b[1]}, {kVideo}},
         {{big, 0, {0, 1, 3, 4, 5, 8}}, {big2, 0, {6, 7, 9, 10}}}},
        {"a PAT between a PMT's packets: the last PAT heads the file", {{0, kSinglePAT}, {kWhole, a[0]}, {0, kSinglePAT},
                                                                         {kWhole, a[1]}, {kVideo}},
         {{big, 0, {2, 1, 3, 4}}}},
        sharedPacket("shared packet, same PMT", pmtWith(kAudio, 30, 1), pmtWith(kAudio, 30, 1)),
        sharedPacket("shared packet, new PMT", pmtWith(kAudio, 30, 1), pmtWith(kAudio, 30, 2)),
        {"CRC failures ignored", {{0, kSinglePAT}, {kPMT, kA}, {0, badPAT}, {kPMT, badPMT}, {kVideo}, {kExtra}}, {{kA, 0, {0, 1, 4}}}},
        {"program entry anywhere",
         {{0, tsb::patSection(1, 0, {{1, kPMT}, {0, 0x10}})}, {kPMT, kA}, {kAudio}, {0, tsb::patSection(1, 0, {{1, kPMT}})}, {kPMT, kA}},
         {{kA, 0, {0, 1, 2, 3, 4}}}},
        {"section begun on an earlier PID",
         {{0, tsb::patSection(1, 0, {{1, kPMT}})}, {kWhole, moved[0]}, {0, tsb::patSection(1, 0, {{1, 0x200}})}, {kWhole, moved[1]},
          {kWhole, tsb::psiPacket(0x200, 2, kA)}, {kVideo}},
         {{kA, 0, {2, 4, 5}}}},
        {"another program's PMT on the PMT PID is no change, and not copied",
         {{0, kSinglePAT}, {kPMT, kA}, {kPMT, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}})}, {kVideo}},
         {{kA, 0, {0, 1, 3}}}},
        {"network entry alone", {{0, tsb::patSection(1, 0, {{0, kPMT}})}, {kPMT, kA}, {kVideo}}, {}},
        {"two programs", {{0, kSinglePAT}, {kPMT, kA}, {kVideo}, {0, tsb::patSection(1, 0, {{1, kPMT}, {2, 0x200}})}, {kPMT, kB}},
         {{kA, 0, {0, 1, 2}}}, TS_ERR_NOT_SINGLE_PROGRAM},
        spreadOverTooManyPackets(),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const tsb::Stream188 s = streamOf(c.input);
        TempDir dir;
        std::string in = dir.write("in.ts", s.bytes);
        static TS_PMTSplitData table;
        EXPECT_EQ(TS_CheckPMTSplit(&table, in.c_str()), c.status);
        ASSERT_EQ(table.u16Count, c.runs.size());
        std::map<std::string, Bytes> files;
        for (size_t i = 0; i < c.runs.size(); ++i) {
            const PMTRun& r = c.runs[i];
            EXPECT_EQ(table.ltEntry[i].u32PMTCRC, std::stoul(crcHex(r.pmt), nullptr, 16)) << i;
            EXPECT_EQ(table.ltEntry[i].u16Occurrence, r.occurrence) << i;
            EXPECT_EQ(table.ltEntry[i].u64Size, r.packets.size() * 188) << i;
            tsb::append(files[segment(r.pmt)], s.packets(r.packets));
        }
        // The survey as text: "CRC occurrence bytes", a line a run.
        std::string survey;
        for (const PMTRun& r : c.runs) {
            survey += crcHex(r.pmt) + " " + std::to_string(r.occurrence) + " " + std::to_string(r.packets.size() * 188) + "\n";
        }
        if (c.status == 0) {
            EXPECT_EQ(runTool({RIVULET_TS_TOOL, "pmt-survey", in}).out, survey);
        }
        EXPECT_EQ(TS_PMTSplitFile(in.c_str(), 1, 0, nullptr), c.status);
        expectFiles(dir, files);
    }
}

// 257 distinct PMTs: 256 runs and 256 files, then the error.
TEST(PMTSplit, TablesOf256Entries) {
    tsb::Stream188 distinct;
    std::vector<Bytes> pmts;
    for (uint16_t i = 0; i < 257; ++i) {
        pmts.push_back(tsb::pmtSection(1, kVideo, tsb::descriptor(0x05, {'R', 'V', uint8_t(i >> 8), uint8_t(i)}), {}));
        distinct.pat(kSingle);
        distinct.section(kPMT, pmts.back());
    }
    TempDir dir;
    std::string in = dir.write("in.ts", distinct.bytes);
    static TS_PMTSplitData table;
    Outcome survey = captured([&] { return TS_CheckPMTSplit(&table, in.c_str()); });
    EXPECT_EQ(survey.status, TS_ERR_TABLE_FULL);
    EXPECT_EQ(survey.err, "Error: More than 256 PMT runs.\n");
    Outcome split = captured([&] { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); });
    EXPECT_EQ(split.status, TS_ERR_TABLE_FULL);
    EXPECT_EQ(split.err, "Error: More than 256 distinct PMTs.\n");
    EXPECT_EQ(dir.outputs().size(), 256u);
    EXPECT_TRUE(dir.outputs()[segment(pmts[255])] == distinct.packets({510, 511}));
}
