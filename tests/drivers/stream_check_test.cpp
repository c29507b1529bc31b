// TS_CheckStream on streams built packet by packet: continuity, transport
// errors and scrambling per PID, PCR durations and discontinuities, roles
// from the tables and sums per program, every figure known by construction.

#include <memory>
#include <tuple>

#include "tests/support/test.h"

namespace {

constexpr uint16_t kPMT = 0x100;
constexpr uint16_t kPCR = 0x101;
constexpr uint16_t kAudio = 0x102;
constexpr uint64_t kMs = 27000;                               // 27 MHz ticks
constexpr uint64_t kWrap = (uint64_t(1) << 33) * 300;

struct Pkt {
    uint8_t cc;
    bool payload = true;
    bool discontinuity = false;
    bool tei = false;
    uint8_t scrambling = 0;
    uint8_t flags = 0;  // of an adaptation field, besides the discontinuity_indicator
};

Bytes esPacket(uint16_t pid, const Pkt& p) {
    Bytes adaptation(p.payload ? 1 : 183, 0xFF);
    adaptation[0] = uint8_t((p.discontinuity ? 0x80 : 0x00) | p.flags);
    return tsb::packet({.pid = pid, .cc = p.cc, .tei = p.tei, .scrambling = p.scrambling,
                        .hasAdaptation = p.discontinuity || !p.payload || p.flags, .hasPayload = p.payload,
                        .adaptation = adaptation, .payload = Bytes(p.payload ? 8 : 0, 0xAA)});
}

Bytes pcrAt(uint16_t pid, uint64_t pcr, bool flagged = false, bool tei = false, bool noPCRFlag = false,
            bool overlong = false) {
    Bytes adaptation = tsb::pcrAdaptation(pcr / 300, uint16_t(pcr % 300), 176);
    if (flagged) adaptation[0] |= 0x80;
    if (noPCRFlag) adaptation[0] = (adaptation[0] & 0xEF) | 0x01;  // the bytes stay, as stuffing; an extension flagged
    Bytes packet = tsb::packet({.pid = pid, .tei = tei, .hasAdaptation = true, .hasPayload = false, .adaptation = adaptation});
    if (overlong) packet[4] = 184;  // one byte more than the packet has
    return packet;
}

// Program 1 on PMT 0x100: its PCR on PID 0x101 alone, MPEG audio on 0x102.
void addTables(tsb::Stream188& s) {
    s.pat({{1, kPMT}});
    s.section(kPMT, tsb::pmtSection(1, kPCR, {}, {{0x03, kAudio, {}}}));
}

std::unique_ptr<TS_CheckResult> check(const Bytes& stream) {
    TempDir dir;
    auto result = std::make_unique<TS_CheckResult>();
    std::string in = dir.write("in.ts", stream);
    EXPECT_EQ(TS_CheckStream(result.get(), in.c_str(), nullptr, nullptr), 0);
    return result;
}

struct ContinuityCase {
    const char* name;
    uint16_t pid;
    std::vector<Pkt> packets;
    uint64_t ccErrors;
    uint64_t lost;
    uint64_t duplicates;
    uint64_t tei;
    uint64_t scrambled;
};

const ContinuityCase kContinuityCases[] = {
    {"drops at two places", kAudio, {{0}, {1}, {2}, {5}, {6}, {8}}, 2, 3, 0, 0, 0},
    {"counter across its wrap", kAudio, {{14}, {15}, {0}, {1}, {5}}, 1, 3, 0, 0, 0},
    {"one repeat", kAudio, {{0}, {1}, {1}, {2}}, 0, 0, 1, 0, 0},
    {"stuck counter", kAudio, {{3}, {3}, {3}, {3}}, 2, 30, 1, 0, 0},
    {"flagged discontinuity", kAudio, {{0}, {1}, {9, true, true}, {10}}, 0, 0, 0, 0, 0},
    {"every other flag", kAudio, {{0}, {1}, {9, true, false, false, 0, 0x6F}, {10}}, 1, 7, 0, 0, 0},
    {"flag without payload", kAudio, {{0}, {1}, {1, false, true}, {7}, {8}}, 0, 0, 0, 0, 0},
    {"no payload keeps the counter", kAudio, {{0}, {1}, {5, false}, {2}}, 0, 0, 0, 0, 0},
    {"transport error", kAudio, {{0}, {1}, {9, true, false, true, 2}, {2}}, 0, 0, 0, 1, 1},
    {"scrambled stretch", kAudio, {{0}, {1, true, false, false, 2}, {2, true, false, false, 3}, {3, true, false, false, 2}, {4}},
     0, 0, 0, 0, 3},
    {"null PID", TS_PID_NULL, {{0}, {5}, {5}, {5}, {9}}, 0, 0, 0, 0, 0},
};

struct PCRStep {
    uint64_t pcr;
    bool flagged = false;
    bool tei = false;
    bool noPCRFlag = false;
    bool overlong = false;
};

struct PCRCase {
    const char* name;
    std::vector<PCRStep> pcrs;
    uint64_t counted;
    uint64_t duration;
    uint64_t discontinuities;
};

const PCRCase kPCRCases[] = {
    {"steady", {{0}, {40 * kMs}, {80 * kMs}, {120 * kMs}}, 4, 120 * kMs, 0},
    {"across the wrap", {{kWrap - 20 * kMs}, {20 * kMs}, {60 * kMs}}, 3, 80 * kMs, 0},
    {"jump back without flag", {{0}, {40 * kMs}, {10 * kMs}, {50 * kMs}}, 4, 80 * kMs, 1},
    {"jump ahead without flag", {{0}, {40 * kMs}, {1041 * kMs}, {1081 * kMs}}, 4, 80 * kMs, 1},
    {"sparse: steps of 200 ms and 1 s, then of one tick more", {{0}, {200 * kMs}, {1200 * kMs}, {2200 * kMs + 1}}, 4, 1200 * kMs, 1},
    {"flagged jump", {{0}, {40 * kMs}, {5000 * kMs, true}, {5040 * kMs}}, 4, 80 * kMs, 0},
    {"flagged short step", {{0}, {40 * kMs}, {80 * kMs, true}, {120 * kMs}}, 4, 80 * kMs, 0},
    {"PCR of a transport error", {{0}, {40 * kMs}, {80 * kMs, false, true}, {120 * kMs}}, 3, 120 * kMs, 0},
    {"PCR bytes without the PCR flag", {{0}, {40 * kMs}, {9000 * kMs, false, false, true}, {80 * kMs}}, 3, 80 * kMs, 0},
    {"PCR in an adaptation field longer than its packet", {{0}, {40 * kMs}, {9000 * kMs, false, false, false, true}, {80 * kMs}}, 3, 80 * kMs, 0},
};

}  // namespace

