#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "rivulet/ts.h"
#include "tests/support/stream_builder.h"
#include "ts/stream/packet_walk.h"

using tsb::Bytes;

namespace {

// Walks `bytes` from a file and returns the PIDs and counters of the packets
// the walk handed out, in order.
std::vector<std::pair<uint16_t, uint8_t>> walk(const Bytes& bytes) {
    std::string dir = tsb::makeTempDir("walk");
    std::string path = dir + "/in.ts";
    tsb::writeFile(path, bytes);
    int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    TS_InitialiseSimple(&g_tSimpleData);
    std::vector<std::pair<uint16_t, uint8_t>> seen;
    rivulet::WalkEnd end = rivulet::walkPackets(g_tSimpleData, fd, [&](const uint8_t* p, const TS_Packet& h) {
        EXPECT_EQ(p[0], 0x47);
        seen.emplace_back(h.PID, h.continuity_counter);
        return true;
    });
    EXPECT_EQ(end, rivulet::WalkEnd::EndOfInput);
    ::close(fd);
    tsb::removeTree(dir);
    return seen;
}

Bytes packetOf(uint16_t pid, uint8_t cc) { return tsb::packet({.pid = pid, .cc = cc, .payload = Bytes(184, 0x00)}); }

}  // namespace

TEST(StreamContext, InitialiseResetsEverySlot) {
    g_tData.tPAT.valid = 1;
    g_tData.u64Size = 99;
    g_tData.ltPMTPreSection[63].complete = 0;
    ASSERT_EQ(TS_Initialise(&g_tData), 0);
    EXPECT_EQ(g_tData.tPAT.valid, 0);
    EXPECT_EQ(g_tData.u64Size, 0u);
    EXPECT_EQ(g_tData.ltPMTPreSection[63].complete, 1);
    EXPECT_EQ(g_tData.ltPMTPreSection[63].last_continuity_counter, -1);
    EXPECT_EQ(g_tData.tEMMPreSection.complete, 1);
    EXPECT_EQ(TS_Initialise(nullptr), -1);
    ASSERT_EQ(TS_InitialiseSimple(&g_tSimpleData), 0);
    EXPECT_EQ(g_tSimpleData.tSectionPreSection.complete, 1);
    EXPECT_EQ(TS_InitialiseSimple(nullptr), -1);
}

TEST(StreamContext, AppendCompactsAndRefusesOverflow) {
    TS_InitialiseSimple(&g_tSimpleData);
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(TS_AddStreamSimple(&g_tSimpleData, bytes, 5), 0);
    g_tSimpleData.u64Pos = 3;
    ASSERT_EQ(TS_AddStreamSimple(&g_tSimpleData, bytes, 0), 0);  // compacts only
    EXPECT_EQ(g_tSimpleData.u64Pos, 0u);
    EXPECT_EQ(g_tSimpleData.u64Size, 2u);
    EXPECT_EQ(g_tSimpleData.lu8Buffer[0], 4);
    EXPECT_EQ(g_tSimpleData.lu8Buffer[1], 5);

    // Exactly the buffer's 33,554,620 bytes fit; one more does not.
    static uint8_t block[TS_STREAM_BUFFER_SIZE];
    EXPECT_EQ(TS_AddStreamSimple(&g_tSimpleData, block, TS_STREAM_BUFFER_SIZE - 1), -2);
    EXPECT_EQ(g_tSimpleData.u64Size, 2u);
    EXPECT_EQ(TS_AddStreamSimple(&g_tSimpleData, block, TS_STREAM_BUFFER_SIZE - 2), 0);
    EXPECT_EQ(g_tSimpleData.u64Size, uint64_t(TS_STREAM_BUFFER_SIZE));
    EXPECT_EQ(TS_AddStreamSimple(nullptr, block, 1), -1);
    EXPECT_EQ(TS_AddStreamSimple(&g_tSimpleData, nullptr, 1), -1);

    TS_Initialise(&g_tData);
    EXPECT_EQ(TS_AddStream(&g_tData, bytes, 5), 0);
    EXPECT_EQ(g_tData.u64Size, 5u);
}

TEST(PacketWalk, SkipsGarbageAndDropsAPartialTail) {
    Bytes s = {0x00, 0x12, 0x34};  // garbage in front
    tsb::append(s, packetOf(0x100, 1));
    tsb::append(s, {0x11, 0x22});  // garbage between packets
    tsb::append(s, packetOf(0x101, 2));
    Bytes tail = packetOf(0x102, 3);
    tail.resize(100);  // a cut packet at the end
    tsb::append(s, tail);
    auto seen = walk(s);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, 0x100);
    EXPECT_EQ(seen[1].first, 0x101);

    EXPECT_TRUE(walk(Bytes(187, 0x47)).empty());
    EXPECT_TRUE(walk(Bytes(5000, 0x00)).empty());
    EXPECT_TRUE(walk({}).empty());
}

TEST(PacketWalk, PacketStraddlingTwoReadBlocksIsHandedOutOnce) {
    // 32 MiB is 178481 packets and 4 bytes: packet 178481 straddles the
    // first and second read.
    const size_t count = 178484;
    Bytes s;
    s.reserve(count * 188);
    for (size_t i = 0; i < count; ++i) tsb::append(s, packetOf(uint16_t(0x20 + i % 3000), uint8_t(i & 15)));
    auto seen = walk(s);
    ASSERT_EQ(seen.size(), count);
    for (size_t i = 178479; i < count; ++i) {
        EXPECT_EQ(seen[i].first, 0x20 + i % 3000) << i;
        EXPECT_EQ(seen[i].second, i & 15) << i;
    }
}

TEST(PacketWalk, ReportsReadErrorsAndProgress) {
    std::string dir = tsb::makeTempDir("walkdir");
    int fd = ::open(dir.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    TS_InitialiseSimple(&g_tSimpleData);
    auto end = rivulet::walkPackets(g_tSimpleData, fd, [](const uint8_t*, const TS_Packet&) { return true; });
    EXPECT_EQ(end, rivulet::WalkEnd::ReadError);
    ::close(fd);
    tsb::removeTree(dir);

    struct Seen {
        uint64_t done = 0, total = 0;
    } seen;
    TS_SetProgressCallback(
        [](uint64_t done, uint64_t total, void* user) {
            static_cast<Seen*>(user)->done = done;
            static_cast<Seen*>(user)->total = total;
        },
        &seen);
    Bytes s = tsb::concat({packetOf(1, 0), packetOf(2, 0)});
    walk(s);
    TS_SetProgressCallback(nullptr, nullptr);
    EXPECT_EQ(seen.done, 376u);
    EXPECT_EQ(seen.total, 376u);
}
