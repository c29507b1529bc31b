// Damaged and malformed streams through every driver: the splitter through
// the tool, the others through their functions. Each case ends with the
// documented status and message, and outputs that hold exactly what the
// intact parts of the stream put there.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "rivulet/ts.h"
#include "tests/hostile/hostile_support.h"
#include "tests/hostile/sample_streams.h"
#include "tests/support/stream_builder.h"

using hostile::Bytes;
using hostile::TempDir;

namespace {

constexpr uint16_t kPMT = 0x0100;
constexpr uint16_t kVideo = 0x0101;  // carries the PCR
constexpr uint16_t kAudio = 0x0102;
constexpr uint16_t kTSID = 1;

Bytes patPacket(const Bytes& section, uint8_t cc) {
    return tsb::packet({.pid = 0, .pusi = true, .cc = cc, .payload = tsb::concat({{0x00}, section})});
}

// Network entry and program 1: exactly what the splitter rebuilds for
// program 1, so that this packet is also the one expected in its file.
Bytes singlePAT() { return tsb::patSection(kTSID, 0, {{0, hostile::kNetworkPID}, {1, kPMT}}); }
Bytes singlePMT() { return tsb::pmtSection(1, kVideo, {}, {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}); }
Bytes pmtPacket(const Bytes& section, uint8_t cc) {
    return tsb::packet({.pid = kPMT, .pusi = true, .cc = cc, .payload = tsb::concat({{0x00}, section})});
}

// A packet of raw bytes behind a header (no padding rules applied).
Bytes rawPacket(uint16_t pid, bool pusi, uint8_t afc, uint8_t cc, const Bytes& rest) {
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = uint8_t((pusi ? 0x40 : 0) | (pid >> 8));
    p[2] = uint8_t(pid & 0xFF);
    p[3] = uint8_t(afc << 4 | (cc & 0x0F));
    std::copy(rest.begin(), rest.begin() + long(std::min<size_t>(rest.size(), 184)), p.begin() + 4);
    return p;
}

// Every file a run left in the folder, by name, with its bytes.
using Files = std::map<std::string, Bytes>;

Files filesIn(const TempDir& dir) {
    Files files;
    for (const std::string& name : dir.outputs()) files[name] = tsb::readFile(dir.file(name));
    return files;
}

// What the splitter and every driver make of one input.
struct Snapshot {
    tsb::ToolResult tool;
    std::map<std::string, hostile::Outcome> drivers;
    Files files;
};

Snapshot runEverything(const TempDir& dir, const Bytes& input) {
    Snapshot s;
    std::string in = dir.write("in.ts", input);
    s.tool = hostile::runRivulet(in);
    for (const hostile::Driver& d : hostile::everyDriver()) {
        s.drivers[d.name] = hostile::captured([&] { return d.run(in, dir.path()); });
    }
    s.files = filesIn(dir);
    return s;
}

void expectSameResults(const Snapshot& got, const Snapshot& want) {
    EXPECT_EQ(got.tool.status, want.tool.status);
    EXPECT_EQ(got.tool.err, want.tool.err);
    for (const auto& [name, outcome] : want.drivers) {
        EXPECT_EQ(got.drivers.at(name).status, outcome.status) << name;
        EXPECT_EQ(got.drivers.at(name).err, outcome.err) << name;
        EXPECT_EQ(got.drivers.at(name).out, outcome.out) << name;
    }
    ASSERT_EQ(got.files.size(), want.files.size());
    for (const auto& [name, bytes] : want.files) {
        ASSERT_TRUE(got.files.count(name)) << name;
        EXPECT_TRUE(got.files.at(name) == bytes) << name << " differs";
    }
}

// Every driver quiet and successful, and nothing written.
void expectNothingMade(const Snapshot& s) {
    EXPECT_EQ(s.tool.status, 0);
    EXPECT_EQ(s.tool.err, "");
    for (const auto& [name, outcome] : s.drivers) {
        EXPECT_EQ(outcome.status, 0) << name;
        EXPECT_EQ(outcome.err, "") << name;
    }
    EXPECT_TRUE(s.files.empty());
}

}  // namespace

// --- Files without a usable stream ----------------------------------------------

