// TS_ProgramSplitStream: one program, named by its PMT PID, copied out of a
// stream; the destination compared with the input packets that belong there.

#include <optional>

#include "tests/support/test.h"

namespace {

constexpr uint16_t kPMT = 0x100;
constexpr uint16_t kVideo = 0x101;
constexpr uint16_t kAudio = 0x102;
constexpr uint16_t kECM = 0x120;
constexpr uint16_t kAudioECM = 0x121;

Bytes programPMT(uint8_t version = 0, size_t padding = 0) {
    Bytes program = tsb::caDescriptor(0x0B00, kECM);
    for (size_t i = 0; i < padding; ++i) tsb::append(program, tsb::descriptor(0x05, {'T', 'E', 'S', uint8_t(i)}));
    return tsb::pmtSection(1, kVideo, program, {{0x1B, kVideo, {}}, {0x0F, kAudio, tsb::caDescriptor(0x0B00, kAudioECM)}},
                           version);
}

Bytes streamPMT(std::vector<tsb::Stream> streams, uint16_t pcr = kVideo, uint8_t version = 0) {
    return tsb::pmtSection(1, pcr, {}, streams, version);
}

Bytes pat(const std::vector<tsb::Program>& programs, uint8_t version = 0) { return tsb::patSection(1, version, programs); }

}  // namespace

TEST(Extraction, CopiesTheProgramsPackets) {
    const Bytes all = pat({{0, 0x10}, {1, kPMT}, {2, 0x200}});
    // A damaged PAT would end the pass; a damaged PMT is copied, never parsed.
    Bytes badPAT = pat({{2, 0x200}}, 1);
    Bytes badPMT = streamPMT({{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}, kVideo, 1);
    badPAT.back() ^= 0x80;
    badPMT.back() ^= 0x01;
    const struct {
        const char* name;
        std::vector<Piece> input;
        std::optional<std::vector<size_t>> out;  // the input packets copied out; none: no destination made
    } cases[] = {
        // The PMT in two packets (3, 4); a TDT (10): service information, which only --si carries.
        {"copies once, stops when the PAT drops the program",
         {{kVideo}, {0, all}, {kVideo}, {kPMT, programPMT(0, 30)}, {kVideo}, {kAudio}, {kECM}, {kAudioECM}, {0x300}, {0x14}, {0, all},
          {kVideo}, {0, pat({{0, 0x10}, {2, 0x200}}, 1)}, {kVideo}, {kPMT, programPMT()}},
         std::vector<size_t>{3, 4, 5, 6, 7, 8, 12}},
        {"judges by the PMT last parsed",
         {{0, pat({{1, kPMT}})}, {kPMT, streamPMT({{0x1B, kVideo, {}}, {0x0F, kAudio, {}}})}, {kAudio},
          {kPMT, streamPMT({{0x1B, kVideo, {}}, {0x0F, 0x103, {}}}, kVideo, 1)}, {kAudio}, {0x103}},
         std::vector<size_t>{1, 2, 3, 5}},
        {"null PCR PID routes nothing",
         {{0, pat({{1, kPMT}})}, {kPMT, streamPMT({{0x0F, kAudio, {}}}, TS_PID_NULL)}, {TS_PID_NULL}, {kAudio}},
         std::vector<size_t>{1, 3}},
        {"ignores sections whose CRC fails",
         {{0, pat({{1, kPMT}})}, {0, badPAT}, {kPMT, streamPMT({{0x1B, kVideo, {}}})}, {kPMT, badPMT}, {kAudio}, {kVideo}},
         std::vector<size_t>{2, 3, 5}},
        // Under program_number 0 the PID is the network PID: the first PAT announces no PMT.
        {"the network PID is no PMT",
         {{0, pat({{0, kPMT}, {2, 0x200}})}, {0, pat({{1, kPMT}})}, {kPMT, programPMT()}, {kVideo}}, std::nullopt},
        // Program 2's PMT on the same PID sets nothing, and its packets are not copied.
        {"another program's PMT on the PID",
         {{0, pat({{1, kPMT}, {2, kPMT}})}, {kPMT, streamPMT({{0x1B, kVideo, {}}})},
          {kPMT, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}})}, {kVideo}, {0x201}},
         std::vector<size_t>{1, 3}},
    };
    for (const auto& c : cases) {
        const tsb::Stream188 s = streamOf(c.input);
        TempDir dir;
        if (c.out) dir.write("out.ts", Bytes(5 * 188, 0x11));  // an existing destination is truncated
        ASSERT_EQ(TS_ProgramSplitStream(dir.file("out.ts").c_str(), dir.write("in.ts", s.bytes).c_str(), kPMT), 0) << c.name;
        std::map<std::string, Bytes> files;
        if (c.out) files["out.ts"] = s.packets(*c.out);
        expectFiles(dir, files);
    }
}

