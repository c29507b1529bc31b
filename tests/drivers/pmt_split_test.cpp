// TS_CheckPMTSplit and TS_PMTSplitFile: a single-program stream cut wherever
// its PMT changes. The survey's runs and the segment files are compared with
// the input packets that belong to each PMT.

#include <functional>

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

struct PMTRun {
    Bytes pmt;
    uint16_t occurrence;
    std::vector<size_t> packets;  // the segment file of a PMT holds all its runs
};

struct Expected {
    std::vector<PMTRun> runs;
    int32_t status = 0;
};

Expected aba(tsb::Stream188& s) {
    s.pat(kSingle);  // 0-4: no stream of A last
    s.section(kPMT, kA);
    s.es(kVideo);
    s.es(kAudio);
    s.es(kExtra);
    s.pat(kSingle);  // 5-9
    s.section(kPMT, kB);
    s.es(kVideo);
    s.es(kExtra);
    s.es(kAudio);
    s.pat(kSingle);  // 10-13
    s.section(kPMT, kA);
    s.es(kAudio);
    s.es(kExtra);
    return {{{kA, 0, {0, 1, 2, 3}}, {kB, 0, {5, 6, 7, 8}}, {kA, 1, {10, 11, 12}}}};
}

// A video packet between the two packets of a PMT is judged by the PMT in force.
Expected twoPacketPMTs(tsb::Stream188& s) {
    Bytes big = pmtWith(kAudio, 40, 1);
    Bytes big2 = pmtWith(kAudio, 40, 2);
    uint8_t cc = 0;
    std::vector<Bytes> a = tsb::packetize(kPMT, big, cc);
    std::vector<Bytes> b = tsb::packetize(kPMT, big2, cc);
    s.pat(kSingle);  // 0-5
    s.add(a[0]);
    s.es(kVideo);
    s.add(a[1]);
    s.es(kVideo);
    s.es(kAudio);
    s.pat(kSingle);  // 6-10
    s.add(b[0]);
    s.es(kVideo);
    s.add(b[1]);
    s.es(kVideo);
    return {{{big, 0, {0, 1, 3, 4, 5, 8}}, {big2, 0, {6, 7, 9, 10}}}};
}

// A packet that ends one PMT section and begins the next.
Expected sharedPacket(tsb::Stream188& s, const Bytes& first, const Bytes& second) {
    long rest = long(first.size()) - 183;
    long head = 183 - rest;
    s.pat(kSingle);
    s.add(tsb::psiPacket(kPMT, 0, Bytes(first.begin(), first.begin() + 183)));
    s.add(tsb::packet({.pid = kPMT, .pusi = true, .cc = 1,
                       .payload = tsb::concat({{uint8_t(rest)}, Bytes(first.end() - rest, first.end()),
                                               Bytes(second.begin(), second.begin() + head)})}));
    s.add(tsb::packet({.pid = kPMT, .cc = 2, .payload = Bytes(second.begin() + head, second.end())}));
    s.es(kVideo);
    if (first == second) return {{{first, 0, {0, 1, 2, 0, 3, 4}}}};
    return {{{first, 0, {0, 1, 2}}, {second, 0, {0, 2, 3, 4}}}};
}

Expected crcFailuresIgnored(tsb::Stream188& s) {
    Bytes pat = tsb::patSection(1, 1, {{1, kPMT}, {2, 0x200}});
    Bytes pmt = kB;
    pat.back() ^= 1;
    pmt.back() ^= 1;
    s.pat(kSingle);
    s.section(kPMT, kA);
    s.section(0, pat);
    s.section(kPMT, pmt);
    s.es(kVideo);
    s.es(kExtra);
    return {{{kA, 0, {0, 1, 4}}}};
}

// A section begun on the old PMT PID is not finished on the new one.
Expected sectionBegunOnAnEarlierPID(tsb::Stream188& s) {
    uint8_t cc = 0;
    std::vector<Bytes> parts = tsb::packetize(kPMT, pmtWith(kAudio, 40, 4), cc);
    parts[1][1] = uint8_t((parts[1][1] & 0xE0) | 0x02);  // moved to PID 0x200
    parts[1][2] = 0x00;
    s.pat({{1, kPMT}});
    s.add(parts[0]);
    s.pat({{1, 0x200}});
    s.add(parts[1]);
    s.cc[0x200] = 2;
    s.section(0x200, kA);
    s.es(kVideo);
    return {{{kA, 0, {2, 4, 5}}}};
}

