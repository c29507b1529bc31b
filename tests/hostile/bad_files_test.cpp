// Inputs and outputs that are not plain files, or cannot be used: a folder
// as input, a FIFO, a missing file, files and folders without permission, an
// output name taken by a folder. The splitter runs through the tool, the
// other drivers through their functions.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "rivulet/ts.h"
#include "tests/hostile/hostile_support.h"
#include "tests/hostile/sample_streams.h"
#include "tests/support/stream_builder.h"

using hostile::Bytes;
using hostile::TempDir;

namespace {

// Permissions do not bind the superuser. Run as root (as CI is), the checks
// run in a child process that has become the unprivileged user nobody; the
// test passes when the child's checks all passed.
template <class Body>
void asUnprivilegedUser(Body body) {
    if (::geteuid() != 0) {
        body();
        return;
    }
    constexpr uid_t kNobody = 65534;
    EXPECT_EXIT(
        {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) std::_Exit(3);
            body();
            std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

// A single-program stream: network entry and program 1, one PMT.
Bytes singleProgramStream() {
    const hostile::SampleProgram program = hostile::samplePrograms()[0];
    uint8_t patCC = 0, pmtCC = 0, es = 0;
    tsb::Stream188 s;
    for (int round = 0; round < 3; ++round) {
        s.add(tsb::packetize(0, tsb::patSection(1, 0, {{0, hostile::kNetworkPID}, {1, program.pmtPID}}), patCC));
        s.add(tsb::packetize(program.pmtPID, hostile::samplePMT(program), pmtCC));
        s.add(tsb::esPacket(program.videoPID, es));
        s.add(tsb::esPacket(program.audioPID, es));
    }
    return s.bytes;
}

// The name of the PMT-change split's file of the stream's one PMT: its CRC
// is the section's last four bytes.
std::string pmtSplitName(const std::string& base) {
    Bytes pmt = hostile::samplePMT(hostile::samplePrograms()[0]);
    char name[16];
    std::snprintf(name, sizeof name, "_%02X%02X%02X%02X.ts", pmt[pmt.size() - 4], pmt[pmt.size() - 3],
                  pmt[pmt.size() - 2], pmt[pmt.size() - 1]);
    return base + name;
}

std::string failedOpen(const std::string& path) { return "Error: Failed open " + path + ".\n"; }
std::string failedRead(const std::string& path) { return "Error: Failed read " + path + ".\n"; }

}  // namespace

// --- A folder as input ----------------------------------------------------------------

TEST(FolderAsInput, SplitterReportsTheFailedRead) {
    TempDir dir;
    std::string folder = dir.file("capture.ts");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    tsb::ToolResult r = hostile::runRivulet(folder);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, failedRead(folder));
    EXPECT_EQ(dir.outputs(), std::vector<std::string>{"capture.ts"});
}

TEST(FolderAsInput, EveryDriverReportsTheFailedRead) {
    TempDir dir;
    std::string folder = dir.file("capture.ts");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    for (const hostile::Driver& d : hostile::everyDriver()) {
        hostile::Outcome o = hostile::captured([&] { return d.run(folder, dir.path()); });
        EXPECT_EQ(o.status, TS_ERR_READ) << d.name;
        EXPECT_EQ(o.err, failedRead(folder)) << d.name;
    }
    EXPECT_EQ(dir.outputs(), std::vector<std::string>{"capture.ts"});
}

// --- A FIFO as input --------------------------------------------------------------------

// The stream reaches the reader through a pipe in pieces of the pipe's size
// (64 KiB), so packets straddle reads; the results must be those of the same
// bytes in a plain file. A single-program stream whose PMT changes once, so
// that every driver reads it to its end and writes something.
class FifoInput : public ::testing::Test {
protected:
    static constexpr uint16_t kPMTPID = 0x0200;

    void SetUp() override {
        stream_ = hostile::singleProgramStream(800);  // about 1 MiB
        fifo_ = fifoDir_.file("in.ts");
        ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
        plain_ = plainDir_.write("in.ts", stream_);
    }

