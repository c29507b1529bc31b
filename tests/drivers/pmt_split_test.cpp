// TS_CheckPMTSplit and TS_PMTSplitFile: a single-program stream cut wherever
// its PMT changes. Segment files are compared byte for byte with the input
// packets that belong there, and the survey's sizes with the files' lengths.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
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
constexpr uint16_t kExtra = 0x103;

uint32_t crcOf(const Bytes& section) {
    size_t n = section.size();
    return uint32_t(section[n - 4]) << 24 | uint32_t(section[n - 3]) << 16 | uint32_t(section[n - 2]) << 8 |
           section[n - 1];
}

std::string hex8(uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", crc);
    return text;
}

Bytes registrations(size_t count, uint8_t tag) {
    Bytes out;
    for (size_t i = 0; i < count; ++i) tsb::append(out, tsb::descriptor(0x05, {'R', 'V', tag, uint8_t(i)}));
    return out;
}

// PMT A: video (with the PCR) and audio. PMT B: video and the extra stream.
const Bytes kPMTA = tsb::pmtSection(1, kVideo, {}, {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}});
const Bytes kPMTB = tsb::pmtSection(1, kVideo, {}, {{0x1B, kVideo, {}}, {0x0F, kExtra, {}}}, 1);

class PMTSplitTest : public ::testing::Test {
protected:
    PMTSplitTest() : dir_(tsb::makeTempDir("pmtsplit")) {}
    ~PMTSplitTest() override { tsb::removeTree(dir_); }

    size_t add(const std::vector<Bytes>& packets) {
        size_t first = count();
        stream_.add(packets);
        return first;
    }
    size_t add(const Bytes& packet) { return add(std::vector<Bytes>{packet}); }
    size_t addPAT(const std::vector<tsb::Program>& programs = {{0, 0x10}, {1, kPMT}}) {
        return add(tsb::packetize(0, tsb::patSection(1, 0, programs), patCC_));
    }
    size_t addPMT(const Bytes& section) { return add(tsb::packetize(kPMT, section, pmtCC_)); }
    size_t addES(uint16_t pid) { return add(tsb::esPacket(pid, esCC_)); }
    size_t count() const { return stream_.bytes.size() / 188; }

    void writeInput() { tsb::writeFile(input(), stream_.bytes); }
    int32_t survey(TS_PMTSplitData& table) {
        writeInput();
        return TS_CheckPMTSplit(&table, input().c_str());
    }
    int32_t splitAll() {
        writeInput();
        return TS_PMTSplitFile(input().c_str(), 1, 0, nullptr);
    }
    std::string input() const { return dir_ + "/in.ts"; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string segment(uint32_t crc) const { return path("in_" + hex8(crc) + ".ts"); }
    Bytes packets(const std::vector<size_t>& indices) const { return tsb::packetsAt(stream_.bytes, indices); }
    std::vector<std::string> outputs() const {
        std::vector<std::string> names = tsb::listDir(dir_);
        std::erase(names, "in.ts");
        return names;
    }

    // The sizes of the survey, added up per CRC, are the lengths of the
    // segment files.
    void expectSizesMatchFiles(const TS_PMTSplitData& table) const {
        std::map<uint32_t, uint64_t> sizes;
        for (uint16_t e = 0; e < table.u16Count; ++e) sizes[table.ltEntry[e].u32PMTCRC] += table.ltEntry[e].u64Size;
        for (const auto& [crc, size] : sizes) EXPECT_EQ(tsb::readFile(segment(crc)).size(), size) << hex8(crc);
        EXPECT_EQ(outputs().size(), sizes.size());
    }

    std::string dir_;
    tsb::Stream188 stream_;
    uint8_t patCC_ = 0, pmtCC_ = 0, esCC_ = 0;
};

void expectEntry(const TS_PMTSplitData& table, uint16_t e, uint32_t crc, uint16_t occurrence, uint64_t size) {
    ASSERT_LT(e, table.u16Count);
    EXPECT_EQ(table.ltEntry[e].u32PMTCRC, crc) << e;
    EXPECT_EQ(table.ltEntry[e].u16Occurrence, occurrence) << e;
    EXPECT_EQ(table.ltEntry[e].u64Size, size) << e;
}

}  // namespace

