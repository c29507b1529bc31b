// Writes that fail part-way (a file size limit, SIGXFSZ ignored, so that
// write() fails with EFBIG): every driver reports the failed write and a
// failure status, and every output file holds exactly a prefix of what it
// holds after a run without the limit. The input is never modified: its
// checksum is compared after every test of this suite.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "rivulet/ts.h"
#include "tests/hostile/hostile_support.h"
#include "tests/hostile/sample_streams.h"
#include "tests/support/stream_builder.h"

using hostile::Bytes;
using hostile::TempDir;

namespace {

using Files = std::map<std::string, Bytes>;

Files filesIn(const TempDir& dir) {
    Files files;
    for (const std::string& name : dir.outputs()) files[name] = tsb::readFile(dir.file(name));
    return files;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The same input in two folders: one for the run without a limit, one for
// the limited run. Both inputs must come out unchanged.
class NoDataLost : public ::testing::Test {
protected:
    void useInput(const Bytes& stream) {
        input_ = stream;
        limitedInput_ = limited_.write("in.ts", stream);
        referenceInput_ = reference_.write("in.ts", stream);
        inputSum_ = hostile::checksum(limitedInput_);
    }

    void TearDown() override {
        if (input_.empty()) return;
        EXPECT_EQ(hostile::checksum(limitedInput_), inputSum_) << "the input was modified";
        EXPECT_EQ(hostile::checksum(referenceInput_), inputSum_) << "the input was modified";
        EXPECT_EQ(tsb::readFile(limitedInput_).size(), input_.size());
    }

    // Every file of the limited run is a prefix of the reference run's file
    // of the same name, and at least one of them is cut short.
    void expectPrefixes() {
        Files want = filesIn(reference_), got = filesIn(limited_);
        ASSERT_FALSE(want.empty());
        bool someCut = false;
        for (const auto& [name, bytes] : got) {
            ASSERT_TRUE(want.count(name)) << name << " was not made without the limit";
            EXPECT_TRUE(hostile::isPrefix(bytes, want.at(name))) << name << " is not a prefix";
            someCut = someCut || bytes.size() < want.at(name).size();
        }
        EXPECT_TRUE(someCut);
    }

    // Every line of `err` reports a failed write of a file in the limited
    // folder; there is at least one.
    void expectFailedWrites(const std::string& err) {
        std::vector<std::string> lines = linesOf(err);
        ASSERT_FALSE(lines.empty());
        for (const std::string& line : lines) {
            std::string prefix = "Error: Failed write " + limited_.path() + "/";
            EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
            EXPECT_EQ(line.back(), '.') << line;
            std::string path = line.substr(std::string("Error: Failed write ").size());
            path.pop_back();
            EXPECT_TRUE(tsb::fileExists(path)) << line;
        }
    }

    TempDir limited_, reference_;
    Bytes input_;
    std::string limitedInput_, referenceInput_;
    uint64_t inputSum_ = 0;
};

constexpr uint16_t kPMTPID = 0x0200;  // of the single-program stream
constexpr uint64_t kLimitBytes = 150001;

}  // namespace

// --- The splitter through the tool ----------------------------------------------------------

class SplitterUnderFileLimit : public NoDataLost, public ::testing::WithParamInterface<int> {};

// Limits in the shell's blocks (512 or 1024 bytes): within the first
// packets, within the first buffer of each file, and after several buffers.
INSTANTIATE_TEST_SUITE_P(Blocks, SplitterUnderFileLimit, ::testing::Values(1, 7, 300, 1500));

TEST_P(SplitterUnderFileLimit, ReportsTheFailedWriteAndLeavesPrefixes) {
    useInput(hostile::multiProgramStream(1500));
    tsb::ToolResult full = hostile::runRivulet(referenceInput_);
    ASSERT_EQ(full.status, 0) << full.err;
    ASSERT_EQ(reference_.outputs().size(), 3u);

    std::string prefix = "trap '' XFSZ; ulimit -f " + std::to_string(GetParam()) + ";";
    tsb::ToolResult r = hostile::runRivulet(limitedInput_, prefix);
    EXPECT_EQ(r.status, 1);
    expectFailedWrites(r.err);
    expectPrefixes();
    for (const auto& [name, bytes] : filesIn(limited_)) {
        EXPECT_LE(bytes.size(), uint64_t(GetParam()) * 1024) << name;
    }
}

// An output name that leads back to the input, through a symbolic or a hard
// link, is refused before anything is opened for writing.
TEST_F(NoDataLost, SplitterRefusesOutputsThatAreTheInput) {
    useInput(hostile::multiProgramStream(3));
    ASSERT_EQ(::symlink(limitedInput_.c_str(), limited_.file("in_1_0_0.ts").c_str()), 0);
    tsb::ToolResult r = hostile::runRivulet(limitedInput_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Failed open " + limited_.file("in_1_0_0.ts") + ".\n");

    ASSERT_EQ(::link(referenceInput_.c_str(), reference_.file("in_2_0_0.ts").c_str()), 0);
    r = hostile::runRivulet(referenceInput_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Failed open " + reference_.file("in_2_0_0.ts") + ".\n");
}

// --- The other writing drivers, in a child process -------------------------------------------

TEST_F(NoDataLost, ExtractionReportsTheFailedWriteAndLeavesAPrefix) {
    useInput(hostile::singleProgramStream(1000));
    std::string dest = limited_.file("extract.ts");
    ASSERT_EQ(TS_ProgramSplitStream(reference_.file("extract.ts").c_str(), referenceInput_.c_str(), kPMTPID), 0);
    hostile::ChildResult r = hostile::runUnderFileLimit(
        kLimitBytes, [&] { return TS_ProgramSplitStream(dest.c_str(), limitedInput_.c_str(), kPMTPID); });
    ASSERT_TRUE(r.exitedNormally);
    EXPECT_EQ(r.status, TS_ERR_WRITE);
    EXPECT_EQ(r.err, "Error: Failed write " + dest + ".\n");
    EXPECT_EQ(tsb::readFile(dest).size(), kLimitBytes);
    expectPrefixes();
}

TEST_F(NoDataLost, PMTSplitReportsTheFailedWriteAndLeavesPrefixes) {
    useInput(hostile::singleProgramStream(1000));
    ASSERT_EQ(TS_PMTSplitFile(referenceInput_.c_str(), 1, 0, nullptr), 0);
    ASSERT_EQ(reference_.outputs().size(), 2u);
    hostile::ChildResult r =
        hostile::runUnderFileLimit(kLimitBytes, [&] { return TS_PMTSplitFile(limitedInput_.c_str(), 1, 0, nullptr); });
    ASSERT_TRUE(r.exitedNormally);
    EXPECT_EQ(r.status, TS_ERR_WRITE);
    expectFailedWrites(r.err);
    expectPrefixes();
}

TEST_F(NoDataLost, SingleModePMTSplitReportsTheFailedWriteAndLeavesAPrefix) {
    useInput(hostile::singleProgramStream(1000));
    TS_PMTSplitData table;
    ASSERT_EQ(TS_CheckPMTSplit(&table, referenceInput_.c_str()), 0);
    ASSERT_EQ(table.u16Count, 2);
    uint32_t crc = table.ltEntry[0].u32PMTCRC;
    ASSERT_EQ(TS_PMTSplitFile(referenceInput_.c_str(), 0, crc, reference_.file("one.ts").c_str()), 0);
    ASSERT_EQ(tsb::readFile(reference_.file("one.ts")).size(), table.ltEntry[0].u64Size);
    std::string dest = limited_.file("one.ts");
    hostile::ChildResult r = hostile::runUnderFileLimit(
        kLimitBytes, [&] { return TS_PMTSplitFile(limitedInput_.c_str(), 0, crc, dest.c_str()); });
    ASSERT_TRUE(r.exitedNormally);
    EXPECT_EQ(r.status, TS_ERR_WRITE);
    EXPECT_EQ(r.err, "Error: Failed write " + dest + ".\n");
    expectPrefixes();
}

// Drivers that only read leave the input as it was, whatever the limit.
TEST_F(NoDataLost, ReadingDriversSurviveOutputThatCannotGrow) {
    useInput(hostile::singleProgramStream(200));
    for (const hostile::Driver& d : hostile::everyDriver(kPMTPID)) {
        if (std::string(d.name) != "TS_Print" && std::string(d.name) != "TS_GetProgramList" &&
            std::string(d.name) != "TS_CheckPMTSplit") {
            continue;
        }
        hostile::ChildResult r = hostile::runUnderFileLimit(1, [&] {
            // Standard output goes nowhere: only the input's bytes are read.
            return hostile::captured([&] { return d.run(limitedInput_, limited_.path()); }).status;
        });
        EXPECT_TRUE(r.exitedNormally) << d.name;
        EXPECT_EQ(r.status, 0) << d.name;
    }
}

TEST_F(NoDataLost, ExtractionAndPMTSplitRefuseTheInputAsDestination) {
    useInput(hostile::singleProgramStream(20));
    std::string link = limited_.file("link.ts");
    ASSERT_EQ(::symlink(limitedInput_.c_str(), link.c_str()), 0);
    for (const std::string& dest : {limitedInput_, link}) {
        hostile::Outcome extract =
            hostile::captured([&] { return TS_ProgramSplitStream(dest.c_str(), limitedInput_.c_str(), kPMTPID); });
        EXPECT_EQ(extract.status, TS_ERR_OPEN_OUTPUT) << dest;
        EXPECT_EQ(extract.err, "error - failed on _open(" + dest + ") [dest]\n");
    }
    TS_PMTSplitData table;
    ASSERT_EQ(TS_CheckPMTSplit(&table, limitedInput_.c_str()), 0);
    ASSERT_GE(table.u16Count, 1);
    for (const std::string& dest : {limitedInput_, link}) {
        hostile::Outcome single = hostile::captured(
            [&] { return TS_PMTSplitFile(limitedInput_.c_str(), 0, table.ltEntry[0].u32PMTCRC, dest.c_str()); });
        EXPECT_EQ(single.status, TS_ERR_PMT_SPLIT_OPEN_OUTPUT) << dest;
        EXPECT_EQ(single.err, "Error: Failed open " + dest + ".\n");
    }
}
