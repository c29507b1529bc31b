// The verdict on a split's files, on a two-program recording damaged at
// counted places: each kind's figures and gaps as computed by hand, the
// same as the check finds in the file, and in the input for its program.

#include <sys/stat.h>

#include <array>
#include <memory>
#include <string>
#include <tuple>

#include "tests/support/test.h"

namespace {

constexpr uint16_t kVideo = 0x111;  // program 1's video and PCR
constexpr uint16_t kAudio = 0x112;
constexpr uint16_t kOther = 0x211;  // program 2's video and PCR
constexpr uint64_t kStep = 40 * 27000;
constexpr uint64_t kRestartJump = 5 * 27000000ull;
constexpr int kSteps = 80;

struct Recording {
    Bytes stream;
    size_t jumpAt = 0;   // the packet of the PCR after the restart
    size_t breakAt = 0;  // the first packet whose continuity the restart broke
};

// Steps of 40 ms, each a PCR packet and two video packets of program 1, an
// audio packet, and program 2's PCR and video packet; the PAT and PMTs every
// 25 steps. Program 1 loses 2 video packets at step 10, an audio packet at
// 15 and a PMT packet at 25, scrambles an audio packet at 30 and sends a
// video packet with transport_error_indicator at 35; at 60 the tuner
// restarts: the clock is 5 s on, and every PID's counter 7 on. Program 2
// loses 3 packets at step 20.
Recording damagedRecording() {
    Recording r;
    tsb::Stream188 s;
    uint64_t clock = 0;
    auto skip = [&](uint16_t pid, uint8_t lost) { s.cc[pid] = uint8_t((s.cc[pid] + lost) & 15); };
    for (int step = 0; step < kSteps; ++step) {
        if (step == 1) s.section(0x14, {0x70, 0x70, 0x05, 0xEB, 0xE0, 0x21, 0x07, 0x00});  // TDT: 2024-03-15 21:07:00
        if (step % 25 == 0) {
            s.pat({{1, 0x100}, {2, 0x200}});
            if (step == 25) skip(0x100, 1);
            s.section(0x100, tsb::pmtSection(1, kVideo, {}, {{0x02, kVideo, {}}, {0x03, kAudio, {}}}));
            s.section(0x200, tsb::pmtSection(2, kOther, {}, {{0x02, kOther, {}}}));
        }
        if (step == 10) skip(kVideo, 2);
        if (step == 15) skip(kAudio, 1);
        if (step == 20) skip(kOther, 3);
        if (step == 60) {
            clock += kRestartJump;
            skip(kVideo, 7);
            skip(kAudio, 7);
        }
        const size_t pcr = s.add(pcrPacket(kVideo, clock / 300));
        const size_t video = s.es(kVideo);
        s.es(kVideo);
        if (step == 60) {
            r.jumpAt = pcr;
            r.breakAt = video;
        }
        if (step == 35) s.add(tsb::packet({.pid = kVideo, .cc = 9, .tei = true}));
        s.add(tsb::packet({.pid = kAudio, .cc = s.cc[kAudio], .scrambling = uint8_t(step == 30 ? 2 : 0)}));
        skip(kAudio, 1);
        s.add(pcrPacket(kOther, clock / 300));
        s.es(kOther);
        clock += kStep;
    }
    r.stream = s.bytes;
    return r;
}

// packets, cc_errors, lost_packets, tei, scrambled of each kind, in TS_KIND_ order.
using KindFigures = std::array<std::array<uint64_t, 5>, TS_KIND_COUNT>;

KindFigures figuresOf(const TS_StretchCounts& stretch) {
    KindFigures figures{};
    for (uint8_t k = 0; k < TS_KIND_COUNT; ++k) {
        const TS_PIDCounts& c = stretch.ltKind[k];
        figures[k] = {c.u64Packets, c.u64CCErrors, c.u64LostPackets, c.u64TEI, c.u64Scrambled};
    }
    return figures;
}

// Each gap's kind and PCR: its offset is the input's.
std::vector<std::pair<uint8_t, uint64_t>> gapsOf(const TS_StretchCounts& stretch) {
    std::vector<std::pair<uint8_t, uint64_t>> gaps;
    for (uint32_t g = 0; g < stretch.u32Gaps; ++g) gaps.emplace_back(stretch.ltGap[g].u8Kind, stretch.ltGap[g].u64PCR);
    return gaps;
}

// The engine's split of `stream` into folder `out`, its files listed in `list`.
void splitListed(const Bytes& stream, const std::string& out, TS_SplitFileList& list) {
    TS_SplitOptions options{};
    options.strOutputDir = out.c_str();
    TS_Splitter* splitter = TS_Splitter_Open("in.ts", &options);
    ASSERT_NE(splitter, nullptr);
    ASSERT_EQ(TS_Splitter_SetFileList(splitter, &list), 0);
    EXPECT_EQ(TS_Splitter_Feed(splitter, stream.data(), stream.size()), 0);
    EXPECT_EQ(TS_Splitter_Close(splitter), 0);
}

std::unique_ptr<TS_CheckResult> checked(const std::string& path) {
    auto result = std::make_unique<TS_CheckResult>();
    EXPECT_EQ(TS_CheckStream(result.get(), path.c_str(), nullptr, nullptr), 0);
    return result;
}

}  // namespace