class PMTSplitABA : public PMTSplitTest {
protected:
    PMTSplitABA() {
        pat1 = addPAT();      // 0
        pmt1 = addPMT(kPMTA); // 1
        addES(kVideo);        // 2
        addES(kAudio);        // 3
        addES(kExtra);        // 4: not a stream of A
        pat2 = addPAT();      // 5
        pmt2 = addPMT(kPMTB); // 6
        addES(kVideo);        // 7
        addES(kExtra);        // 8
        addES(kAudio);        // 9: not a stream of B
        pat3 = addPAT();      // 10
        pmt3 = addPMT(kPMTA); // 11
        addES(kAudio);        // 12
        addES(kExtra);        // 13
    }
    size_t pat1, pmt1, pat2, pmt2, pat3, pmt3;
};

TEST_F(PMTSplitABA, SurveyListsThreeRuns) {
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), 0);
    ASSERT_EQ(table.u16Count, 3);
    expectEntry(table, 0, crcOf(kPMTA), 0, 4 * 188);
    expectEntry(table, 1, crcOf(kPMTB), 0, 4 * 188);
    expectEntry(table, 2, crcOf(kPMTA), 1, 3 * 188);
    EXPECT_EQ(table.ltEntry[3].u32PMTCRC, 0u);
}

TEST_F(PMTSplitABA, SplitAllWritesOneFilePerDistinctPMT) {
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(outputs().size(), 2u);
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))), packets({0, 1, 2, 3, 10, 11, 12}));
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTB))), packets({5, 6, 7, 8}));
    TS_PMTSplitData table;
    ASSERT_EQ(TS_CheckPMTSplit(&table, input().c_str()), 0);
    expectSizesMatchFiles(table);
}

TEST_F(PMTSplitABA, SingleModeWritesTheChosenPMTIntoTheDestination) {
    writeInput();
    ASSERT_EQ(TS_PMTSplitFile(input().c_str(), 0, crcOf(kPMTA), path("a.ts").c_str()), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"a.ts"});
    EXPECT_EQ(tsb::readFile(path("a.ts")), packets({0, 1, 2, 3, 10, 11, 12}));
}

TEST_F(PMTSplitABA, SingleModeWithoutDestinationUsesTheSplitAllName) {
    writeInput();
    ASSERT_EQ(TS_PMTSplitFile(input().c_str(), 0, crcOf(kPMTB), nullptr), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"in_" + hex8(crcOf(kPMTB)) + ".ts"});
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTB))), packets({5, 6, 7, 8}));
}

TEST_F(PMTSplitABA, SingleModeWithAnUnknownCRCWritesNothing) {
    writeInput();
    ASSERT_EQ(TS_PMTSplitFile(input().c_str(), 0, crcOf(kPMTA) ^ 1, path("a.ts").c_str()), 0);
    EXPECT_TRUE(outputs().empty());
}

TEST_F(PMTSplitABA, SingleModeRefusesItsOwnInputAsDestination) {
    writeInput();
    ASSERT_EQ(::symlink(input().c_str(), path("link.ts").c_str()), 0);
    for (const std::string& dest : {input(), path("link.ts")}) {
        int32_t status = 0;
        std::string err = tsb::captureStderr(
            [&] { status = TS_PMTSplitFile(input().c_str(), 0, crcOf(kPMTA), dest.c_str()); });
        EXPECT_EQ(status, -4) << dest;
        EXPECT_EQ(err, "Error: Failed open " + dest + ".\n");
        EXPECT_EQ(tsb::readFile(input()), stream_.bytes);
    }
}