    // Runs `reader` while a thread feeds the stream into the FIFO.
    template <class Reader>
    auto whileFeeding(Reader&& reader) {
        hostile::IgnoreSigpipe quiet;
        hostile::FifoWriter writer(fifo_, stream_);
        size_t sent = 0;
        std::thread feeder([&] { sent = writer.feed(); });
        auto result = reader();
        feeder.join();
        EXPECT_EQ(sent, stream_.size()) << "the reader stopped before the end";
        return result;
    }

    std::map<std::string, Bytes> outputsOf(const TempDir& dir) {
        std::map<std::string, Bytes> files;
        for (const std::string& name : dir.outputs()) files[name] = tsb::readFile(dir.file(name));
        return files;
    }

    TempDir fifoDir_, plainDir_;
    Bytes stream_;
    std::string fifo_, plain_;
};

TEST_F(FifoInput, SplitterReadsItLikeAFile) {
    tsb::ToolResult r = whileFeeding([&] { return hostile::runRivulet(fifo_); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    tsb::ToolResult plain = hostile::runRivulet(plain_);
    ASSERT_EQ(plain.status, 0);
    std::map<std::string, Bytes> want = outputsOf(plainDir_);
    ASSERT_EQ(want.size(), 1u);
    EXPECT_TRUE(outputsOf(fifoDir_) == want);
}

TEST_F(FifoInput, EveryDriverReadsItLikeAFile) {
    for (const hostile::Driver& d : hostile::everyDriver(kPMTPID)) {
        hostile::Outcome fromFifo =
            whileFeeding([&] { return hostile::captured([&] { return d.run(fifo_, fifoDir_.path()); }); });
        hostile::Outcome fromFile = hostile::captured([&] { return d.run(plain_, plainDir_.path()); });
        EXPECT_EQ(fromFifo.status, 0) << d.name;
        EXPECT_EQ(fromFifo.status, fromFile.status) << d.name;
        EXPECT_EQ(fromFifo.err, fromFile.err) << d.name;
        EXPECT_TRUE(fromFifo.out == fromFile.out) << d.name;
    }
    std::map<std::string, Bytes> want = outputsOf(plainDir_);
    ASSERT_EQ(want.size(), 3u);  // the extraction and one file per PMT version
    ASSERT_EQ(want.count("extract.ts"), 1u);
    EXPECT_TRUE(outputsOf(fifoDir_) == want);
}

TEST_F(FifoInput, WriterClosingMidPacketEndsTheInput) {
    hostile::IgnoreSigpipe quiet;
    Bytes half(stream_.begin(), stream_.begin() + long(188 * 1000 + 77));
    hostile::FifoWriter writer(fifo_, half);
    std::thread feeder([&] { writer.feed(); });
    tsb::ToolResult r = hostile::runRivulet(fifo_);
    feeder.join();
    EXPECT_EQ(r.status, 0);
    plainDir_.write("in.ts", Bytes(half.begin(), half.begin() + 188 * 1000));
    ASSERT_EQ(hostile::runRivulet(plain_).status, 0);
    EXPECT_TRUE(outputsOf(fifoDir_) == outputsOf(plainDir_));
}

// --- Inputs that cannot be opened --------------------------------------------------------

TEST(UnopenableInput, MissingFile) {
    TempDir dir;
    std::string missing = dir.file("missing.ts");
    tsb::ToolResult r = hostile::runRivulet(missing);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, failedOpen(missing));
    for (const hostile::Driver& d : hostile::everyDriver()) {
        hostile::Outcome o = hostile::captured([&] { return d.run(missing, dir.path()); });
        EXPECT_EQ(o.status, TS_ERR_OPEN_INPUT) << d.name;
        EXPECT_EQ(o.err, failedOpen(missing)) << d.name;
    }
    EXPECT_TRUE(tsb::listDir(dir.path()).empty());
}

TEST(UnopenableInput, FileWithoutReadPermission) {
    asUnprivilegedUser([] {
        TempDir dir;
        std::string in = dir.write("in.ts", singleProgramStream());
        ASSERT_EQ(::chmod(in.c_str(), 0200), 0);
        tsb::ToolResult r = hostile::runRivulet(in);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, failedOpen(in));
        for (const hostile::Driver& d : hostile::everyDriver()) {
            hostile::Outcome o = hostile::captured([&] { return d.run(in, dir.path()); });
            EXPECT_EQ(o.status, TS_ERR_OPEN_INPUT) << d.name;
            EXPECT_EQ(o.err, failedOpen(in)) << d.name;
        }
        EXPECT_TRUE(dir.outputs().empty());
    });
}

// --- Outputs that cannot be opened -------------------------------------------------------

TEST(UnopenableOutput, FolderWithoutWritePermission) {
    asUnprivilegedUser([] {
        TempDir dir;
        std::string in = dir.write("in.ts", singleProgramStream());
        ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
        tsb::ToolResult r = hostile::runRivulet(in);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, failedOpen(dir.file("in_1_0_0.ts")));
        hostile::Outcome all = hostile::captured([&] { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); });
        EXPECT_EQ(all.status, TS_ERR_PMT_SPLIT_OPEN_OUTPUT);
        EXPECT_EQ(all.err, failedOpen(pmtSplitName(dir.file("in"))));
        std::string dest = dir.file("extract.ts");
        hostile::Outcome extract =
            hostile::captured([&] { return TS_ProgramSplitStream(dest.c_str(), in.c_str(), 0x0100); });
        EXPECT_EQ(extract.status, TS_ERR_OPEN_OUTPUT);
        EXPECT_EQ(extract.err, "error - failed on _open(" + dest + ") [dest]\n");
        ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
        EXPECT_TRUE(dir.outputs().empty());
    });
}