TEST(StreamCheck, CountsContinuityAsReceiversDo) {
    for (const ContinuityCase& c : kContinuityCases) {
        SCOPED_TRACE(c.name);
        tsb::Stream188 s;
        addTables(s);
        for (const Pkt& p : c.packets) s.add(esPacket(c.pid, p));
        auto r = check(s.bytes);
        const TS_CheckPID& pid = r->ltPID[c.pid];
        EXPECT_EQ(pid.u64Packets, c.packets.size());
        EXPECT_EQ(pid.u64CCErrors, c.ccErrors);
        EXPECT_EQ(pid.u64LostPackets, c.lost);
        EXPECT_EQ(pid.u64Duplicates, c.duplicates);
        EXPECT_EQ(pid.u64TEI, c.tei);
        EXPECT_EQ(pid.u64Scrambled, c.scrambled);
        EXPECT_EQ(r->u64Packets, s.count());
        ASSERT_EQ(r->u16ProgramCount, 1);
        EXPECT_EQ(r->ltProgram[0].u64CCErrors, c.pid == kAudio ? c.ccErrors : 0);
    }
}

TEST(StreamCheck, TimesProgramsByTheirPCR) {
    for (const PCRCase& c : kPCRCases) {
        SCOPED_TRACE(c.name);
        tsb::Stream188 s;
        addTables(s);
        for (const PCRStep& p : c.pcrs) s.add(pcrAt(kPCR, p.pcr, p.flagged, p.tei, p.noPCRFlag, p.overlong));
        auto r = check(s.bytes);
        EXPECT_EQ(r->ltPID[kPCR].u64PCRs, c.counted);
        EXPECT_EQ(r->ltPID[kPCR].u64PCRDiscontinuities, c.discontinuities);
        EXPECT_EQ(r->ltProgram[0].u64Duration, c.duration);
        EXPECT_EQ(r->u64Duration, c.duration);
    }
}

