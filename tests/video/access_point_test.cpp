// The random access point detector, fed PES packets whose bytes are laid out
// by hand: start codes, NAL headers and SEI messages as the codecs define
// them, cut across packet boundaries where a cut is hardest.

#include "tests/support/test.h"

namespace {

constexpr uint8_t kRandomAccess = 1;
constexpr uint8_t kScrambled = 2;
constexpr uint8_t kError = 4;
constexpr uint8_t kOtherFlags = 8;  // every adaptation flag but random_access_indicator
constexpr uint16_t kPID = 0x100;

Bytes pes(const Bytes& stream, uint8_t flags = 0x80) {
    // stream_id 0xE0, PES_packet_length 0, flags, a 5-byte PTS behind PES_header_data_length.
    return tsb::concat({{0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, flags, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01},
                        stream});
}

Bytes packetWith(const Bytes& payload, bool start, uint8_t flags) {
    tsb::Packet p{.pid = kPID, .pusi = start, .tei = (flags & kError) != 0, .payload = payload};
    p.scrambling = (flags & kScrambled) ? 2 : 0;
    const uint8_t others = (flags & kOtherFlags) ? 0xBF : 0x00;
    return tsb::packetEndingWith(p, uint8_t(((flags & kRandomAccess) ? 0x40 : 0x00) | others));
}

struct Case {
    const char* what;
    uint8_t streamType;
    Bytes pes;
    std::vector<size_t> cuts;  // payload bytes of every packet but the last, which takes the rest
    const char* verdicts;      // per packet: '.' none, 'p' pending, 'X' a random access point
    uint8_t firstFlags = 0;    // of the packet that begins the PES
    uint8_t laterFlags = 0;    // of the packets after it
};

const Bytes kAUD = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0};
const Bytes kSPS = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E};
const Bytes kPPS = {0x00, 0x00, 0x01, 0x68, 0xCE, 0x3C, 0x80};
const Bytes kIDR = {0x00, 0x00, 0x01, 0x65, 0x88, 0x84};
const Bytes kSlice = {0x00, 0x00, 0x01, 0x41, 0x9A, 0x02};
// SEI messages: payloadType, payloadSize, payload. A recovery point's first
// bit is recovery_frame_cnt as ue(v): 1 is 0, 010 is 1.
const Bytes kSEI = {0x00, 0x00, 0x01, 0x06};
const Bytes kRecovery0 = {0x06, 0x01, 0x80};
const Bytes kRecovery1 = {0x06, 0x01, 0x40};
// user_data_unregistered of 4 bytes 00 00 01 02, sent with an
// emulation_prevention_three_byte: 5 bytes on the wire.
const Bytes kUserData = {0x05, 0x04, 0x00, 0x00, 0x03, 0x01, 0x02};
// Of 5 bytes 00 00 00 03 01: the 03 behind the escape and one zero is data.
const Bytes kUserDataEscapedThenThree = {0x05, 0x05, 0x00, 0x00, 0x03, 0x00, 0x03, 0x01};
const Bytes kTrailing = {0x80};

const Bytes kVPS = {0x00, 0x00, 0x00, 0x01, 0x40, 0x01, 0x0C};
const Bytes kHEVCSPS = {0x00, 0x00, 0x01, 0x42, 0x01, 0x01};
const Bytes kHEVCPPS = {0x00, 0x00, 0x01, 0x44, 0x01, 0xC1};
Bytes hevcPicture(uint8_t type) { return {0x00, 0x00, 0x01, uint8_t(type << 1), 0x01, 0xAF}; }

const Bytes kSequenceHeader = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40};
const Bytes kGOP = {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08};
const Bytes kPicture = {0x00, 0x00, 0x01, 0x00, 0x00, 0x0F};

using tsb::concat;