TEST(DegenerateFiles, EmptyFile) {
    TempDir dir;
    Snapshot s = runEverything(dir, {});
    expectNothingMade(s);
}

TEST(DegenerateFiles, FewerThanOnePacket) {
    TempDir dir;
    Bytes pat = patPacket(singlePAT(), 0);
    Snapshot s = runEverything(dir, Bytes(pat.begin(), pat.begin() + 187));
    expectNothingMade(s);
}

TEST(DegenerateFiles, OnlySyncBytes) {
    TempDir dir;
    Snapshot s = runEverything(dir, Bytes(188 * 20 + 5, 0x47));
    expectNothingMade(s);
}

TEST(DegenerateFiles, RandomBytes) {
    std::mt19937 random(20240607);
    Bytes noise(256 * 1024);
    for (uint8_t& b : noise) b = uint8_t(random());
    TempDir dir;
    Snapshot s = runEverything(dir, noise);
    expectNothingMade(s);
}

TEST(DegenerateFiles, RandomBytesBehindAValidStart) {
    std::mt19937 random(7);
    Bytes stream = hostile::multiProgramStream(1);
    Bytes noisy = stream;
    for (int i = 0; i < 64 * 1024; ++i) noisy.push_back(uint8_t(random()));
    TempDir clean, dirty;
    Snapshot want = runEverything(clean, stream);
    Snapshot got = runEverything(dirty, noisy);
    ASSERT_FALSE(want.files.empty());
    // Noise adds packets of unknown PIDs at most: every file begins with what
    // the clean stream gave it.
    EXPECT_EQ(got.tool.status, 0);
    for (const auto& [name, bytes] : want.files) {
        ASSERT_TRUE(got.files.count(name)) << name;
        EXPECT_TRUE(hostile::isPrefix(bytes, got.files.at(name))) << name;
    }
}

// --- Cut captures ------------------------------------------------------------------

TEST(CutCaptures, MidPacketGivesWhatTheWholePacketsGive) {
    Bytes whole = hostile::multiProgramStream(2);
    Bytes cut = whole;
    uint8_t cc = 3;
    Bytes extra = tsb::esPacket(0x0101, cc);
    cut.insert(cut.end(), extra.begin(), extra.begin() + 100);
    TempDir a, b;
    Snapshot want = runEverything(a, whole);
    ASSERT_EQ(want.tool.status, 0);
    ASSERT_EQ(want.files.count("in_1_0_0.ts"), 1u);
    expectSameResults(runEverything(b, cut), want);
}

TEST(CutCaptures, MidMultiPacketPMT) {
    const hostile::SampleProgram program2 = hostile::samplePrograms()[1];
    uint8_t cc = 0;
    std::vector<Bytes> pmt = tsb::packetize(program2.pmtPID, hostile::samplePMT(program2), cc);
    ASSERT_EQ(pmt.size(), 2u);
    Bytes pat = patPacket(hostile::samplePAT(), 4);
    TempDir dir;
    std::string in = dir.write("in.ts", tsb::concat({pat, pmt[0]}));

    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // The PAT of program 2 alone, then the packet of its pending PMT section.
    Bytes rebuilt = patPacket(tsb::patSection(0x0042, 0, {{0, hostile::kNetworkPID}, {2, program2.pmtPID}}), 4);
    EXPECT_TRUE(tsb::readFile(dir.file("in_2_0_0.ts")) == tsb::concat({rebuilt, pmt[0]}));
    EXPECT_EQ(tsb::readFile(dir.file("in_1_0_0.ts")).size(), 188u);

    hostile::Outcome extract = hostile::captured(
        [&] { return TS_ProgramSplitStream(dir.file("extract.ts").c_str(), in.c_str(), program2.pmtPID); });
    EXPECT_EQ(extract.status, 0);
    EXPECT_TRUE(tsb::readFile(dir.file("extract.ts")) == pmt[0]);
}

