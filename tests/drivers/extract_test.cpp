// TS_ProgramSplitStream: one program, named by its PMT PID, copied out of a
// stream; the destination compared with the input packets that belong there.

#include <functional>
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

// Fills the stream and returns the indices of the packets expected out, or
// nothing when no destination may be created.
using Expected = std::optional<std::vector<size_t>>;
using Case = std::function<Expected(tsb::Stream188&)>;

Expected copiesOnceAndStopsWhenThePATDropsTheProgram(tsb::Stream188& s) {
    s.es(kVideo);
    s.pat({{0, 0x10}, {1, kPMT}, {2, 0x200}});
    s.es(kVideo);
    size_t pmt = s.section(kPMT, programPMT(0, 30));  // two packets
    std::vector<size_t> out = {pmt, pmt + 1, s.es(kVideo), s.es(kAudio), s.es(kECM), s.es(kAudioECM)};
    s.es(0x300);
    s.es(0x14);  // a TDT: service information, which only --si carries
    s.pat({{0, 0x10}, {1, kPMT}, {2, 0x200}});
    out.push_back(s.es(kVideo));
    s.pat({{0, 0x10}, {2, 0x200}}, 1);
    s.es(kVideo);
    s.section(kPMT, programPMT());
    return out;
}

Expected judgesByThePMTLastParsed(tsb::Stream188& s) {
    s.pat({{1, kPMT}});
    size_t first = s.section(kPMT, streamPMT({{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}));
    size_t audio = s.es(kAudio);
    size_t second = s.section(kPMT, streamPMT({{0x1B, kVideo, {}}, {0x0F, 0x103, {}}}, kVideo, 1));
    s.es(kAudio);
    return std::vector<size_t>{first, audio, second, s.es(0x103)};
}

// A damaged PAT would end the pass; a damaged PMT is copied, never parsed.
Expected ignoresSectionsWhoseCRCFails(tsb::Stream188& s) {
    Bytes pat = tsb::patSection(1, 1, {{2, 0x200}});
    Bytes pmt = streamPMT({{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}, kVideo, 1);
    pat.back() ^= 0x80;
    pmt.back() ^= 0x01;
    s.pat({{1, kPMT}});
    s.section(0, pat);
    size_t good = s.section(kPMT, streamPMT({{0x1B, kVideo, {}}}));
    size_t bad = s.section(kPMT, pmt);
    s.es(kAudio);
    return std::vector<size_t>{good, bad, s.es(kVideo)};
}

// Under program_number 0 the PID is the network PID: the first PAT announces no PMT.
Expected networkPIDIsNoPMT(tsb::Stream188& s) {
    s.pat({{0, kPMT}, {2, 0x200}});
    s.pat({{1, kPMT}});
    s.section(kPMT, programPMT());
    s.es(kVideo);
    return std::nullopt;
}

// Program 2's PMT on the same PID sets nothing, and its packets are not copied.
Expected anotherProgramsPMTOnThePID(tsb::Stream188& s) {
    s.pat({{1, kPMT}, {2, kPMT}});
    std::vector<size_t> out = {s.section(kPMT, streamPMT({{0x1B, kVideo, {}}}))};
    s.section(kPMT, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}));
    out.push_back(s.es(kVideo));
    s.es(0x201);
    return out;
}

Expected nullPCRPIDRoutesNothing(tsb::Stream188& s) {
    s.pat({{1, kPMT}});
    size_t pmt = s.section(kPMT, streamPMT({{0x0F, kAudio, {}}}, TS_PID_NULL));
    s.es(TS_PID_NULL);
    return std::vector<size_t>{pmt, s.es(kAudio)};
}

}  // namespace

TEST(Extraction, CopiesTheProgramsPackets) {
    const std::pair<const char*, Case> cases[] = {
        {"copies once, stops when the PAT drops the program", copiesOnceAndStopsWhenThePATDropsTheProgram},
        {"judges by the PMT last parsed", judgesByThePMTLastParsed},
        {"null PCR PID routes nothing", nullPCRPIDRoutesNothing},
        {"ignores sections whose CRC fails", ignoresSectionsWhoseCRCFails},
        {"the network PID is no PMT", networkPIDIsNoPMT},
        {"another program's PMT on the PID", anotherProgramsPMTOnThePID},
    };
    for (const auto& [name, build] : cases) {
        tsb::Stream188 s;
        Expected expected = build(s);
        TempDir dir;
        if (expected) dir.write("out.ts", Bytes(5 * 188, 0x11));  // an existing destination is truncated
        ASSERT_EQ(TS_ProgramSplitStream(dir.file("out.ts").c_str(), dir.write("in.ts", s.bytes).c_str(), kPMT), 0) << name;
        std::map<std::string, Bytes> files;
        if (expected) files["out.ts"] = s.packets(*expected);
        expectFiles(dir, files);
    }
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