TEST(StreamCheck, NamesRolesAndSumsPerProgram) {
    constexpr uint16_t kVideo = 0x110;
    constexpr uint16_t kShared = 0x111;
    constexpr uint16_t kECM = 0x120;
    constexpr uint16_t kEMM = 0x300;
    constexpr uint16_t kH264 = 0x210;
    constexpr uint16_t kStray = 0x500;
    constexpr uint16_t kNetwork = 0x30;  // the PAT's network PID: service information wherever it is
    tsb::Stream188 s;
    s.pat({{0, kNetwork}, {1, kPMT}, {2, 0x200}});
    s.section(TS_PID_CAT, tsb::catSection(tsb::caDescriptor(0x0B00, kEMM)));
    s.section(kPMT, tsb::pmtSection(1, kPCR, {}, {{0x02, kVideo, {}}, {0x03, kShared, tsb::caDescriptor(0x0B00, kECM)}}));
    s.section(0x200, tsb::pmtSection(2, kH264, {}, {{0x1B, kH264, {}}, {0x03, kShared, {}}}));
    for (uint8_t cc : {0, 1, 3}) s.add(esPacket(kVideo, {cc}));                   // one lost
    for (uint8_t cc : {0, 2, 3}) s.add(esPacket(kShared, {cc, true, false, false, 1}));  // one lost, scrambled
    s.add(esPacket(kH264, {0, true, false, true}));
    for (uint16_t pid : {kECM, kEMM, kStray, TS_PID_NULL, kNetwork}) s.es(pid);
    // The PIDs DVB, ARIB and ATSC assign to their tables, and neighbours they do not.
    const std::vector<uint16_t> siPIDs = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x1C, 0x1D, 0x1E, 0x1F,
                                          0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x1FFB};
    const std::vector<uint16_t> otherPIDs = {0x17, 0x1B, 0x20, 0x22, 0x2A, 0x1FFA, 0x1FFC};
    for (uint16_t pid : siPIDs) s.es(pid);
    for (uint16_t pid : otherPIDs) s.es(pid);
    auto r = check(s.bytes);
    for (uint16_t pid : siPIDs) EXPECT_EQ(r->ltPID[pid].u8Role, TS_ROLE_SI) << pid;
    for (uint16_t pid : otherPIDs) EXPECT_EQ(r->ltPID[pid].u8Role, TS_ROLE_UNKNOWN) << pid;

    // Each PID's role and program.
    const std::tuple<uint16_t, uint8_t, uint16_t> roles[] = {{0, TS_ROLE_PAT, 0},        {1, TS_ROLE_CAT, 0},          {kNetwork, TS_ROLE_SI, 0},
                          {kPMT, TS_ROLE_PMT, 1},      {0x200, TS_ROLE_PMT, 2},      {kPCR, TS_ROLE_PCR, 1},
                          {kVideo, TS_ROLE_VIDEO, 1},  {kShared, TS_ROLE_AUDIO, 1},  {kECM, TS_ROLE_ECM, 1},
                          {kH264, TS_ROLE_VIDEO, 2},   {kEMM, TS_ROLE_EMM, 0},       {kStray, TS_ROLE_UNKNOWN, 0},
                          {TS_PID_NULL, TS_ROLE_NULL, 0}};
    for (const auto& [pid, role, program] : roles) {
        EXPECT_EQ(r->ltPID[pid].u8Role, role) << pid;
        EXPECT_EQ(r->ltPID[pid].u16ProgramNumber, program) << pid;
    }
    EXPECT_STREQ(r->ltPID[kH264].strCodec, "h264");
    ASSERT_EQ(r->u16ProgramCount, 2);
    const TS_CheckProgram& one = r->ltProgram[0];
    const TS_CheckProgram& two = r->ltProgram[1];
    EXPECT_EQ(std::vector<uint16_t>(one.lu16PID, one.lu16PID + one.u16PIDCount),
              (std::vector<uint16_t>{kPMT, kPCR, kVideo, kShared, kECM}));
    EXPECT_EQ(std::vector<uint16_t>(two.lu16PID, two.lu16PID + two.u16PIDCount),
              (std::vector<uint16_t>{0x200, kH264, kShared}));
    EXPECT_EQ(one.u64CCErrors, 2u);
    EXPECT_EQ(one.u64LostPackets, 2u);
    EXPECT_EQ(one.u64Scrambled, 3u);
    EXPECT_EQ(two.u64CCErrors, 1u);
    EXPECT_EQ(two.u64TEI, 1u);
    EXPECT_EQ(two.u64Packets, 1u + 3 + 1);
}