TEST(CutCaptures, MidMultiPacketPATLeavesTheProgramListUntouched) {
    std::vector<tsb::Program> many;
    for (uint16_t i = 1; i <= 50; ++i) many.push_back({i, uint16_t(0x0100 + i)});
    uint8_t cc = 0;
    std::vector<Bytes> pat = tsb::packetize(0, tsb::patSection(kTSID, 0, many), cc);
    ASSERT_EQ(pat.size(), 2u);
    TempDir dir;
    std::string in = dir.write("in.ts", pat[0]);
    TS_ProgramList list{};
    list.u16Count = 7;
    EXPECT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
    EXPECT_EQ(list.u16Count, 7);
    EXPECT_EQ(hostile::runRivulet(in).status, 0);
    EXPECT_TRUE(dir.outputs().empty());
}

// --- Adaptation fields of every length ------------------------------------------

// adaptation_field_length 0 to 255 on PAT packets (a flags byte of 0, then
// stuffing, then the pointer_field and the PAT where room is left) and on
// video packets whose adaptation bytes are noise.
class EveryAdaptationLength : public ::testing::Test {
protected:
    // A PAT section of 20 bytes behind a pointer_field fits while
    // 4 + 1 + length + 1 + 20 <= 188.
    static constexpr int kLongestLengthForThePAT = 162;

    void SetUp() override {
        std::mt19937 random(99);
        stream_ = tsb::concat({patPacket(singlePAT(), 0), pmtPacket(singlePMT(), 0)});
        expectedSplit_ = stream_;
        expectedExtract_ = pmtPacket(singlePMT(), 0);
        for (int length = 0; length <= 255; ++length) {
            uint8_t cc = uint8_t((length + 1) & 0x0F);
            Bytes pat = rawPacket(0, true, 3, cc, patBehindAdaptation(length));
            Bytes video(184);
            video[0] = uint8_t(length);
            for (size_t i = 1; i < video.size(); ++i) video[i] = uint8_t(random());
            Bytes es = rawPacket(kVideo, false, 3, uint8_t(length), video);
            tsb::append(stream_, pat);
            tsb::append(stream_, es);
            if (length <= kLongestLengthForThePAT) tsb::append(expectedSplit_, patPacket(singlePAT(), cc));
            tsb::append(expectedSplit_, es);
            tsb::append(expectedExtract_, es);
        }
    }

    static Bytes patBehindAdaptation(int length) {
        Bytes rest = {uint8_t(length)};
        if (length > 0) rest.push_back(0x00);
        while (rest.size() < size_t(1 + length) && rest.size() < 184) rest.push_back(0xFF);
        rest.push_back(0x00);
        tsb::append(rest, singlePAT());
        return rest;
    }

    TempDir dir_;
    Bytes stream_, expectedSplit_, expectedExtract_;
};

TEST_F(EveryAdaptationLength, SplitterCopiesEveryPacketAndRebuildsEveryPATThatFits) {
    std::string in = dir_.write("in.ts", stream_);
    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir_.outputs(), std::vector<std::string>{"in_1_0_0.ts"});
    Bytes got = tsb::readFile(dir_.file("in_1_0_0.ts"));
    EXPECT_EQ(got.size(), expectedSplit_.size());
    EXPECT_TRUE(got == expectedSplit_);
}

TEST_F(EveryAdaptationLength, OtherDriversKeepEveryVideoPacket) {
    std::string in = dir_.write("in.ts", stream_);
    hostile::Outcome extract = hostile::captured(
        [&] { return TS_ProgramSplitStream(dir_.file("extract.ts").c_str(), in.c_str(), kPMT); });
    EXPECT_EQ(extract.status, 0);
    EXPECT_TRUE(tsb::readFile(dir_.file("extract.ts")) == expectedExtract_);

    // One PMT: its file is the PAT read before it, the PMT, and the video.
    TS_PMTSplitData table{};
    EXPECT_EQ(TS_CheckPMTSplit(&table, in.c_str()), 0);
    ASSERT_EQ(table.u16Count, 1);
    EXPECT_EQ(TS_PMTSplitFile(in.c_str(), 1, 0, nullptr), 0);
    char name[32];
    std::snprintf(name, sizeof name, "in_%08X.ts", table.ltEntry[0].u32PMTCRC);
    Bytes segment = tsb::readFile(dir_.file(name));
    EXPECT_TRUE(segment == tsb::concat({patPacket(singlePAT(), 0), expectedExtract_}));
    EXPECT_EQ(table.ltEntry[0].u64Size, segment.size());

    hostile::Outcome dump = hostile::captured([&] { return TS_Print(in.c_str(), hostile::kEveryPrintFlag); });
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.err, "");
}

