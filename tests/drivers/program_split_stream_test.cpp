// TS_ProgramSplitStream: one program, chosen by its PMT PID, copied out of a
// stream. Destinations are compared byte for byte with the input packets
// that belong there.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "rivulet/ts.h"
#include "tests/support/capture.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

constexpr uint16_t kPMT = 0x100;
constexpr uint16_t kVideo = 0x101;  // also carries the PCR
constexpr uint16_t kAudio = 0x102;
constexpr uint16_t kECM = 0x120;       // CA descriptor of the program loop
constexpr uint16_t kAudioECM = 0x121;  // CA descriptor of the audio stream
constexpr uint16_t kOther = 0x300;

// Registration descriptors that push a PMT section past one packet.
Bytes padding(size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i) tsb::append(out, tsb::descriptor(0x05, {'T', 'E', 'S', uint8_t(i)}));
    return out;
}

class ExtractionTest : public ::testing::Test {
protected:
    ExtractionTest() : dir_(tsb::makeTempDir("extract")) {}
    ~ExtractionTest() override { tsb::removeTree(dir_); }

    // Adds packets and returns the index of the first one.
    size_t add(const std::vector<Bytes>& packets) {
        size_t first = count();
        stream_.add(packets);
        return first;
    }
    size_t add(const Bytes& packet) { return add(std::vector<Bytes>{packet}); }
    size_t addPAT(const std::vector<tsb::Program>& programs, uint8_t version = 0) {
        return add(tsb::packetize(0, tsb::patSection(1, version, programs), patCC_));
    }
    size_t addPMT(const Bytes& section) { return add(tsb::packetize(kPMT, section, pmtCC_)); }
    size_t addES(uint16_t pid) { return add(tsb::esPacket(pid, esCC_[pid & 0xF])); }
    size_t count() const { return stream_.bytes.size() / 188; }

    static Bytes programPMT(uint8_t version = 0, size_t paddingCount = 0) {
        Bytes program = tsb::caDescriptor(0x0B00, kECM);
        tsb::append(program, padding(paddingCount));
        return tsb::pmtSection(1, kVideo, program,
                               {{0x1B, kVideo, {}}, {0x0F, kAudio, tsb::caDescriptor(0x0B00, kAudioECM)}}, version);
    }

    int32_t run(const std::string& dest, uint16_t pmtPID = kPMT) {
        tsb::writeFile(input(), stream_.bytes);
        return TS_ProgramSplitStream(dest.c_str(), input().c_str(), pmtPID);
    }
    std::string input() const { return dir_ + "/in.ts"; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    Bytes packets(const std::vector<size_t>& indices) const { return tsb::packetsAt(stream_.bytes, indices); }

    std::string dir_;
    tsb::Stream188 stream_;
    uint8_t patCC_ = 0, pmtCC_ = 0;
    uint8_t esCC_[16] = {};
};

}  // namespace

TEST_F(ExtractionTest, CopiesTheProgramOnceAndStopsAtThePATWithoutItsPMT) {
    addES(kVideo);                                     // 0: before any PAT
    addPAT({{0, 0x10}, {1, kPMT}, {2, 0x200}});        // 1
    addES(kVideo);                                     // 2: before the PMT
    size_t pmt = addPMT(programPMT(0, 30));            // 3, 4: a PMT of two packets
    size_t video = addES(kVideo);                      // 5: video and PCR, written once
    size_t audio = addES(kAudio);                      // 6
    size_t ecm = addES(kECM);                          // 7
    size_t audioECM = addES(kAudioECM);                // 8
    addES(kOther);                                     // 9
    addPAT({{0, 0x10}, {1, kPMT}, {2, 0x200}});        // 10: still announces the PMT
    size_t video2 = addES(kVideo);                     // 11
    addPAT({{0, 0x10}, {2, 0x200}}, 1);                // 12: the program is gone
    addES(kVideo);                                     // 13
    addPMT(programPMT());                              // 14
    ASSERT_EQ(count(), 15u);
    ASSERT_EQ(run(path("out.ts")), 0);
    EXPECT_EQ(tsb::readFile(path("out.ts")),
              packets({pmt, pmt + 1, video, audio, ecm, audioECM, video2}));
}

TEST_F(ExtractionTest, JudgesPacketsByThePMTLastParsed) {
    addPAT({{1, kPMT}});
    size_t first = addPMT(tsb::pmtSection(1, kVideo, {}, {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}));
    size_t audio = addES(kAudio);
    size_t second = addPMT(tsb::pmtSection(1, kVideo, {}, {{0x1B, kVideo, {}}, {0x0F, 0x103, {}}}, 1));
    addES(kAudio);
    size_t replaced = addES(0x103);
    ASSERT_EQ(run(path("out.ts")), 0);
    EXPECT_EQ(tsb::readFile(path("out.ts")), packets({first, audio, second, replaced}));
}