// The chart's points: each program's bytes up to its first PCR, which opens
// its line, then up to each second of its PCR, then the rest at the end. A
// PCR every 0.1 s, then 0, 1 or 2 audio packets.
TEST(StreamCheck, SamplesCarryEachSecondsBytes) {
    tsb::Stream188 s;
    addTables(s);
    for (uint64_t tenth = 0; tenth <= 25; ++tenth) {
        s.add(pcrAt(kPCR, tenth * 2700000));
        if (tenth == 13) s.cc[kAudio] = uint8_t((s.cc[kAudio] + 2) & 0x0F);  // two audio packets lost at 1.3 s
        for (uint64_t i = 0; i < tenth % 3; ++i) s.es(kAudio);
    }
    TempDir dir;
    auto samplesOf = [&](const Bytes& stream) {
        std::vector<TS_CheckSample> samples;
        auto result = std::make_unique<TS_CheckResult>();
        EXPECT_EQ(TS_CheckStream(result.get(), dir.write("in.ts", stream).c_str(),
                                 [](const TS_CheckSample* sample, void* user) {
                                     static_cast<std::vector<TS_CheckSample>*>(user)->push_back(*sample);
                                 },
                                 &samples),
                  0);
        std::string seen;
        for (const TS_CheckSample& x : samples) {
            seen += std::to_string(x.u8Kind) + " " + std::to_string(x.u16Program) + " " + std::to_string(x.u8Timed) + " " +
                    std::to_string(x.u64Time) + " " + std::to_string(x.u64Bytes);
            if (x.u8Kind == TS_SAMPLE_CC_ERROR) seen += " lost " + std::to_string(x.u64Lost) + " on " + std::to_string(x.u16PID);
            seen += "\n";
        }
        return seen;
    };
    // 0 s: the PMT and the first PCR; 1 s: the PCRs of 0.1 to 1 s and the
    // audio between them, 19 packets; 2 s: ten PCRs and ten audio packets;
    // the end at 2.5 s: 11. At 1.3 s, the two audio packets lost, no bytes.
    EXPECT_EQ(samplesOf(s.bytes),
              "0 0 1 0 376\n0 0 1 27000000 3572\n1 0 1 35100000 0 lost 2 on 258\n0 0 1 54000000 3760\n0 0 1 67500000 2068\n");
    // A program of no PCR: its bytes up to the packet at each MiB of input,
    // packets 5,578 and 11,156 (the PMT and 5,577 audio packets, then 5,578),
    // and the 845 left at the end.
    tsb::Stream188 untimed;
    untimed.pat({{1, kPMT}});
    untimed.section(kPMT, tsb::pmtSection(1, 0x1FFF, {}, {{0x03, kAudio, {}}}));
    for (int i = 0; i < 12000; ++i) untimed.es(kAudio);
    EXPECT_EQ(samplesOf(untimed.bytes), "0 0 0 1048664 1048664\n0 0 0 2097328 1048664\n0 0 0 2256376 158860\n");
}