TEST(Verdict, EachKindAndGapAsCountedByHandAndByTheCheck) {
    const Recording r = damagedRecording();
    TempDir dir;
    const std::string input = dir.write("in.ts", r.stream);
    const std::string out = dir.file("out");
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    TS_SplitFileList list{};
    splitListed(r.stream, out, list);
    ASSERT_EQ(list.u32Count, 2u);

    const uint64_t beforeJump = 59 * kStep;
    const uint64_t afterJump = 60 * kStep + kRestartJump;
    struct Want {
        KindFigures kinds;
        std::vector<std::pair<uint8_t, uint64_t>> gaps;
        uint8_t damage;
    };
    const Want wants[] = {
        // Program 1: video 80 PCR packets, 160 of payload and the one in error.
        {{{{241, 2, 9, 1, 0}, {80, 2, 8, 0, 1}, {}, {}, {8, 1, 1, 0, 0}, {}, {}}},
         {{TS_GAP_CLOCK_JUMP, beforeJump}, {TS_GAP_CONTINUITY_LOST, afterJump}},
         TS_DAMAGE_DROPS | TS_DAMAGE_SCRAMBLED | TS_DAMAGE_TEI | TS_DAMAGE_GAPS},
        // Program 2: the clock is the multiplex's, its counters went on.
        {{{{160, 1, 3, 0, 0}, {}, {}, {}, {8, 0, 0, 0, 0}, {}, {}}}, {{TS_GAP_CLOCK_JUMP, beforeJump}},
         TS_DAMAGE_DROPS | TS_DAMAGE_GAPS},
    };
    auto whole = checked(input);
    for (uint32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const TS_SplitFileReport& file = list.ltFile[i];
        EXPECT_EQ(figuresOf(file.tProgramme), wants[i].kinds);
        EXPECT_EQ(gapsOf(file.tProgramme), wants[i].gaps);
        EXPECT_EQ(TS_StretchDamage(&file.tProgramme), wants[i].damage);
        EXPECT_EQ(file.tMargins.ltKind[TS_KIND_VIDEO].u64Packets, 0u);
        // The check finds the same in the file, and in the input for the program.
        auto own = checked(file.strPath);
        ASSERT_EQ(own->u16ProgramCount, 1u);
        EXPECT_EQ(figuresOf(own->ltProgram[0].tVerdict), wants[i].kinds);
        EXPECT_EQ(gapsOf(own->ltProgram[0].tVerdict), wants[i].gaps);
        EXPECT_EQ(figuresOf(whole->ltProgram[i].tVerdict), wants[i].kinds);
        EXPECT_EQ(gapsOf(whole->ltProgram[i].tVerdict), wants[i].gaps);
    }
    // The drop log of program 1: a line at its first drop (0.4 s on), none
    // within 5 s of it, one at the end (3.12 s of clock, the jump left out),
    // in broadcast time from the TDT; each PID's figures.
    const TS_SplitFileReport& first = list.ltFile[0];
    ASSERT_EQ(first.u32DropLines, 2u);
    const uint64_t tdt = 1710536820;  // 2024-03-15 21:07:00 UTC
    const std::tuple<uint8_t, int64_t, uint64_t, uint64_t, uint64_t> lines[] = {{1, tdt, 10 * kStep, 1, 0},
                                                                                  {1, tdt + 3, 78 * kStep, 5, 1}};
    for (uint32_t k = 0; k < 2; ++k) {
        const TS_DropLine& line = first.ltDropLine[k];
        EXPECT_EQ(std::tuple(line.u8HasUTC, line.s64UTC, line.u64Clock, line.u64Drops, line.u64Scrambled), lines[k]) << k;
    }
    std::vector<std::tuple<uint16_t, uint8_t, std::string, uint64_t, uint64_t, uint64_t>> pids;
    for (uint16_t k = 0; k < first.u16FilePIDCount; ++k) {
        const TS_FilePID& p = first.ltFilePID[k];
        pids.emplace_back(p.u16PID, p.u8Kind, p.strCodec, p.u64Packets, p.u64Drops, p.u64Scrambled);
    }
    using Pid = std::tuple<uint16_t, uint8_t, std::string, uint64_t, uint64_t, uint64_t>;
    EXPECT_EQ(pids, (std::vector<Pid>{Pid{0x0000, TS_KIND_PSI, "", 4, 0, 0}, Pid{0x0100, TS_KIND_PSI, "", 4, 1, 0},
                                      Pid{kVideo, TS_KIND_VIDEO, "mpeg2", 241, 2, 0}, Pid{kAudio, TS_KIND_AUDIO, "mp2", 80, 2, 1}}));
    // Where the input lost time: its offsets.
    EXPECT_EQ(list.ltFile[0].tProgramme.ltGap[0].u64Offset, r.jumpAt * 188);
    EXPECT_EQ(list.ltFile[0].tProgramme.ltGap[1].u64Offset, r.breakAt * 188);
    EXPECT_EQ(whole->ltProgram[0].tVerdict.ltGap[1].u64Offset, r.breakAt * 188);
    TS_SplitFileList_Release(&list);
}