TEST_F(ExtractionTest, IgnoresSectionsWhoseCRCFails) {
    addPAT({{1, kPMT}});
    Bytes corruptPAT = tsb::patSection(1, 1, {{2, 0x200}});
    corruptPAT.back() ^= 0x80;
    add(tsb::packetize(0, corruptPAT, patCC_));  // would end the pass if it were trusted
    size_t pmt = addPMT(tsb::pmtSection(1, kVideo, {}, {{0x1B, kVideo, {}}}));
    Bytes corruptPMT = tsb::pmtSection(1, kVideo, {}, {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}, 1);
    corruptPMT[corruptPMT.size() - 2] ^= 0x01;
    size_t corrupt = addPMT(corruptPMT);  // reassembled, so copied; never parsed
    addES(kAudio);
    size_t video = addES(kVideo);
    ASSERT_EQ(run(path("out.ts")), 0);
    EXPECT_EQ(tsb::readFile(path("out.ts")), packets({pmt, corrupt, video}));
}

TEST_F(ExtractionTest, PMTPacketAlsoNamedAsAStreamIsWrittenOnce) {
    addPAT({{1, kPMT}});
    size_t first = addPMT(tsb::pmtSection(1, kPMT, {}, {{0x05, kPMT, {}}, {0x1B, kVideo, {}}}));
    size_t video = addES(kVideo);
    size_t second = addPMT(tsb::pmtSection(1, kPMT, {}, {{0x05, kPMT, {}}, {0x1B, kVideo, {}}}));
    ASSERT_EQ(run(path("out.ts")), 0);
    EXPECT_EQ(tsb::readFile(path("out.ts")), packets({first, video, second}));
}

TEST_F(ExtractionTest, NullPCRPIDRoutesNothing) {
    addPAT({{1, kPMT}});
    size_t pmt = addPMT(tsb::pmtSection(1, TS_PID_NULL, {}, {{0x0F, kAudio, {}}}));
    addES(TS_PID_NULL);
    size_t audio = addES(kAudio);
    ASSERT_EQ(run(path("out.ts")), 0);
    EXPECT_EQ(tsb::readFile(path("out.ts")), packets({pmt, audio}));
}

TEST_F(ExtractionTest, CreatesNoFileWhenTheFirstPATDoesNotAnnounceThePMT) {
    // Under program_number 0 the PID is the network PID, not a PMT.
    addPAT({{0, kPMT}, {2, 0x200}});
    addPAT({{1, kPMT}});
    addPMT(programPMT());
    addES(kVideo);
    ASSERT_EQ(run(path("out.ts")), 0);
    EXPECT_FALSE(tsb::fileExists(path("out.ts")));
}

TEST_F(ExtractionTest, TruncatesAnExistingDestination) {
    tsb::writeFile(path("out.ts"), Bytes(188 * 5, 0x11));
    addPAT({{1, kPMT}});
    size_t pmt = addPMT(programPMT());
    size_t video = addES(kVideo);
    ASSERT_EQ(run(path("out.ts")), 0);
    EXPECT_EQ(tsb::readFile(path("out.ts")), packets({pmt, video}));
}

TEST_F(ExtractionTest, RefusesItsOwnInputAsDestinationUnderAnyName) {
    addPAT({{1, kPMT}});
    addPMT(programPMT());
    addES(kVideo);
    tsb::writeFile(input(), stream_.bytes);
    ASSERT_EQ(::link(input().c_str(), path("hard.ts").c_str()), 0);
    ASSERT_EQ(::symlink(input().c_str(), path("soft.ts").c_str()), 0);
    for (const std::string& dest : {input(), path("hard.ts"), path("soft.ts"), dir_ + "/./in.ts"}) {
        int32_t status = 0;
        std::string err = tsb::captureStderr(
            [&] { status = TS_ProgramSplitStream(dest.c_str(), input().c_str(), kPMT); });
        EXPECT_EQ(status, -3) << dest;
        EXPECT_EQ(err, "error - failed on _open(" + dest + ") [dest]\n");
        EXPECT_EQ(tsb::readFile(input()), stream_.bytes) << dest;
    }
}

TEST_F(ExtractionTest, ReportsADestinationThatCannotBeOpened) {
    addPAT({{1, kPMT}});
    std::string dest = path("missing/out.ts");
    int32_t status = 0;
    std::string err = tsb::captureStderr([&] { status = run(dest); });
    EXPECT_EQ(status, -3);
    EXPECT_EQ(err, "error - failed on _open(" + dest + ") [dest]\n");
}

TEST_F(ExtractionTest, ReportsAFailedWrite) {
    addPAT({{1, kPMT}});
    addPMT(programPMT());
    addES(kVideo);
    int32_t status = 0;
    std::string err = tsb::captureStderr([&] { status = run("/dev/full"); });
    EXPECT_EQ(status, TS_ERR_WRITE);
    EXPECT_EQ(err, "Error: Failed write /dev/full.\n");
}

TEST_F(ExtractionTest, RefusesNullArgumentsAndMissingInput) {
    EXPECT_EQ(TS_ProgramSplitStream(nullptr, input().c_str(), kPMT), -1);
    EXPECT_EQ(TS_ProgramSplitStream(path("out.ts").c_str(), nullptr, kPMT), -1);
    int32_t status = 0;
    std::string err = tsb::captureStderr(
        [&] { status = TS_ProgramSplitStream(path("out.ts").c_str(), input().c_str(), kPMT); });
    EXPECT_EQ(status, -2);
    EXPECT_EQ(err, "Error: Failed open " + input() + ".\n");
    EXPECT_FALSE(tsb::fileExists(path("out.ts")));
}
