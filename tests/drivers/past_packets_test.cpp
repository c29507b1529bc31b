// A program's recent past for the margin before a cut: kept back to the
// access point a margin before the last packet, within a byte budget that,
// when too small, cuts the margin short and says so.

#include "tests/support/test.h"
#include "ts/split/past_packets.h"

TEST(PastPackets, KeepBackToTheAccessPointAMarginBeforeWithinTheirBudget) {
    rivulet::ProgramShape shape{};
    shape.u8Known = 1;
    shape.u16PMTPID = 0x100;
    shape.u16VideoPID = shape.u16PCRPID = 0x101;
    shape.u8VideoType = 0x02;
    shape.u8PCRCarriesStream = 1;
    constexpr uint64_t kTenth = 2700000, kMargin = 10 * kTenth;
    const struct {
        uint64_t budget;
        uint64_t index, span;
        uint8_t trimmed;
    } cases[] = {
        {uint64_t(64) << 20, 15, 14 * kTenth, 0},                   // frame 15 is the last access point 1 s old
        {10 * sizeof(rivulet::PastPacket), 20, 9 * kTenth, 1},     // only frames 20 to 29 fit
    };
    for (const auto& c : cases) {
        rivulet::PastPackets past{};
        rivulet::PastBudget budget{0, c.budget};
        for (uint8_t frame = 0; frame < 30; ++frame) {
            // A picture a tenth of a second, an access point every fifth.
            Bytes adaptation = tsb::pcrAdaptation(frame * kTenth / 300, 0);
            if (frame % 5 == 0) adaptation[0] |= 0x40;
            Bytes packet = tsb::packet({.pid = 0x101, .pusi = true, .cc = uint8_t(frame & 15), .hasAdaptation = true,
                                        .adaptation = adaptation, .payload = {0, 0, 1, 0xE0, 0, 0, 0x80, 0, 0}});
            rivulet::pastPush(past, budget, shape, packet.data(), 188, 0, kMargin);
        }
        uint64_t index = 0, span = 0;
        ASSERT_TRUE(rivulet::pastFind(past, kMargin, &index, &span)) << c.budget;
        EXPECT_EQ(index, c.index) << c.budget;
        EXPECT_EQ(span, c.span) << c.budget;
        EXPECT_EQ(past.u8Trimmed, c.trimmed) << c.budget;
        EXPECT_EQ(rivulet::pastAt(past, index).lu8Unit[3] & 0x0F, index & 15) << c.budget;
        EXPECT_LE(budget.u64Used, c.budget);
        rivulet::pastClear(past, budget);
        EXPECT_EQ(budget.u64Used, 0u);
    }
}