TEST_F(PMTSplitABA, ReportsAFailedWrite) {
    writeInput();
    int32_t status = 0;
    std::string err = tsb::captureStderr(
        [&] { status = TS_PMTSplitFile(input().c_str(), 0, crcOf(kPMTB), "/dev/full"); });
    EXPECT_EQ(status, TS_ERR_WRITE);
    EXPECT_EQ(err, "Error: Failed write /dev/full.\n");
}

TEST_F(PMTSplitABA, ReportsAnOutputThatCannotBeOpened) {
    writeInput();
    // A directory in the place of B's segment file.
    ASSERT_EQ(::mkdir(segment(crcOf(kPMTB)).c_str(), 0755), 0);
    int32_t status = 0;
    std::string err = tsb::captureStderr([&] { status = TS_PMTSplitFile(input().c_str(), 1, 0, nullptr); });
    EXPECT_EQ(status, -4);
    EXPECT_EQ(err, "Error: Failed open " + segment(crcOf(kPMTB)) + ".\n");
    // A's file was closed with what came before.
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))), packets({0, 1, 2, 3}));
}

TEST_F(PMTSplitTest, PMTThatNeverChangesMakesOneRunAndOneFile) {
    addPAT();           // 0
    addPMT(kPMTA);      // 1
    addES(kVideo);      // 2
    addES(kAudio);      // 3
    addPAT();           // 4
    addPMT(kPMTA);      // 5
    addES(kVideo);      // 6
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), 0);
    ASSERT_EQ(table.u16Count, 1);
    expectEntry(table, 0, crcOf(kPMTA), 0, 2 * 376 + 3 * 188);
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))), stream_.bytes);
    expectSizesMatchFiles(table);
}

TEST_F(PMTSplitTest, TwoPacketPMTIsWrittenWholeBehindTheSavedPAT) {
    // The PMT spans two packets; a video packet (PCR in the video PID) slips
    // in between them and is judged against the PMT in force until then.
    Bytes big = tsb::pmtSection(1, kVideo, registrations(40, 1), {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}});
    Bytes big2 = tsb::pmtSection(1, kVideo, registrations(40, 2), {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}});
    std::vector<Bytes> first = tsb::packetize(kPMT, big, pmtCC_);
    std::vector<Bytes> second = tsb::packetize(kPMT, big2, pmtCC_);
    ASSERT_EQ(first.size(), 2u);
    addPAT();           // 0
    add(first[0]);      // 1
    addES(kVideo);      // 2: no PMT yet
    add(first[1]);      // 3
    addES(kVideo);      // 4
    addES(kAudio);      // 5
    addPAT();           // 6
    add(second[0]);     // 7
    addES(kVideo);      // 8: still under the first PMT
    add(second[1]);     // 9
    addES(kVideo);      // 10
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), 0);
    ASSERT_EQ(table.u16Count, 2);
    expectEntry(table, 0, crcOf(big), 0, 6 * 188);
    expectEntry(table, 1, crcOf(big2), 0, 4 * 188);
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(tsb::readFile(segment(crcOf(big))), packets({0, 1, 3, 4, 5, 8}));
    EXPECT_EQ(tsb::readFile(segment(crcOf(big2))), packets({6, 7, 9, 10}));
    expectSizesMatchFiles(table);
}