// A line of the drop log when the drops changed, and not within 5 s of the
// line before: drops at 0.4 s, 5.4 s (5 s on: a line) and 5.44 s (told by
// the line at the end, 5.6 s). A PCR packet and a video packet every 40 ms.
TEST(Verdict, TheDropLogTellsAChangeAtMostEveryFiveSeconds) {
    tsb::Stream188 s;
    s.pat({{1, 0x100}});
    s.section(0x100, tsb::pmtSection(1, kVideo, {}, {{0x02, kVideo, {}}}));
    for (int step = 0; step <= 140; ++step) {
        s.add(pcrPacket(kVideo, step * kStep / 300));
        if (step == 10 || step == 135 || step == 136) ++s.cc[kVideo];
        s.es(kVideo);
    }
    TempDir dir;
    TS_SplitFileList list{};
    splitListed(s.bytes, dir.path(), list);
    ASSERT_EQ(list.u32Count, 1u);
    std::vector<std::pair<uint64_t, uint64_t>> lines;
    for (uint32_t k = 0; k < list.ltFile[0].u32DropLines; ++k) {
        lines.emplace_back(list.ltFile[0].ltDropLine[k].u64Clock, list.ltFile[0].ltDropLine[k].u64Drops);
    }
    EXPECT_EQ(lines, (std::vector<std::pair<uint64_t, uint64_t>>{{10 * kStep, 1}, {135 * kStep, 2}, {140 * kStep, 3}}));
    TS_SplitFileList_Release(&list);
}

// A restart whose first video packet carries the PCR and payload, after the
// audio broke: that packet shows both gaps, the clock's jump and continuity
// lost on every stream PID (from the audio's break, at the clock before).
TEST(Verdict, OnePacketShowsTheClocksJumpAndTheLostContinuity) {
    tsb::Stream188 s;
    s.pat({{1, 0x100}});
    s.section(0x100, tsb::pmtSection(1, kVideo, {}, {{0x02, kVideo, {}}, {0x03, kAudio, {}}}));
    uint64_t clock = 0;
    size_t restart = 0;
    for (int step = 0; step < 10; ++step) {
        if (step == 5) {
            clock += kRestartJump;
            s.cc[kVideo] = uint8_t((s.cc[kVideo] + 7) & 15);
            s.cc[kAudio] = uint8_t((s.cc[kAudio] + 7) & 15);
        }
        s.es(kAudio);
        const size_t video = s.add(tsb::packet({.pid = kVideo, .cc = s.cc[kVideo]++, .hasAdaptation = true,
                                                .adaptation = tsb::pcrAdaptation(clock / 300, 0), .payload = {0x00}}));
        s.cc[kVideo] &= 15;
        if (step == 5) restart = video;
        clock += kStep;
    }
    TempDir dir;
    TS_SplitFileList list{};
    splitListed(s.bytes, dir.path(), list);
    ASSERT_EQ(list.u32Count, 1u);
    const TS_StretchCounts& programme = list.ltFile[0].tProgramme;
    EXPECT_EQ(gapsOf(programme), (std::vector<std::pair<uint8_t, uint64_t>>{{TS_GAP_CLOCK_JUMP, 4 * kStep},
                                                                              {TS_GAP_CONTINUITY_LOST, 4 * kStep}}));
    ASSERT_EQ(programme.u32Gaps, 2u);
    EXPECT_EQ(programme.ltGap[0].u64Offset, restart * 188);
    EXPECT_EQ(programme.ltGap[1].u64Offset, (restart - 1) * 188);
    TS_SplitFileList_Release(&list);
}
