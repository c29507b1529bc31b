// A program's recent past for the margin before a cut: kept back to the
// access point a margin before the last packet, within a byte budget that,
// when too small, cuts the margin short and says so.

#include "tests/support/test.h"
#include "ts/split/past_packets.h"

TEST(PastPackets, KeepBackToTheAccessPointAMarginBeforeWithinTheirBudget) {
    rivulet::ProgramShape shape{};
    shape.u8Known = 1;
    shape.u16PMTPID = 0x100;
    shape.u16VideoPID = shape.u16PCRPID = shape.u16ClockPID = 0x101;
    shape.u8VideoType = 0x02;
    shape.u8PCRCarriesStream = 1;
    constexpr uint64_t kTenth = 2700000;
    constexpr uint64_t kMargin = 10 * kTenth;
    constexpr uint64_t kSize = sizeof(rivulet::PastPacket);
    const struct {
        uint64_t budget;
        uint32_t frames;  // pictures...
        uint32_t every;   // ...an access point every `every` (0: the first only)
        bool found;
        uint64_t index;
        uint64_t span;
        uint64_t kept;
        uint8_t trimmed;
    } cases[] = {
        {uint64_t(64) << 20, 30, 5, true, 15, 14 * kTenth, 15, 0},  // frame 15 is the last access point 1 s old
        {uint64_t(64) << 20, 31, 5, true, 20, 10 * kTenth, 11, 0},  // frame 20 is exactly 1 s old: kept from it
        {64 * kSize, 30, 5, true, 20, 9 * kTenth, 14, 1},            // two blocks of 8 frames: from frame 16
        {uint64_t(64) << 20, 30, 0, true, 0, 29 * kTenth, 30, 0},    // none 1 s old: the oldest
        {200 * kSize, 510, 0, false, 0, 0, 85, 1},                    // 4 blocks of 25 frames: the only one went
        {uint64_t(16) << 20, 70000, 0, true, 0, 69999 * kTenth, 70000, 0},  // blocks of 1 MiB: 16 MiB holds them all
    };
    for (const auto& c : cases) {
        rivulet::PastPackets past{};
        rivulet::PastBudget budget{0, c.budget};
        for (uint32_t frame = 0; frame < c.frames; ++frame) {
            // A picture a tenth of a second.
            Bytes adaptation = tsb::pcrAdaptation(frame * kTenth / 300, 0);
            if (c.every ? frame % c.every == 0 : frame == 0) adaptation[0] |= 0x40;
            Bytes packet = tsb::packet({.pid = 0x101, .pusi = true, .cc = uint8_t(frame & 15), .hasAdaptation = true,
                                        .adaptation = adaptation, .payload = {0, 0, 1, 0xE0, 0, 0, 0x80, 0, 0}});
            rivulet::pastPush(past, budget, shape, packet.data(), 188, {}, 0, kMargin);
            EXPECT_LE(budget.u64Used, c.budget) << frame;
        }
        uint64_t index = 0;
        uint64_t span = 0;
        EXPECT_EQ(rivulet::pastFind(past, kMargin, &index, &span), c.found) << c.budget;
        EXPECT_EQ(index, c.index) << c.budget;
        EXPECT_EQ(span, c.span) << c.budget;
        EXPECT_EQ(past.u64End - past.u64First, c.kept) << c.budget;
        EXPECT_EQ(past.u8Trimmed, c.trimmed) << c.budget;
        EXPECT_EQ(rivulet::pastAt(past, past.u64First).lu8Unit[3] & 0x0F, past.u64First & 15) << c.budget;
        rivulet::pastClear(past, budget);
        EXPECT_EQ(budget.u64Used, 0u);
    }
}