// A folder in the place of an output file cannot be opened for writing, by
// anybody. The splitter stops at once; the input stays as it was.
TEST(UnopenableOutput, NameTakenByAFolder) {
    TempDir dir;
    Bytes stream = singleProgramStream();
    std::string in = dir.write("in.ts", stream);
    std::string taken = dir.file("in_1_0_0.ts");
    ASSERT_EQ(::mkdir(taken.c_str(), 0755), 0);
    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, failedOpen(taken));
    EXPECT_TRUE(tsb::readFile(in) == stream);
    EXPECT_EQ(tsb::listDir(taken).size(), 0u);
}

TEST(UnopenableOutput, DestinationsTakenByFolders) {
    TempDir dir;
    std::string in = dir.write("in.ts", singleProgramStream());
    std::string dest = dir.file("extract.ts");
    ASSERT_EQ(::mkdir(dest.c_str(), 0755), 0);
    hostile::Outcome extract =
        hostile::captured([&] { return TS_ProgramSplitStream(dest.c_str(), in.c_str(), 0x0100); });
    EXPECT_EQ(extract.status, TS_ERR_OPEN_OUTPUT);
    EXPECT_EQ(extract.err, "error - failed on _open(" + dest + ") [dest]\n");

    std::string segment = pmtSplitName(dir.file("in"));
    ASSERT_EQ(::mkdir(segment.c_str(), 0755), 0);
    hostile::Outcome all = hostile::captured([&] { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); });
    EXPECT_EQ(all.status, TS_ERR_PMT_SPLIT_OPEN_OUTPUT);
    EXPECT_EQ(all.err, failedOpen(segment));

    TS_PMTSplitData table;
    ASSERT_EQ(TS_CheckPMTSplit(&table, in.c_str()), 0);
    ASSERT_EQ(table.u16Count, 1);
    hostile::Outcome single = hostile::captured(
        [&] { return TS_PMTSplitFile(in.c_str(), 0, table.ltEntry[0].u32PMTCRC, dest.c_str()); });
    EXPECT_EQ(single.status, TS_ERR_PMT_SPLIT_OPEN_OUTPUT);
    EXPECT_EQ(single.err, failedOpen(dest));
    EXPECT_EQ(tsb::listDir(dest).size(), 0u);
    EXPECT_EQ(tsb::listDir(segment).size(), 0u);
}