// pointer_field 0 to 255 on PAT packets: the bytes it skips are 0xFF, the
// section follows where it points. A section of 20 bytes fits behind the
// pointer while 5 + pointer + 20 <= 188; one that starts later is finished
// by the skipped bytes of the next packet and fails its CRC; a pointer past
// the packet leaves nothing.
TEST(PointerFields, EveryValueOnPATPackets) {
    constexpr int kLongestPointerForThePAT = 163;
    uint8_t es = 0;
    Bytes stream, expected;
    for (int pointer = 0; pointer <= 255; ++pointer) {
        uint8_t cc = uint8_t(pointer & 0x0F);
        Bytes rest(1 + size_t(std::min(pointer, 183)), 0xFF);
        rest[0] = uint8_t(pointer);
        tsb::append(rest, singlePAT());
        Bytes pat = rawPacket(0, true, 1, cc, rest);
        Bytes video = tsb::esPacket(kVideo, es, uint8_t(pointer));
        tsb::append(stream, pat);
        if (pointer == 0) tsb::append(stream, pmtPacket(singlePMT(), 0));
        tsb::append(stream, video);
        if (pointer <= kLongestPointerForThePAT) tsb::append(expected, patPacket(singlePAT(), cc));
        if (pointer == 0) tsb::append(expected, pmtPacket(singlePMT(), 0));
        tsb::append(expected, video);
    }
    TempDir dir;
    std::string in = dir.write("in.ts", stream);
    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    Bytes got = tsb::readFile(dir.file("in_1_0_0.ts"));
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    for (const hostile::Driver& d : hostile::everyDriver()) {
        EXPECT_EQ(hostile::captured([&] { return d.run(in, dir.path()); }).status, 0) << d.name;
    }
}

// --- Lengths that point past the packet or the section ---------------------------

TEST(LengthFields, SectionLengthsPastThePacketOrTheSectionAreNotTrusted) {
    Bytes pat = singlePAT();
    // section_length 4095: longer than any slot.
    Bytes huge = pat;
    huge[1] = 0xBF;
    huge[2] = 0xFF;
    // section_length 400: runs past the packet, and the next PAT packet
    // starts a new section instead of continuing it.
    Bytes pastPacket = pat;
    pastPacket[1] = 0xB1;
    pastPacket[2] = 0x90;
    // section_length 17 + 32 for a section of 17: the CRC is read from
    // stuffing and fails.
    Bytes pastSection = tsb::patSection(kTSID, 0, {{9, 0x0900}});
    pastSection[2] = uint8_t(pastSection[2] + 32);
    Bytes good = patPacket(pat, 3);

    uint8_t es = 0;
    Bytes video = tsb::esPacket(kVideo, es, 0x11);
    Bytes stream = tsb::concat({patPacket(huge, 0), patPacket(pastPacket, 1), patPacket(pastSection, 2), video, good,
                                pmtPacket(singlePMT(), 0), video});
    TempDir dir;
    std::string in = dir.write("in.ts", stream);
    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.outputs(), std::vector<std::string>{"in_1_0_0.ts"});
    EXPECT_TRUE(tsb::readFile(dir.file("in_1_0_0.ts")) == tsb::concat({good, pmtPacket(singlePMT(), 0), video}));

    TS_ProgramList list{};
    EXPECT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
    ASSERT_EQ(list.u16Count, 1);
    EXPECT_EQ(list.lu16ProgramNumber[0], 1);
}

// A PMT whose CRC verifies but whose loops lie: a program descriptor that
// claims 16 bytes of a 3-byte loop, and a stream whose ES_info_length (1023)
// and descriptor_length (255) run past the section.
Bytes lyingPMT() {
    return tsb::section(0x02, 1, 0,
                        {0xE1, 0x01,                          // PCR_PID 0x101
                         0xF0, 0x03, 0x05, 0x10, 'A',         // program_info_length 3
                         0x1B, 0xE1, 0x01, 0xF3, 0xFF,        // stream 0x101, ES_info_length 1023
                         0x0A, 0xFF, 'e'});                   // ISO 639 descriptor of "255" bytes
}