// Ten payload bytes a packet: a 200-byte PMT would touch 21 packets, more
// than any section of the slot's size can.
Expected spreadOverTooManyPackets(tsb::Stream188& s) {
    Bytes big = tsb::concat({{0x00}, pmtWith(kAudio, 30, 3)});
    Bytes stuffing(173, 0xFF);
    stuffing[0] = 0x00;
    s.pat(kSingle);
    for (size_t pos = 0; pos < big.size(); pos += 10) {
        Bytes payload(big.begin() + long(pos), big.begin() + long(std::min(pos + 10, big.size())));
        s.add(tsb::packet({.pid = kPMT, .pusi = pos == 0, .cc = uint8_t(pos / 10 & 15), .hasAdaptation = true,
                           .adaptation = stuffing, .payload = payload}));
    }
    return {{{kA, 0, {0, s.section(kPMT, kA), s.es(kVideo)}}}};
}

}  // namespace

TEST(PMTSplit, SurveyAndSegmentFiles) {
    const std::pair<const char*, std::function<Expected(tsb::Stream188&)>> cases[] = {
        {"A, B, A", aba},
        {"unchanged",
         [](auto& s) {
             s.pat(kSingle);
             s.section(kPMT, kA);
             s.es(kVideo);
             s.pat(kSingle);
             s.section(kPMT, kA);
             s.es(kAudio);
             return Expected{{{kA, 0, {0, 1, 2, 3, 4, 5}}}};
         }},
        {"two-packet PMTs", twoPacketPMTs},
        {"shared packet, same PMT", [](auto& s) { return sharedPacket(s, pmtWith(kAudio, 30, 1), pmtWith(kAudio, 30, 1)); }},
        {"shared packet, new PMT", [](auto& s) { return sharedPacket(s, pmtWith(kAudio, 30, 1), pmtWith(kAudio, 30, 2)); }},
        {"CRC failures ignored", crcFailuresIgnored},
        {"program entry anywhere",
         [](auto& s) {
             s.pat({{1, kPMT}, {0, 0x10}});
             s.section(kPMT, kA);
             s.es(kAudio);
             s.pat({{1, kPMT}});
             s.section(kPMT, kA);
             return Expected{{{kA, 0, {0, 1, 2, 3, 4}}}};
         }},
        {"section begun on an earlier PID", sectionBegunOnAnEarlierPID},
        {"another program's PMT on the PMT PID is no change, and not copied",
         [](auto& s) {
             s.pat(kSingle);
             s.section(kPMT, kA);
             s.section(kPMT, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}));
             s.es(kVideo);
             return Expected{{{kA, 0, {0, 1, 3}}}};
         }},
        {"network entry alone",
         [](auto& s) {
             s.pat({{0, kPMT}});
             s.section(kPMT, kA);
             s.es(kVideo);
             return Expected{};
         }},
        {"two programs",
         [](auto& s) {
             s.pat(kSingle);
             s.section(kPMT, kA);
             s.es(kVideo);
             s.pat({{1, kPMT}, {2, 0x200}});
             s.section(kPMT, kB);
             return Expected{{{kA, 0, {0, 1, 2}}}, TS_ERR_NOT_SINGLE_PROGRAM};
         }},
        {"spread over too many packets", spreadOverTooManyPackets},
    };
    for (const auto& [name, build] : cases) {
        SCOPED_TRACE(name);
        tsb::Stream188 s;
        Expected want = build(s);
        TempDir dir;
        std::string in = dir.write("in.ts", s.bytes);
        static TS_PMTSplitData table;
        EXPECT_EQ(TS_CheckPMTSplit(&table, in.c_str()), want.status);
        ASSERT_EQ(table.u16Count, want.runs.size());
        std::map<std::string, Bytes> files;
        for (size_t i = 0; i < want.runs.size(); ++i) {
            const PMTRun& r = want.runs[i];
            EXPECT_EQ(table.ltEntry[i].u32PMTCRC, std::stoul(crcHex(r.pmt), nullptr, 16)) << i;
            EXPECT_EQ(table.ltEntry[i].u16Occurrence, r.occurrence) << i;
            EXPECT_EQ(table.ltEntry[i].u64Size, r.packets.size() * 188) << i;
            tsb::append(files[segment(r.pmt)], s.packets(r.packets));
        }
        // The survey as text: "CRC occurrence bytes", a line a run.
        std::string survey;
        for (const PMTRun& r : want.runs) {
            survey += crcHex(r.pmt) + " " + std::to_string(r.occurrence) + " " + std::to_string(r.packets.size() * 188) + "\n";
        }
        if (want.status == 0) {
            EXPECT_EQ(runTool({RIVULET_TS_TOOL, "pmt-survey", in}).out, survey);
        }
        EXPECT_EQ(TS_PMTSplitFile(in.c_str(), 1, 0, nullptr), want.status);
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
