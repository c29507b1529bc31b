// Real captures (RIVULET_SAMPLES, or ../shared/samples beside the project),
// through the splitter and every driver: each ends without an error, and
// every file the splitter writes opens with a PAT packet and holds whole packets.

#include <filesystem>

#include "tests/support/test.h"

TEST(Samples, EveryCaptureGoesThroughEveryDriver) {
    std::string samples = samplesDir();
    if (samples.empty()) GTEST_SKIP() << "no sample captures here";
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        if (entry.path().extension() != ".ts") continue;
        SCOPED_TRACE(entry.path().filename().string());
        TempDir dir;
        std::string in = dir.write("in.ts", tsb::readFile(entry.path()));
        Outcome split = runTool({RIVULET_TOOL, in});
        EXPECT_EQ(split.status, 0) << split.err;
        for (const auto& [name, bytes] : dir.outputs()) {
            ASSERT_GE(bytes.size(), 188u) << name;
            EXPECT_EQ(bytes.size() % 188, 0u) << name;
            EXPECT_EQ(tsb::hex(tsb::Bytes(bytes.begin(), bytes.begin() + 3)).substr(0, 5), "47 40") << name;
            EXPECT_EQ(bytes[2], 0x00) << name;
        }
        static TS_ProgramList list;
        EXPECT_EQ(captured([&] { return TS_Print(in.c_str(), 0x1FF); }).status, 0);
        EXPECT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
        for (uint16_t i = 0; i < list.u16Count; ++i) {
            EXPECT_EQ(captured([&] {
                          return TS_ProgramSplitStream(dir.file("x.ts").c_str(), in.c_str(), list.lu16PMTPID[i]);
                      }).status,
                      0);
        }
    }
}