// Audio left out: the PMT rebuilt without it, its packets and its ECM gone;
// the program's ECM stays. Service information carried, none of it before
// the file begins (a TDT), all of it after (the TDT again, a NIT).
TEST(Extraction, LeavesComponentsOut) {
    const Bytes tdt = {0x70, 0x70, 0x05, 0xEA, 0x1C, 0x12, 0x00, 0x00};
    const Bytes nit = tsb::section(0x40, 0x20FA, 0, {0xF0, 0x00, 0xF0, 0x00});
    const tsb::Stream188 s = streamOf({{0x14, tdt}, {0, pat({{0, 0x10}, {1, kPMT}})}, {kPMT, programPMT()}, {kVideo}, {kAudio}, {kECM},
                                       {kAudioECM}, {0x14, tdt}, {0x10, nit}});
    TempDir dir;
    TS_ExtractOptions options{0, 0, kPMT, 1};
    options.u32DropComponents = 1u << TS_COMPONENT_AUDIO;
    ASSERT_EQ(TS_ExtractProgram(dir.file("out.ts").c_str(), dir.write("in.ts", s.bytes).c_str(), &options), 0);
    // By number through the older call: every stream, no service information.
    ASSERT_EQ(TS_ProgramSplitStreamByNumber(dir.file("all.ts").c_str(), dir.file("in.ts").c_str(), 1), 0);
    const Bytes pmt = tsb::psiPacket(kPMT, 0, tsb::pmtSection(1, kVideo, tsb::caDescriptor(0x0B00, kECM), {{0x1B, kVideo, {}}}));
    expectFiles(dir, {{"out.ts", tsb::concat({pmt, s.packets({3, 5, 7, 8})})}, {"all.ts", s.packets({2, 3, 4, 5, 6})}});
    // By number, its PMT moved to another PID by a later PAT: the file goes on there.
    const tsb::Stream188 moved = streamOf({{0, pat({{1, kPMT}})}, {kPMT, programPMT()}, {kVideo}, {0, pat({{1, 0x200}}, 1)},
                                           {0x200, programPMT()}, {kVideo}});
    TS_ExtractOptions byNumber{1, 1, 0, 0};
    byNumber.u32DropComponents = 1u << TS_COMPONENT_AUDIO;
    ASSERT_EQ(TS_ExtractProgram(dir.file("moved.ts").c_str(), dir.write("moved_in.ts", moved.bytes).c_str(), &byNumber), 0);
    const Bytes movedPMT = tsb::psiPacket(0x200, 0, tsb::pmtSection(1, kVideo, tsb::caDescriptor(0x0B00, kECM), {{0x1B, kVideo, {}}}));
    EXPECT_EQ(tsb::hex(tsb::readFile(dir.file("moved.ts"))), tsb::hex(tsb::concat({pmt, moved.packets({2}), movedPMT, moved.packets({5})})));
}

TEST(Extraction, FindsPacketsBehindGarbageAndAcrossReadBlocks) {
    // 32 MiB are 178481 packets and 4 bytes: packet 178481 straddles two reads.
    tsb::Stream188 s;
    s.pat({{1, kPMT}});
    std::vector<size_t> want = {s.section(kPMT, streamPMT({{0x1B, kVideo, {}}}))};
    while (s.bytes.size() < 178484u * 188) {
        s.es(0x200);
        want.push_back(s.es(kVideo));
    }
    Bytes tail = tsb::esPacket(kVideo, s.cc[kVideo]);
    Bytes input = tsb::concat({{0x00, 0x12, 0x34}, Bytes(s.bytes.begin(), s.bytes.begin() + 376), {0x11, 0x22},
                               Bytes(s.bytes.begin() + 376, s.bytes.end()), Bytes(tail.begin(), tail.begin() + 100)});
    TempDir dir;
    ASSERT_EQ(TS_ProgramSplitStream(dir.file("out.ts").c_str(), dir.write("in.ts", input).c_str(), kPMT), 0);
    expectFiles(dir, {{"out.ts", s.packets(want)}});
}