TEST(LengthFields, DescriptorLengthsAreCutToTheBytesPresent) {
    TS_PreSection slot;
    TS_PreSection_Initialise(&slot);
    Bytes packet = pmtPacket(lyingPMT(), 0);
    TS_Packet header;
    ASSERT_EQ(TS_Packet_Get(&header, packet.data()), 0);
    TS_Payload payload;
    TS_Payload_Begin(&payload, &header, packet.data());
    ASSERT_EQ(TS_PMT_ImportPreSection(&slot, &payload), TS_SECTION_COMPLETE);
    ASSERT_EQ(TS_PreSection_Verify(&slot, 0x02), 0);

    static TS_PMT pmt;
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slot, kPMT), 0);
    ASSERT_EQ(pmt.descriptor_count, 1);
    EXPECT_EQ(pmt.descriptors[0].descriptor_tag, 0x05);
    EXPECT_EQ(pmt.descriptors[0].descriptor_length, 1);  // 'A' alone is in the loop
    ASSERT_EQ(pmt.stream_count, 1);
    EXPECT_EQ(pmt.streams[0].elementary_PID, kVideo);
    ASSERT_EQ(pmt.streams[0].descriptor_count, 1);
    EXPECT_EQ(pmt.streams[0].descriptors[0].descriptor_tag, 0x0A);
    EXPECT_EQ(pmt.streams[0].descriptors[0].descriptor_length, 1);  // 'e' alone precedes the CRC
    std::string text = tsb::captureStdout([&] { EXPECT_EQ(TS_PMT_Print(&pmt), 0); });
    EXPECT_FALSE(text.empty());
}

TEST(LengthFields, PMTWithLyingLoopsStillRoutesItsStream) {
    uint8_t es = 0;
    Bytes video = tsb::esPacket(kVideo, es, 0x22);
    Bytes audio = tsb::esPacket(kAudio, es, 0x33);
    Bytes pat = patPacket(singlePAT(), 0), pmt = pmtPacket(lyingPMT(), 0);
    TempDir dir;
    std::string in = dir.write("in.ts", tsb::concat({pat, pmt, video, audio}));
    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(tsb::readFile(dir.file("in_1_0_0.ts")) == tsb::concat({pat, pmt, video}));
    hostile::Outcome dump = hostile::captured([&] { return TS_Print(in.c_str(), hostile::kEveryPrintFlag); });
    EXPECT_EQ(dump.status, 0);
}

// Every tag with declared lengths 0 to 255 over a buffer that ends at the
// bytes really present (an allocation of exactly that size, so that the
// sanitizer build sees any read beyond).
TEST(LengthFields, EveryDescriptorTagWithEveryLengthOverAnExactBuffer) {
    int mismatches = 0;
    tsb::captureStdout([&] {
        for (int tag = 0; tag <= 255; ++tag) {
            for (int declared = 0; declared <= 255; declared += 17) {
                for (uint32_t present : {0u, 1u, 3u, 6u, 255u}) {
                    uint32_t size = 2 + present;
                    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
                    bytes[0] = uint8_t(tag);
                    bytes[1] = uint8_t(declared);
                    for (uint32_t i = 2; i < size; ++i) bytes[i] = uint8_t(0xA5 ^ i);
                    TS_Descriptor d;
                    bool ok = TS_GetDescriptor(&d, bytes.get(), size) == 0 && d.descriptor_tag == tag &&
                              d.descriptor_length == std::min<uint32_t>(uint32_t(declared), present);
                    if (!ok && ++mismatches <= 5) {
                        ADD_FAILURE() << "tag " << tag << " declared " << declared << " present " << present;
                    }
                    TS_Descriptor_Print(&d);
                }
            }
        }
    });
    EXPECT_EQ(mismatches, 0);
}

// --- Tables larger than their records ------------------------------------------------

std::vector<tsb::Program> seventyPrograms() {
    std::vector<tsb::Program> programs;
    for (uint16_t i = 1; i <= 70; ++i) programs.push_back({i, uint16_t(0x0100 + i)});
    return programs;
}