const std::vector<Case> kCases = [] {
    std::vector<Case> cases = {
        {"mpeg2 sequence header", 0x02, pes(concat({kSequenceHeader, kGOP, kPicture})), {}, "X"},
        {"mpeg2 picture without sequence header", 0x02, pes(concat({kGOP, kPicture})), {}, "."},
        {"mpeg2 the last slice start code", 0x02, pes(concat({{0x00, 0x00, 0x01, 0xAF, 0x01}, kSequenceHeader})), {}, "."},
        {"mpeg2 a reserved start code after the slices is passed over", 0x02, pes(concat({{0x00, 0x00, 0x01, 0xB0, 0x01}, kSequenceHeader})), {}, "X"},
        {"mpeg2 start code cut after 00 00", 0x02, pes(concat({kGOP, kSequenceHeader})), {14 + 6 + 2}, "pX"},
        {"mpeg2 start code cut after 00", 0x01, pes(concat({kGOP, kSequenceHeader})), {14 + 6 + 1}, "pX"},
        {"PES header cut inside its PTS", 0x02, pes(kSequenceHeader), {11}, "pX"},
        {"PES header of no optional fields, stream begins with junk", 0x02,
         concat({{0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00, 0xAB}, kSequenceHeader}), {}, "X"},
        {"a start code's zeros are all in the stream", 0x02, pes({0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40}), {}, "p"},
        {"PES header data is never stream", 0x02,
         concat({{0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x04}, kSequenceHeader}), {}, "p"},
        {"no PES start code", 0x02, concat({{0x00, 0x05, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00}, kSequenceHeader}), {}, "."},
        {"PES header cut before its flags", 0x02, pes(kPicture), {5}, "p."},
        {"h264 IDR", 0x1B, pes(concat({kAUD, kSPS, kPPS, kIDR})), {}, "X"},
        {"h264 IDR NAL header in the next packet", 0x1B, pes(concat({kAUD, kSPS, kPPS, kIDR})), {14 + 6 + 8 + 7 + 3},
         "pX"},
        {"h264 slice", 0x1B, pes(concat({kAUD, kSlice})), {}, "."},
        {"h264 a start code's zeros are its own", 0x1B, pes({0x00, 0x00, 0x01, 0x00, 0x01, 0x65, 0x88}), {}, "p"},
        {"h264 recovery point 0", 0x1B, pes(concat({kAUD, kSPS, kPPS, kSEI, kRecovery0, kTrailing, kSlice})), {}, "X"},
        {"h264 recovery point 1", 0x1B, pes(concat({kAUD, kSPS, kPPS, kSEI, kRecovery1, kTrailing, kSlice})), {}, "."},
        {"h264 recovery point without PPS", 0x1B, pes(concat({kSPS, kSEI, kRecovery0, kTrailing, kSlice})), {}, "."},
        {"h264 recovery point without SPS", 0x1B, pes(concat({kPPS, kSEI, kRecovery0, kTrailing, kSlice})), {}, "."},
        {"h264 recovery point behind escaped user data, cut in the escape", 0x1B,
         pes(concat({kSPS, kPPS, kSEI, kUserData, kRecovery0, kTrailing, kSlice})), {14 + 8 + 7 + 4 + 4}, "pX"},
        {"h264 recovery point behind user data whose escape is followed by 00 03", 0x1B,
         pes(concat({kSPS, kPPS, kSEI, kUserDataEscapedThenThree, kRecovery0, kTrailing, kSlice})), {}, "X"},
        {"h264 SEI of type 0xFF + 6, no recovery point", 0x1B,
         pes(concat({kSPS, kPPS, kSEI, {0xFF, 0x06, 0x01, 0x80}, kTrailing, kSlice})), {}, "."},
        {"hevc IDR with VPS, SPS, PPS", 0x24, pes(concat({kVPS, kHEVCSPS, kHEVCPPS, hevcPicture(19)})), {}, "X"},
        {"hevc CRA, parameter sets across packets", 0x24, pes(concat({kVPS, kHEVCSPS, kHEVCPPS, hevcPicture(21)})),
         {14 + 7, 6}, "ppX"},
        {"hevc IDR without VPS", 0x24, pes(concat({kHEVCSPS, kHEVCPPS, hevcPicture(20)})), {}, "."},
        {"hevc trailing picture", 0x24, pes(concat({kVPS, kHEVCSPS, kHEVCPPS, hevcPicture(1)})), {}, "."},
        {"hevc BLA, the first IRAP type", 0x24, pes(concat({kVPS, kHEVCSPS, kHEVCPPS, hevcPicture(16)})), {}, "X"},
        {"hevc reserved IRAP type 22", 0x24, pes(concat({kVPS, kHEVCSPS, kHEVCPPS, hevcPicture(22)})), {}, "."},
        {"random_access_indicator on another stream type", 0x06, pes({0x12}), {}, "X", kRandomAccess},
        {"another stream type without it", 0x06, pes(kSequenceHeader), {}, "."},
        {"every adaptation flag but random_access_indicator", 0x06, pes({0x12}), {}, ".", kOtherFlags},
        {"an adaptation field of length 0 has no flags", 0x06, Bytes(183, 0x40), {}, "."},
        {"random_access_indicator in an adaptation field of one byte", 0x06, pes(Bytes(168, 0x12)), {}, "X", kRandomAccess},
        {"scrambled packet with random_access_indicator", 0x02, pes({0x55}), {}, "X", kRandomAccess | kScrambled},
        {"scrambled packet", 0x02, pes(kSequenceHeader), {}, ".", kScrambled},
        {"scrambled continuation", 0x02, pes(concat({kGOP, kSequenceHeader})), {14 + 3}, "p.", 0, kScrambled},
        {"scrambled PES", 0x02, pes(kSequenceHeader, 0xA0), {}, "."},
        {"transport error in a continuation", 0x1B, pes(concat({kSPS, kIDR})), {14 + 4}, "p.", 0, kError},
    };
    // Stream ids whose PES header ends at PES_packet_length.
    for (uint8_t id : {0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF}) {
        cases.push_back({"stream id without optional fields", 0x02, concat({{0x00, 0x00, 0x01, id, 0x00, 0x00}, kSequenceHeader}), {}, "X"});
    }
    return cases;
}();