// A packet that ends one PMT section and begins the next (pointer_field not 0).
class PMTSplitSharedPacket : public PMTSplitTest {
protected:
    void build(const Bytes& s1, const Bytes& s2) {
        ASSERT_GT(s1.size(), 183u);
        size_t rest = s1.size() - 183;
        ASSERT_LT(rest + 1 + 12, 184u);
        Bytes p1 = {0x00};
        p1.insert(p1.end(), s1.begin(), s1.begin() + 183);
        Bytes p2 = {uint8_t(rest)};
        p2.insert(p2.end(), s1.begin() + 183, s1.end());
        size_t head = 183 - rest;
        p2.insert(p2.end(), s2.begin(), s2.begin() + head);
        Bytes p3(s2.begin() + head, s2.end());
        addPAT();                                                             // 0
        add(tsb::packet({.pid = kPMT, .pusi = true, .cc = 0, .payload = p1}));  // 1
        add(tsb::packet({.pid = kPMT, .pusi = true, .cc = 1, .payload = p2}));  // 2
        add(tsb::packet({.pid = kPMT, .cc = 2, .payload = p3}));                // 3
        addES(kVideo);                                                        // 4
    }
    const Bytes bigA = tsb::pmtSection(1, kVideo, registrations(30, 1), {{0x1B, kVideo, {}}});
    const Bytes bigB = tsb::pmtSection(1, kVideo, registrations(30, 2), {{0x1B, kVideo, {}}});
};

TEST_F(PMTSplitSharedPacket, SamePMTTwiceWritesTheSharedPacketOnce) {
    build(bigA, bigA);
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), 0);
    ASSERT_EQ(table.u16Count, 1);
    expectEntry(table, 0, crcOf(bigA), 0, 6 * 188);
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(tsb::readFile(segment(crcOf(bigA))), packets({0, 1, 2, 0, 3, 4}));
    expectSizesMatchFiles(table);
}

TEST_F(PMTSplitSharedPacket, ChangedPMTTakesTheSharedPacketIntoBothFiles) {
    build(bigA, bigB);
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), 0);
    ASSERT_EQ(table.u16Count, 2);
    expectEntry(table, 0, crcOf(bigA), 0, 3 * 188);
    expectEntry(table, 1, crcOf(bigB), 0, 4 * 188);
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(tsb::readFile(segment(crcOf(bigA))), packets({0, 1, 2}));
    EXPECT_EQ(tsb::readFile(segment(crcOf(bigB))), packets({0, 2, 3, 4}));
    expectSizesMatchFiles(table);
}

TEST_F(PMTSplitTest, SectionsWhoseCRCFailsAreIgnored) {
    addPAT();                         // 0
    addPMT(kPMTA);                    // 1
    Bytes badPAT = tsb::patSection(1, 1, {{1, kPMT}, {2, 0x200}});
    badPAT.back() ^= 0x01;
    add(tsb::packetize(0, badPAT, patCC_));  // 2: would not be single-program
    Bytes badPMT = kPMTB;
    badPMT.back() ^= 0x01;
    addPMT(badPMT);                   // 3
    addES(kVideo);                    // 4
    addES(kExtra);                    // 5
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), 0);
    ASSERT_EQ(table.u16Count, 1);
    expectEntry(table, 0, crcOf(kPMTA), 0, 3 * 188);
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))), packets({0, 1, 4}));
}

TEST_F(PMTSplitTest, ProgramEntryIsTakenWhereverItStands) {
    addPAT({{1, kPMT}, {0, 0x10}});   // 0
    addPMT(kPMTA);                    // 1
    addES(kAudio);                    // 2
    addPAT({{1, kPMT}});              // 3
    addPMT(kPMTA);                    // 4
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))), stream_.bytes);
}

TEST_F(PMTSplitTest, SectionBegunOnAnEarlierPMTPIDIsNotFinishedOnTheNewOne) {
    Bytes big = tsb::pmtSection(1, kVideo, registrations(40, 4), {{0x1B, kVideo, {}}});
    uint8_t cc = 0;
    std::vector<Bytes> parts = tsb::packetize(kPMT, big, cc);
    ASSERT_EQ(parts.size(), 2u);
    Bytes moved = parts[1];  // the continuation, now on the new PMT PID 0x0200
    moved[1] = uint8_t((moved[1] & 0xE0) | 0x02);
    moved[2] = 0x00;
    uint8_t newCC = 2;
    addPAT({{1, kPMT}});                                        // 0
    add(parts[0]);                                              // 1
    addPAT({{1, 0x200}});                                       // 2
    add(moved);                                                 // 3
    add(tsb::packetize(0x200, kPMTA, newCC));                   // 4
    addES(kVideo);                                              // 5
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"in_" + hex8(crcOf(kPMTA)) + ".ts"});
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))), packets({2, 4, 5}));
}