TEST(OversizedTables, PATOfSeventyPrograms) {
    uint8_t cc = 0;
    std::vector<Bytes> pat = tsb::packetize(0, tsb::patSection(kTSID, 0, seventyPrograms()), cc);
    ASSERT_EQ(pat.size(), 2u);
    TempDir dir;
    std::string in = dir.write("in.ts", tsb::concat({pat[0], pat[1]}));

    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Warning: the PAT lists 6 programs more than the 64 that can be followed; they are skipped.\n");
    std::vector<std::string> files = dir.outputs();
    ASSERT_EQ(files.size(), 64u);
    for (uint16_t i = 1; i <= 64; ++i) {
        Bytes got = tsb::readFile(dir.file("in_" + std::to_string(i) + "_0_0.ts"));
        // Program i alone, no network entry; the completing packet's counter is 1.
        EXPECT_TRUE(got == patPacket(tsb::patSection(kTSID, 0, {{i, uint16_t(0x0100 + i)}}), 1)) << i;
    }

    TS_ProgramList list{};
    EXPECT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
    ASSERT_EQ(list.u16Count, 64);
    EXPECT_EQ(list.lu16ProgramNumber[63], 64);
    EXPECT_EQ(list.lu16PMTPID[63], 0x0140);

    TS_PMTSplitData table;
    EXPECT_EQ(hostile::captured([&] { return TS_CheckPMTSplit(&table, in.c_str()); }).status,
              TS_ERR_NOT_SINGLE_PROGRAM);
    EXPECT_EQ(hostile::captured([&] { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); }).status,
              TS_ERR_NOT_SINGLE_PROGRAM);
    EXPECT_EQ(hostile::captured([&] { return TS_Print(in.c_str(), hostile::kEveryPrintFlag); }).status, 0);
    // Program 70 is beyond what the PAT record holds: never announced.
    EXPECT_EQ(hostile::captured([&] {
                  return TS_ProgramSplitStream(dir.file("extract.ts").c_str(), in.c_str(), 0x0146);
              }).status,
              0);
    EXPECT_FALSE(tsb::fileExists(dir.file("extract.ts")));
}

TEST(OversizedTables, MoreProgramsOverARunThanTheSplitTableHolds) {
    std::vector<tsb::Program> first, second;
    for (uint16_t i = 1; i <= 40; ++i) first.push_back({i, uint16_t(0x0100 + i)});
    for (uint16_t i = 41; i <= 80; ++i) second.push_back({i, uint16_t(0x0100 + i)});
    uint8_t cc = 0;
    tsb::Stream188 s;
    s.add(tsb::packetize(0, tsb::patSection(kTSID, 0, first), cc));
    s.add(tsb::packetize(0, tsb::patSection(kTSID, 1, second), cc));
    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes);
    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    std::string warnings;
    for (int i = 65; i <= 80; ++i) warnings += "Warning: program " + std::to_string(i) + " skipped: more than 64 programs.\n";
    EXPECT_EQ(r.err, warnings);
    EXPECT_EQ(dir.outputs().size(), 64u);
    EXPECT_TRUE(tsb::fileExists(dir.file("in_64_0_0.ts")));
    EXPECT_FALSE(tsb::fileExists(dir.file("in_65_0_0.ts")));
}

// A PMT of 36 streams and 40 program descriptors, the first stream with 40
// descriptors of its own: what lies beyond 32 is dropped, CA descriptors
// included.
class OversizedPMT : public ::testing::Test {
protected:
    static constexpr uint16_t kFirstStream = 0x0201;
    static constexpr uint16_t kKeptECM = 0x0640;
    static constexpr uint16_t kDroppedECM = 0x0650;

    static Bytes section() {
        Bytes program = tsb::caDescriptor(0x0B00, kKeptECM);
        for (int i = 1; i < 32; ++i) tsb::append(program, tsb::descriptor(0x52, {uint8_t(i)}));
        tsb::append(program, tsb::caDescriptor(0x0B00, kDroppedECM));  // the 33rd
        for (int i = 33; i < 40; ++i) tsb::append(program, tsb::descriptor(0x52, {uint8_t(i)}));
        std::vector<tsb::Stream> streams;
        for (uint16_t i = 0; i < 36; ++i) streams.push_back({0x1B, uint16_t(kFirstStream + i), {}});
        for (int i = 0; i < 40; ++i) tsb::append(streams[0].descriptors, tsb::descriptor(0x06, {uint8_t(i)}));
        return tsb::pmtSection(1, kFirstStream, program, streams);
    }
};

