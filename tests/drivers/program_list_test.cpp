// TS_GetProgramList: the programs of the last verified PAT of a file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rivulet/ts.h"
#include "tests/support/capture.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

class ProgramListTest : public ::testing::Test {
protected:
    ProgramListTest() : dir_(tsb::makeTempDir("plist")) {}
    ~ProgramListTest() override { tsb::removeTree(dir_); }

    void addSection(uint16_t pid, const Bytes& section, uint8_t& cc) { stream_.add(tsb::packetize(pid, section, cc)); }
    void addPAT(const std::vector<tsb::Program>& programs, uint8_t version = 0) {
        addSection(0, tsb::patSection(7, version, programs), patCC_);
    }

    int32_t run(TS_ProgramList* list) {
        tsb::writeFile(input(), stream_.bytes);
        return TS_GetProgramList(list, input().c_str());
    }
    std::string input() const { return dir_ + "/in.ts"; }

    static TS_ProgramList filled(uint8_t pattern) {
        TS_ProgramList list;
        std::memset(&list, pattern, sizeof list);
        return list;
    }

    std::string dir_;
    tsb::Stream188 stream_;
    uint8_t patCC_ = 0;
    uint8_t esCC_ = 0;
};

}  // namespace

TEST_F(ProgramListTest, ListsProgramsInPATOrderWithoutTheNetworkEntry) {
    addPAT({{0, 0x10}, {0x0102, 0x1FF0}, {5, 0x0040}});
    TS_ProgramList list = filled(0xEE);
    ASSERT_EQ(run(&list), 0);
    ASSERT_EQ(list.u16Count, 2);
    EXPECT_EQ(list.lu16ProgramNumber[0], 0x0102);
    EXPECT_EQ(list.lu16PMTPID[0], 0x1FF0);
    EXPECT_EQ(list.lu16ProgramNumber[1], 5);
    EXPECT_EQ(list.lu16PMTPID[1], 0x0040);
}

TEST_F(ProgramListTest, DescribesTheLastPATOfTheFile) {
    addPAT({{0, 0x10}, {1, 0x100}, {2, 0x200}, {3, 0x300}});
    stream_.add(tsb::esPacket(0x100, esCC_));
    addSection(1, tsb::catSection({}), esCC_);
    addPAT({{9, 0x900}}, 1);
    stream_.add(tsb::esPacket(0x101, esCC_));
    TS_ProgramList list = filled(0);
    ASSERT_EQ(run(&list), 0);
    ASSERT_EQ(list.u16Count, 1);
    EXPECT_EQ(list.lu16ProgramNumber[0], 9);
    EXPECT_EQ(list.lu16PMTPID[0], 0x900);
}

TEST_F(ProgramListTest, NetworkEntryAloneGivesAnEmptyList) {
    addPAT({{0, 0x10}});
    TS_ProgramList list = filled(0x33);
    ASSERT_EQ(run(&list), 0);
    EXPECT_EQ(list.u16Count, 0);
}

TEST_F(ProgramListTest, FileWithoutCompletePATLeavesTheListUntouched) {
    // A PAT whose second packet never comes, and packets of other PIDs.
    std::vector<tsb::Program> many;
    for (uint16_t i = 1; i <= 60; ++i) many.push_back({i, uint16_t(0x100 + i)});
    uint8_t cc = 0;
    std::vector<Bytes> pat = tsb::packetize(0, tsb::patSection(1, 0, many), cc);
    ASSERT_EQ(pat.size(), 2u);
    stream_.add(tsb::esPacket(0x100, esCC_));
    stream_.add(pat[0]);
    stream_.add(tsb::esPacket(0x101, esCC_));
    TS_ProgramList list = filled(0xA5);
    const TS_ProgramList before = list;
    ASSERT_EQ(run(&list), 0);
    EXPECT_EQ(std::memcmp(&list, &before, sizeof list), 0);
}

TEST_F(ProgramListTest, PATWithABadCRCIsIgnored) {
    addPAT({{1, 0x100}});
    Bytes corrupt = tsb::patSection(7, 1, {{2, 0x200}});
    corrupt.back() ^= 0x01;
    addSection(0, corrupt, patCC_);
    TS_ProgramList list = filled(0);
    ASSERT_EQ(run(&list), 0);
    ASSERT_EQ(list.u16Count, 1);
    EXPECT_EQ(list.lu16ProgramNumber[0], 1);
    EXPECT_EQ(list.lu16PMTPID[0], 0x100);
}

TEST_F(ProgramListTest, HoldsSixtyFourProgramsOfAPATSpanningTwoPackets) {
    std::vector<tsb::Program> programs;
    for (uint16_t i = 0; i < 64; ++i) programs.push_back({uint16_t(1000 + i), uint16_t(0x0200 + 3 * i)});
    uint8_t cc = 0;
    std::vector<Bytes> pat = tsb::packetize(0, tsb::patSection(1, 0, programs), cc);
    ASSERT_EQ(pat.size(), 2u);  // 12 + 256 bytes
    stream_.add(pat);
    TS_ProgramList list = filled(0);
    ASSERT_EQ(run(&list), 0);
    ASSERT_EQ(list.u16Count, 64);
    for (uint16_t i = 0; i < 64; ++i) {
        EXPECT_EQ(list.lu16ProgramNumber[i], 1000 + i) << i;
        EXPECT_EQ(list.lu16PMTPID[i], 0x0200 + 3 * i) << i;
    }
}

TEST_F(ProgramListTest, RefusesNullArgumentsAndMissingFiles) {
    TS_ProgramList list = filled(0x5A);
    EXPECT_EQ(TS_GetProgramList(nullptr, input().c_str()), -1);
    EXPECT_EQ(TS_GetProgramList(&list, nullptr), -1);
    int32_t status = 0;
    std::string err = tsb::captureStderr([&] { status = TS_GetProgramList(&list, input().c_str()); });
    EXPECT_EQ(status, -2);
    EXPECT_EQ(err, "Error: Failed open " + input() + ".\n");
    EXPECT_EQ(list.u16Count, 0x5A5A);
}