TEST_F(PMTSplitTest, NetworkEntryAloneTakesNoPMT) {
    addPAT({{0, kPMT}});
    addPMT(kPMTA);
    addES(kVideo);
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), 0);
    EXPECT_EQ(table.u16Count, 0);
    ASSERT_EQ(splitAll(), 0);
    EXPECT_TRUE(outputs().empty());
}

TEST_F(PMTSplitTest, PATWithTwoProgramsIsNotASingleProgramStream) {
    addPAT();                         // 0
    addPMT(kPMTA);                    // 1
    addES(kVideo);                    // 2
    addPAT({{1, kPMT}, {2, 0x200}});  // 3: two programs, no network entry
    addPMT(kPMTB);                    // 4
    addES(kVideo);                    // 5
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), -3);
    ASSERT_EQ(table.u16Count, 1);
    expectEntry(table, 0, crcOf(kPMTA), 0, 3 * 188);
    EXPECT_EQ(splitAll(), -3);
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))), packets({0, 1, 2}));
}

TEST_F(PMTSplitTest, SectionSpreadOverTooManyPacketsIsDropped) {
    // Adaptation fields leave ten payload bytes per packet: a 200-byte PMT
    // would touch 21 packets, more than a section of full packets can.
    Bytes big = tsb::pmtSection(1, kVideo, registrations(30, 3), {{0x1B, kVideo, {}}});
    ASSERT_GT(big.size(), 190u);
    addPAT();
    Bytes adaptation(173, 0xFF);
    adaptation[0] = 0x00;  // no flags set: stuffing only
    uint8_t cc = 0;
    for (size_t pos = 0; pos < big.size(); cc = (cc + 1) & 15) {
        const bool first = pos == 0;
        size_t n = std::min(big.size() - pos, size_t(first ? 9 : 10));  // the pointer_field takes one byte
        Bytes payload(big.begin() + pos, big.begin() + pos + n);
        if (first) payload.insert(payload.begin(), 0x00);
        pos += n;
        add(tsb::packet({.pid = kPMT, .pusi = first, .cc = cc, .hasAdaptation = true, .adaptation = adaptation,
                         .payload = payload}));
    }
    ASSERT_EQ(count(), 22u);
    size_t pmt = addPMT(kPMTA);
    size_t video = addES(kVideo);
    TS_PMTSplitData table;
    ASSERT_EQ(survey(table), 0);
    ASSERT_EQ(table.u16Count, 1);
    expectEntry(table, 0, crcOf(kPMTA), 0, 3 * 188);
    ASSERT_EQ(splitAll(), 0);
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))), packets({0, pmt, video}));
}

TEST_F(PMTSplitTest, RoundTripReproducesASplitterOutput) {
    // A two-program stream whose every PAT is directly followed by both PMTs.
    const Bytes pmt1 = tsb::pmtSection(1, kVideo, tsb::caDescriptor(0x0B00, 0x120), {{0x1B, kVideo, {}}});
    const Bytes pmt2 = tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}, {0x0F, 0x202, {}}});
    uint8_t cc2 = 0;
    addES(kVideo);
    for (int round = 0; round < 3; ++round) {
        addPAT({{0, 0x10}, {1, kPMT}, {2, 0x200}});
        addPMT(pmt1);
        add(tsb::packetize(0x200, pmt2, cc2));
        for (int i = 0; i < 3; ++i) {
            addES(kVideo);
            addES(0x201);
            addES(0x120);
            addES(0x202);
        }
    }
    writeInput();
    ASSERT_EQ(TS_ProgramSplitFile(input().c_str()), 0);
    for (const std::string name : {"in_1_0_0", "in_2_0_0"}) {
        std::string program = path(name + ".ts");
        Bytes split = tsb::readFile(program);
        ASSERT_GT(split.size(), 376u);
        TS_PMTSplitData table;
        ASSERT_EQ(TS_CheckPMTSplit(&table, program.c_str()), 0);
        ASSERT_EQ(table.u16Count, 1) << name;
        ASSERT_EQ(TS_PMTSplitFile(program.c_str(), 1, 0, nullptr), 0);
        std::string segmentFile = path(name + "_" + hex8(table.ltEntry[0].u32PMTCRC) + ".ts");
        EXPECT_EQ(tsb::readFile(segmentFile), split) << name;
        EXPECT_EQ(table.ltEntry[0].u64Size, split.size()) << name;
    }
}

