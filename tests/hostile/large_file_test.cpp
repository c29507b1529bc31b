// Inputs larger than 4 GiB: a sparse file with a valid stream at its start
// and another one past the 4 GiB mark, the zeros between skipped by the
// walk's resynchronisation. The packets beyond 32-bit offsets must reach the
// outputs. Reading the hole takes a few seconds (it comes from no disk);
// set RIVULET_SKIP_LARGE to skip these tests where that is too slow.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "rivulet/ts.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/stream_builder.h"

using hostile::Bytes;
using hostile::TempDir;

namespace {

constexpr uint64_t kFourGiB = uint64_t(1) << 32;
constexpr uint64_t kSecondRegion = kFourGiB + 1000;  // off the packet grid of the first region
constexpr uint16_t kPMT1 = 0x0100, kVideo1 = 0x0101;
constexpr uint16_t kPMT2 = 0x0200, kVideo2 = 0x0201;

Bytes patPacket(const Bytes& section, uint8_t cc) {
    return tsb::packet({.pid = 0, .pusi = true, .cc = cc, .payload = tsb::concat({{0x00}, section})});
}

Bytes pmtPacket(uint16_t pid, uint16_t program, uint16_t video, uint8_t cc) {
    Bytes section = tsb::pmtSection(program, video, {}, {{0x1B, video, {}}});
    return tsb::packet({.pid = pid, .pusi = true, .cc = cc, .payload = tsb::concat({{0x00}, section})});
}

class LargeFile : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("RIVULET_SKIP_LARGE")) GTEST_SKIP() << "RIVULET_SKIP_LARGE is set";
        // First region: program 1 alone. Second region: programs 1 and 2.
        firstPAT_ = patPacket(tsb::patSection(1, 0, {{1, kPMT1}}), 0);
        secondPAT_ = patPacket(tsb::patSection(1, 1, {{1, kPMT1}, {2, kPMT2}}), 1);
        pmt1First_ = pmtPacket(kPMT1, 1, kVideo1, 0);
        pmt1Second_ = pmtPacket(kPMT1, 1, kVideo1, 1);
        pmt2_ = pmtPacket(kPMT2, 2, kVideo2, 0);
        uint8_t cc1 = 0, cc2 = 0;
        Bytes first = tsb::concat({firstPAT_, pmt1First_});
        for (int i = 0; i < 10; ++i) {
            Bytes p = tsb::esPacket(kVideo1, cc1, 0x11);
            tsb::append(first, p);
            tsb::append(video1Before_, p);
        }
        Bytes second = tsb::concat({secondPAT_, pmt1Second_, pmt2_});
        for (int i = 0; i < 10; ++i) {
            Bytes p1 = tsb::esPacket(kVideo1, cc1, 0x22), p2 = tsb::esPacket(kVideo2, cc2, 0x33);
            tsb::append(second, p1);
            tsb::append(second, p2);
            tsb::append(video1After_, p1);
            tsb::append(video2After_, p2);
        }
        input_ = dir_.file("in.ts");
        int fd = ::open(input_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, first.data(), first.size(), 0), ssize_t(first.size()));
        ASSERT_EQ(::ftruncate(fd, off_t(kSecondRegion)), 0);
        ASSERT_EQ(::pwrite(fd, second.data(), second.size(), off_t(kSecondRegion)), ssize_t(second.size()));
        ASSERT_EQ(::close(fd), 0);
    }

    static double secondsSince(std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    TempDir dir_;
    std::string input_;
    Bytes firstPAT_, secondPAT_, pmt1First_, pmt1Second_, pmt2_;
    Bytes video1Before_, video1After_, video2After_;
};

}  // namespace

TEST_F(LargeFile, SplitterReachesPacketsBeyondFourGiB) {
    auto start = std::chrono::steady_clock::now();
    tsb::ToolResult r = hostile::runRivulet(input_);
    double seconds = secondsSince(start);
    RecordProperty("split_seconds", std::to_string(seconds));
    std::printf("[ info     ] splitting the %.2f GiB sparse file took %.1f s\n",
                double(kSecondRegion) / double(uint64_t(1) << 30), seconds);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // Program 1's file: both regions; the second PAT lists program 1 alone in
    // its file, with the version and counter of the input PAT.
    Bytes rebuiltSecond = patPacket(tsb::patSection(1, 1, {{1, kPMT1}}), 1);
    EXPECT_TRUE(tsb::readFile(dir_.file("in_1_0_0.ts")) ==
                tsb::concat({firstPAT_, pmt1First_, video1Before_, rebuiltSecond, pmt1Second_, video1After_}));
    // Program 2 exists only beyond 4 GiB.
    Bytes rebuiltTwo = patPacket(tsb::patSection(1, 1, {{2, kPMT2}}), 1);
    EXPECT_TRUE(tsb::readFile(dir_.file("in_2_0_0.ts")) == tsb::concat({rebuiltTwo, pmt2_, video2After_}));
}

TEST_F(LargeFile, ProgramListAndExtractionReachBeyondFourGiB) {
    auto start = std::chrono::steady_clock::now();
    TS_ProgramList list{};
    ASSERT_EQ(TS_GetProgramList(&list, input_.c_str()), 0);
    std::printf("[ info     ] listing the programs took %.1f s\n", secondsSince(start));
    ASSERT_EQ(list.u16Count, 2);
    EXPECT_EQ(list.lu16ProgramNumber[1], 2);
    EXPECT_EQ(list.lu16PMTPID[1], kPMT2);

    std::string dest = dir_.file("extract.ts");
    hostile::Outcome o = hostile::captured([&] { return TS_ProgramSplitStream(dest.c_str(), input_.c_str(), kPMT2); });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    // The first PAT does not announce program 2: nothing is extracted.
    EXPECT_FALSE(tsb::fileExists(dest));
    o = hostile::captured([&] { return TS_ProgramSplitStream(dest.c_str(), input_.c_str(), kPMT1); });
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(tsb::readFile(dest) == tsb::concat({pmt1First_, video1Before_, pmt1Second_, video1After_}));
}