TEST(AccessPoint, JudgesEachPESFromItsBytes) {
    for (const Case& c : kCases) {
        TS_AccessPointDetector detector;
        ASSERT_EQ(TS_AccessPoint_Initialise(&detector, c.streamType), 0);
        std::string verdicts;
        size_t at = 0;
        for (size_t i = 0; i <= c.cuts.size(); ++i) {
            size_t size = i < c.cuts.size() ? c.cuts[i] : c.pes.size() - at;
            Bytes payload(c.pes.begin() + long(at), c.pes.begin() + long(at + size));
            Bytes packet = packetWith(payload, i == 0, i == 0 ? c.firstFlags : c.laterFlags);
            verdicts += ".pX"[TS_AccessPoint_Feed(&detector, packet.data())];
            at += size;
        }
        EXPECT_EQ(verdicts, c.verdicts) << c.what;
    }
}

// A verdict holds for the rest of its PES and the next PES is judged afresh.
TEST(AccessPoint, EachPESIsJudgedAfresh) {
    TS_AccessPointDetector detector;
    TS_AccessPoint_Initialise(&detector, 0x1B);
    std::string verdicts;
    for (const Bytes& packet : {packetWith(pes(kSlice), true, 0), packetWith(kIDR, false, 0),
                                packetWith(pes(kIDR), true, 0), packetWith(kSlice, false, 0),
                                packetWith(pes(kSlice), true, 0)}) {
        verdicts += ".pX"[TS_AccessPoint_Feed(&detector, packet.data())];
    }
    EXPECT_EQ(verdicts, "..XX.");
    Bytes junk(188, 0x00);
    EXPECT_EQ(TS_AccessPoint_Feed(&detector, junk.data()), TS_ERR_NO_SYNC);
}

}  // namespace