TEST_F(OversizedPMT, RecordsHoldTheirCapacityAndNoMore) {
    uint8_t cc = 0;
    std::vector<Bytes> packets = tsb::packetize(kPMT, section(), cc);
    ASSERT_EQ(packets.size(), 3u);
    TS_PreSection slot;
    TS_PreSection_Initialise(&slot);
    int32_t last = 0;
    for (const Bytes& p : packets) {
        TS_Packet header;
        TS_Packet_Get(&header, p.data());
        TS_Payload payload;
        TS_Payload_Begin(&payload, &header, p.data());
        last = TS_PMT_ImportPreSection(&slot, &payload);
    }
    ASSERT_EQ(last, TS_SECTION_COMPLETE);
    static TS_PMT pmt;
    ASSERT_EQ(TS_PMT_FromPreSection(&pmt, &slot, kPMT), 0);
    EXPECT_EQ(pmt.descriptor_count, TS_MAX_DESCRIPTORS);
    EXPECT_EQ(pmt.stream_count, TS_PMT_MAX_STREAMS);
    EXPECT_EQ(pmt.streams[0].descriptor_count, TS_MAX_DESCRIPTORS);
    EXPECT_EQ(pmt.streams[31].elementary_PID, kFirstStream + 31);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(&pmt, kFirstStream + 32), 0);
    tsb::captureStdout([&] { EXPECT_EQ(TS_PMT_Print(&pmt), 0); });
}

TEST_F(OversizedPMT, StreamsBeyondTheCapacityAreNotRouted) {
    uint8_t cc = 0, es = 0;
    Bytes pat = patPacket(singlePAT(), 0);
    tsb::Stream188 s;
    s.add(pat);
    std::vector<Bytes> pmt = tsb::packetize(kPMT, section(), cc);
    s.add(pmt);
    Bytes expected = tsb::concat({pat, pmt[0], pmt[1], pmt[2]});
    for (uint16_t i = 0; i < 36; ++i) {
        Bytes p = tsb::esPacket(uint16_t(kFirstStream + i), es, uint8_t(i));
        s.add(p);
        if (i < 32) tsb::append(expected, p);
    }
    Bytes kept = tsb::esPacket(kKeptECM, es, 0x40), dropped = tsb::esPacket(kDroppedECM, es, 0x50);
    s.add(kept);
    s.add(dropped);
    tsb::append(expected, kept);

    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes);
    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(tsb::readFile(dir.file("in_1_0_0.ts")) == expected);
    EXPECT_EQ(hostile::captured([&] { return TS_Print(in.c_str(), hostile::kEveryPrintFlag); }).status, 0);
    EXPECT_EQ(hostile::captured([&] {
                  return TS_ProgramSplitStream(dir.file("extract.ts").c_str(), in.c_str(), kPMT);
              }).status,
              0);
    EXPECT_TRUE(tsb::readFile(dir.file("extract.ts")) == Bytes(expected.begin() + 188, expected.end()));
}

// --- Continuity errors inside multi-packet sections ----------------------------------

