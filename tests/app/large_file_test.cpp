// A sparse input past 4 GiB: a stream at its start and another one behind
// the mark, off the packet grid, the zeros between skipped by the walk.
// Reading the hole takes seconds; RIVULET_SKIP_LARGE skips the test.

#include <fcntl.h>
#include <unistd.h>

#include "tests/support/test.h"

TEST(LargeFile, PacketsBeyondFourGiBReachTheirFiles) {
    if (std::getenv("RIVULET_SKIP_LARGE")) GTEST_SKIP() << "RIVULET_SKIP_LARGE is set";
    constexpr off_t kSecond = (off_t(1) << 32) + 1000;
    Bytes pmt1 = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}),
          pmt2 = tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}});
    tsb::Stream188 first;
    tsb::Stream188 second;
    first.pat({{1, 0x100}});
    first.section(0x100, pmt1);
    for (int i = 0; i < 10; ++i) first.es(0x101);
    second.cc[0] = second.cc[0x100] = 1;
    second.pat({{1, 0x100}, {2, 0x200}}, 1);
    second.section(0x100, pmt1);
    second.section(0x200, pmt2);
    // Each file: its program's own PAT packet, its PMT and its video.
    Bytes one = tsb::concat({first.bytes, tsb::psiPacket(0, 1, tsb::patSection(1, 1, {{1, 0x100}})), second.packets({1})});
    Bytes two = tsb::concat({tsb::psiPacket(0, 1, tsb::patSection(1, 1, {{2, 0x200}})), second.packets({2})});
    for (int i = 0; i < 10; ++i) {
        tsb::append(one, second.packets({second.es(0x101)}));
        tsb::append(two, second.packets({second.es(0x201)}));
    }
    TempDir dir;
    int fd = ::open(dir.file("in.ts").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::pwrite(fd, first.bytes.data(), first.bytes.size(), 0), ssize_t(first.bytes.size()));
    ASSERT_EQ(::pwrite(fd, second.bytes.data(), second.bytes.size(), kSecond), ssize_t(second.bytes.size()));
    ::close(fd);
    Outcome r = runTool({RIVULET_TOOL, dir.file("in.ts")});
    EXPECT_EQ(r.status, 0);
    uint64_t hole = uint64_t(kSecond) - first.bytes.size();
    EXPECT_EQ(r.err, "Warning: " + std::to_string(hole) + " bytes without packet sync skipped.\n");
    expectFiles(dir, {{"in_1_0_0.ts", one}, {"in_2_0_0.ts", two}});
    static TS_ProgramList list;
    ASSERT_EQ(TS_GetProgramList(&list, dir.file("in.ts").c_str()), 0);
    EXPECT_EQ(list.u16Count, 2);
}