TEST_F(PMTSplitTest, TableFullStopsTheCall) {
    // 257 distinct PMTs: the survey keeps 256 runs, the writer 256 files.
    std::vector<Bytes> pmts;
    for (uint16_t i = 0; i < 257; ++i) {
        pmts.push_back(tsb::pmtSection(1, kVideo, tsb::descriptor(0x05, {'R', 'V', uint8_t(i >> 8), uint8_t(i)}),
                                       {{0x1B, kVideo, {}}}));
        addPAT();
        addPMT(pmts.back());
    }
    TS_PMTSplitData table;
    int32_t status = 0;
    std::string err = tsb::captureStderr([&] { status = survey(table); });
    EXPECT_EQ(status, TS_ERR_TABLE_FULL);
    EXPECT_EQ(err, "Error: More than 256 PMT runs.\n");
    ASSERT_EQ(table.u16Count, 256);
    expectEntry(table, 255, crcOf(pmts[255]), 0, 376);
    err = tsb::captureStderr([&] { status = TS_PMTSplitFile(input().c_str(), 1, 0, nullptr); });
    EXPECT_EQ(status, TS_ERR_TABLE_FULL);
    EXPECT_EQ(err, "Error: More than 256 distinct PMTs.\n");
    EXPECT_EQ(outputs().size(), 256u);
    EXPECT_EQ(tsb::readFile(segment(crcOf(pmts[255]))), packets({510, 511}));
    EXPECT_FALSE(tsb::fileExists(segment(crcOf(pmts[256]))));
}

TEST_F(PMTSplitTest, TooManyRunsOfTwoPMTsFillOnlyTheSurvey) {
    for (int i = 0; i < 257; ++i) {
        addPAT();
        addPMT(i % 2 ? kPMTB : kPMTA);
    }
    TS_PMTSplitData table;
    int32_t status = 0;
    tsb::captureStderr([&] { status = survey(table); });
    EXPECT_EQ(status, TS_ERR_TABLE_FULL);
    ASSERT_EQ(table.u16Count, 256);
    expectEntry(table, 255, crcOf(kPMTB), 127, 376);
    EXPECT_EQ(TS_PMTSplitFile(input().c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(tsb::readFile(segment(crcOf(kPMTA))).size(), 129u * 376);
}

TEST_F(PMTSplitTest, RefusesNullArgumentsAndMissingInput) {
    TS_PMTSplitData table;
    EXPECT_EQ(TS_CheckPMTSplit(nullptr, input().c_str()), -1);
    EXPECT_EQ(TS_CheckPMTSplit(&table, nullptr), -1);
    EXPECT_EQ(TS_PMTSplitFile(nullptr, 1, 0, nullptr), -1);
    int32_t status = 0;
    std::string err = tsb::captureStderr([&] { status = TS_CheckPMTSplit(&table, input().c_str()); });
    EXPECT_EQ(status, -2);
    EXPECT_EQ(err, "Error: Failed open " + input() + ".\n");
    err = tsb::captureStderr([&] { status = TS_PMTSplitFile(input().c_str(), 1, 0, nullptr); });
    EXPECT_EQ(status, -2);
    EXPECT_EQ(err, "Error: Failed open " + input() + ".\n");
}