TEST(ContinuityErrors, BrokenMultiPacketPMTsAreDroppedUntilAnIntactOne) {
    const hostile::SampleProgram program2 = hostile::samplePrograms()[1];
    uint8_t cc = 0;
    std::vector<Bytes> pmt = tsb::packetize(program2.pmtPID, hostile::samplePMT(program2), cc);
    ASSERT_EQ(pmt.size(), 2u);
    auto withCounter = [](Bytes p, uint8_t counter) {
        p[3] = uint8_t((p[3] & 0xF0) | counter);
        return p;
    };
    uint8_t es = 0;
    Bytes lostA = tsb::esPacket(program2.videoPID, es, 0xA1);  // after a skipped counter
    Bytes lostB = tsb::esPacket(program2.videoPID, es, 0xB2);  // after a wrap 15 -> 1
    Bytes lostC = tsb::esPacket(program2.videoPID, es, 0xC3);  // after a repeated counter
    Bytes kept = tsb::esPacket(program2.videoPID, es, 0xD4);
    Bytes pat = patPacket(hostile::samplePAT(), 0);
    Bytes stream = tsb::concat({pat,
                                withCounter(pmt[0], 0), withCounter(pmt[1], 2), lostA,
                                withCounter(pmt[0], 15), withCounter(pmt[1], 1), lostB,
                                withCounter(pmt[0], 5), withCounter(pmt[1], 5), lostC,
                                withCounter(pmt[0], 15), withCounter(pmt[1], 0), kept});
    TempDir dir;
    std::string in = dir.write("in.ts", stream);
    tsb::ToolResult r = hostile::runRivulet(in);
    EXPECT_EQ(r.status, 0);
    Bytes out = tsb::readFile(dir.file("in_2_0_0.ts"));
    EXPECT_EQ(hostile::countPacket(out, lostA), 0u);
    EXPECT_EQ(hostile::countPacket(out, lostB), 0u);
    EXPECT_EQ(hostile::countPacket(out, lostC), 0u);
    EXPECT_EQ(hostile::countPacket(out, kept), 1u);
    // The intact PMT reached the file whole, ahead of the packet it routes.
    ASSERT_GE(out.size(), 3 * 188u);
    EXPECT_TRUE(Bytes(out.end() - 3 * 188, out.end()) ==
                tsb::concat({withCounter(pmt[0], 15), withCounter(pmt[1], 0), kept}));

    hostile::Outcome extract = hostile::captured([&] {
        return TS_ProgramSplitStream(dir.file("extract.ts").c_str(), in.c_str(), program2.pmtPID);
    });
    EXPECT_EQ(extract.status, 0);
    Bytes extracted = tsb::readFile(dir.file("extract.ts"));
    EXPECT_EQ(hostile::countPacket(extracted, lostA) + hostile::countPacket(extracted, lostB) +
                  hostile::countPacket(extracted, lostC),
              0u);
    EXPECT_EQ(hostile::countPacket(extracted, kept), 1u);
}

TEST(ContinuityErrors, BrokenMultiPacketPATOpensNothing) {
    uint8_t cc = 0;
    std::vector<Bytes> pat = tsb::packetize(0, tsb::patSection(kTSID, 0, seventyPrograms()), cc);
    Bytes second = pat[1];
    second[3] = uint8_t((second[3] & 0xF0) | 3);  // 0 is followed by 3
    TempDir dir;
    std::string in = dir.write("in.ts", tsb::concat({pat[0], second}));
    EXPECT_EQ(hostile::runRivulet(in).status, 0);
    EXPECT_TRUE(dir.outputs().empty());
    TS_ProgramList list{};
    list.u16Count = 9;
    EXPECT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
    EXPECT_EQ(list.u16Count, 9);
}

// --- 192-byte packets --------------------------------------------------------------------

// Each packet behind a 4-byte prefix (as some recorders store them): the
// walk finds every packet again by its sync byte.
Bytes with192BytePackets(const Bytes& stream, const Bytes& prefix) {
    Bytes out;
    for (size_t at = 0; at < stream.size(); at += 188) {
        tsb::append(out, prefix);
        out.insert(out.end(), stream.begin() + long(at), stream.begin() + long(at + 188));
    }
    return out;
}

TEST(PacketSize192, PrefixWithoutSyncBytesGivesTheSameResults) {
    Bytes stream = hostile::multiProgramStream(2);
    TempDir a, b;
    Snapshot want = runEverything(a, stream);
    ASSERT_EQ(want.files.count("in_3_0_0.ts"), 1u);
    expectSameResults(runEverything(b, with192BytePackets(stream, {0x00, 0x1A, 0x2B, 0x3C})), want);
}

TEST(PacketSize192, PrefixOfSyncBytesMisleadsTheWalkHarmlessly) {
    TempDir dir;
    Snapshot s = runEverything(dir, with192BytePackets(hostile::multiProgramStream(2), {0x47, 0x47, 0x47, 0x47}));
    // Every packet is taken 4 bytes early: PID 0x0747, no PAT ever.
    expectNothingMade(s);
}
