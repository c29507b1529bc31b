// The output set and the routes, as the drivers use them: what a file holds
// after queued and copied writes, what opening refuses, and which programs a
// PMT section's PIDs lead to as PMTs come and go.

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/test.h"
#include "ts/output/output_set.h"
#include "ts/programs/program_routes.h"

using namespace rivulet;

TEST(OutputSet, QueuedAndCopiedBytesLandInOrderAndOpeningRefusesWhatIsNotAFreshFile) {
    static OutputSet set;
    TempDir dir;
    std::string in = dir.write("in.ts", Bytes(10, 1));
    int input = ::open(in.c_str(), O_RDONLY);
    WrittenFiles* written = writtenFilesCreate();
    outputSetReset(&set, input, written);
    ASSERT_TRUE(outputSetOpen(&set, 1, dir.file("b.ts").c_str(), "b", 2));
    EXPECT_FALSE(outputSetIsOpen(&set, 0));
    Bytes block = {1, 2, 3, 4, 5, 6};
    Bytes scratch = {9, 9};
    outputSetWrite(&set, 1, &block[0], 2, false);
    outputSetWrite(&set, 1, &block[2], 2, false);  // joins the run before it
    outputSetWrite(&set, 1, scratch.data(), 2, true);
    scratch = {7, 7};                                // the copy is what counts
    outputQueueFlush(&set.tQueue);                   // as before the walk moves its bytes
    block = {0, 0, 0, 0, 0, 0};
    outputSetWrite(&set, 1, &block[4], 2, false);
    EXPECT_EQ(outputSetCloseAll(&set, 2), 0);
    EXPECT_TRUE(tsb::readFile(dir.file("b.ts")) == (Bytes{1, 2, 3, 4, 9, 9, 0, 0}));

    ASSERT_EQ(::symlink(dir.file("x.ts").c_str(), dir.file("link.ts").c_str()), 0);
    for (const std::string& refused : {in, dir.file("b.ts"), dir.file("link.ts"), dir.path()}) {
        Outcome o = captured([&] { return int32_t(outputSetOpen(&set, 0, refused.c_str(), refused.c_str(), 2)); });
        EXPECT_EQ(o.status, 0) << refused;
        EXPECT_EQ(o.err, "Error: Failed open " + refused + ".\n");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.ts")));
    writtenFilesDestroy(written);
    outputSetReset(&set, input, nullptr);  // a run of its own may overwrite another run's file
    EXPECT_TRUE(outputSetOpen(&set, 0, dir.file("b.ts").c_str(), "b", 2));
    EXPECT_EQ(outputSetCloseAll(&set, 1), 0);
    ::close(input);
}

TEST(Routes, EveryPIDOfTheSectionFollowsItsProgramAndANewPMTUndoesOnlyItsOwn) {
    ProgramRoutes routes;
    ASSERT_TRUE(routesReserve(&routes, 70));
    Bytes ca = tsb::caDescriptor(0x0B00, 0x600);
    for (uint8_t i = 1; i < 32; ++i) tsb::append(ca, tsb::descriptor(0x52, {i}));
    tsb::append(ca, tsb::caDescriptor(0x0B00, 0x602));  // the 33rd descriptor: beyond what a parsed record holds
    std::vector<tsb::Stream> streams;
    // The first stream's ES_info_length is odd (3); the last names an ECM PID.
    for (uint16_t i = 0; i < 40; ++i) {
        const Bytes info = i == 39 ? tsb::caDescriptor(1, 0x601) : i == 0 ? tsb::descriptor(0x52, {7}) : Bytes{};
        streams.push_back({0x1B, uint16_t(0x200 + i), info});
    }
    TS_PreSection big = sectionSlot(tsb::pmtSection(1, 0x1FF, ca, streams));
    TS_PreSection other = sectionSlot(tsb::pmtSection(2, 0x1FFF, {}, {{0x03, 0x200, {}}, {0x03, 0x000, {}}}));
    routesSetProgram(&routes, 0, &big);
    routesSetProgram(&routes, 69, &other);  // bit 5 of the second plane
    EXPECT_EQ(routesOf(&routes, 0, 0x200), 1u);
    EXPECT_EQ(routesOf(&routes, 1, 0x200), 0x20u);
    for (uint16_t pid : {0x1FF, 0x600, 0x602, 0x227, 0x601}) EXPECT_EQ(routesOf(&routes, 0, pid), 1u) << pid;
    EXPECT_EQ(routesOf(&routes, 0, 0x000), 0u);  // the PAT's PID is never routed
    EXPECT_EQ(routesOf(&routes, 0, 0x1FFF), 0u);  // no PCR
    // A CA descriptor cut short after a byte of its CA_PID names no PID.
    TS_PreSection small = sectionSlot(tsb::pmtSection(1, 0x1FF, {}, {{0x1B, 0x300, {0x09, 0x03, 0x0B, 0x00, 0x07}}}));
    routesSetProgram(&routes, 0, &small);
    EXPECT_EQ(routesOf(&routes, 0, 0x200), 0u);
    EXPECT_EQ(routesOf(&routes, 1, 0x200), 0x20u);
    EXPECT_EQ(routesOf(&routes, 0, 0x300), 1u);
    for (uint16_t pid : {0x600, 0x602, 0x227, 0x601, 0x700}) EXPECT_EQ(routesOf(&routes, 0, pid), 0u) << pid;
    // A stream entry cut short before the end of its ES_info_length names no PID.
    TS_PreSection cut = sectionSlot(tsb::section(0x02, 1, 0, {0xFF, 0xFF, 0xF0, 0x00, 0x1B, 0xE3, 0x00, 0xF0}));
    routesSetProgram(&routes, 0, &cut);
    EXPECT_EQ(routesOf(&routes, 0, 0x300), 0u);
    routesFree(&routes);
}
