// TS_Print: which printer runs for which packet, the separator in front of
// everything one packet prints, and the PID list at the end. Expected text
// is written out from the dump formats; CRC values come from the builder.

#include "tests/support/test.h"

namespace {

constexpr uint16_t kPMT = 0x100;
constexpr uint16_t kVideo = 0x101;
constexpr uint16_t kAudio = 0x102;
constexpr uint16_t kEMM = 0x200;
constexpr uint16_t kECM = 0x300;
const std::string kSep = "========================================\n";

std::string crcLine(const Bytes& s) { return "  CRC32:0x" + crcHex(s) + "\n"; }

std::string header(uint16_t pid, int pusi, int cc, int afc = 1, const char* label = "TS Packet Header") {
    const char* name = pid == 0 ? "Program Association Table" : pid == 1 ? "Conditional Access Table"
                       : pid == 0x1FFF ? "Null packet" : "<assigned>";
    char line[128];
    std::snprintf(line, sizeof line, "[%s] TEI:0 PUSI:%d TP:0 PID:0x%04X(%s) TSC:0 AFC:%d CN:%d\n", label, pusi, pid, name,
                  afc, cc);
    return line;
}
std::string packetLine(uint16_t pid, int pusi, int cc) { return header(pid, pusi, cc, 1, "TS Packet"); }

const Bytes kPAT = tsb::patSection(1, 0, {{0, 0x10}, {1, kPMT}});
const Bytes kPMTSection = tsb::pmtSection(1, kVideo, {}, {{0x02, kVideo, {}}, {0x04, kAudio, {}}});
const Bytes kCAT = tsb::catSection(tsb::caDescriptor(0x0B00, kEMM));
const Bytes kEMMSection = tsb::section(0x84, 1, 0, {0, 0, 0, 0, 0x12, 0x34, 0xAA, 0xBB});
const std::string kPATText = "[PAT] TI:0x00(PAT) SSI:1 R1:3 SL:17 TSI:1 R2:3 VN:0 CNI:1 SN:0 LSN:0\n  Program:2\n"
                             "  PN:0 R3:7 NETPID:0x0010\n  PN:1 R3:7 PMTPID:0x0100\n" + crcLine(kPAT);
const std::string kPMTText =
    "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:23 TSI:1 R2:3 VER:0 CNI:1 SN:0 LSN:0 PCRPID:0x0101 PIL:0\n  DSC:0\n"
    "  ST:0x02(ISO/IEC 13818-2 Video) EPID:0x0101 ESIL:0 DSC:0\n  DSC:0\n"
    "  ST:0x04(ISO/IEC 13818-3 Audio) EPID:0x0102 ESIL:0 DSC:0\n  DSC:0\n" + crcLine(kPMTSection);

struct Case {
    const char* name;
    uint32_t flags;
    std::vector<Piece> input;
    std::string text;
    std::string err = "";
};

}  // namespace

// A program in the PAT's first entry counts as much as one behind the network entry.
TEST(StreamDump, PrintsWhatEachFlagSelects) {
    const Bytes ecm = tsb::section(0x82, 2, 0, {1, 2, 3, 4});
    const Bytes pat1 = tsb::patSection(1, 0, {{1, kPMT}});
    const Bytes pmt2 = tsb::pmtSection(2, 0x201, {}, {});
    const Bytes null = tsb::packet({.pid = 0x1FFF});
    const std::vector<tsb::Stream> streams(TS_PMT_MAX_STREAMS + 1, {0x02, kVideo, {}});
    const Bytes manyStreams = tsb::pmtSection(1, kVideo, {}, streams);
    Bytes damaged = kPAT;
    damaged.back() ^= 0xFF;
    Bytes discontinuity = pcrPacket(kVideo, 8589934591ull, 0, 2);
    discontinuity[5] |= 0x80;
    Bytes secondPAT = tsb::patSection(1, 1, {{0, 0x10}, {1, kPMT}});
    std::string secondText = kPATText.substr(0, kPATText.size() - crcLine(kPAT).size()) + crcLine(secondPAT);
    secondText.replace(secondText.find("VN:0"), 4, "VN:1");
    const Case cases[] = {
        {"a separator per packet", TS_PRINT_PACKET, {{0, kPAT}, {kVideo}, {kWhole, tsb::packet({.pid = 0x1FFF, .cc = 5})}},
         kSep + packetLine(0, 1, 0) + kSep + packetLine(kVideo, 0, 0) + kSep + packetLine(0x1FFF, 0, 5)},
        {"packet and PAT share one", TS_PRINT_PACKET | TS_PRINT_PAT, {{0, kPAT}}, kSep + packetLine(0, 1, 0) + header(0, 1, 0) + kPATText},
        {"silent packets have none", TS_PRINT_PAT, {{kVideo}, {0, kPAT}, {kVideo}, {0x777}}, kSep + header(0, 1, 0) + kPATText},
        {"packet and ES print a stream packet twice", TS_PRINT_PACKET | TS_PRINT_ES, {{0, kPAT}, {kPMT, kPMTSection}, {kAudio}},
         kSep + packetLine(0, 1, 0) + kSep + packetLine(kPMT, 1, 0) + kSep + packetLine(kAudio, 0, 0) +
             packetLine(kAudio, 0, 0)},
        {"ES of listed streams after their PMT", TS_PRINT_ES,
         {{kVideo}, {0, pat1}, {kVideo}, {kPMT, kPMTSection}, {kVideo}, {0x103}, {kAudio}},
         kSep + packetLine(kVideo, 0, 2) + kSep + packetLine(kAudio, 0, 0)},
        {"PMTs only after a PAT", TS_PRINT_PMT, {{kPMT, kPMTSection}, {0, kPAT}, {kPMT, kPMTSection}},
         kSep + header(kPMT, 1, 1) + kPMTText},
        {"CAT before any PAT", TS_PRINT_CAT, {{1, kCAT}},
         kSep + header(1, 1, 0) +
             "[CAT] TI:0x01(CAT) SSI:1 R1:3 SL:15 TSI:65535 R2:3 VN:0 CNI:1 SN:0 LSN:0\n  DSC:1\n"
             "[D Conditional access] L:4 CASID:B00 R:7 CAPID:0x0200\n  \n\n" +
             crcLine(kCAT)},
        {"a damaged PAT is printed and followed", TS_PRINT_PAT | TS_PRINT_PMT, {{0, damaged}, {kPMT, kPMTSection}},
         kSep + header(0, 1, 0) + kPATText.substr(0, kPATText.size() - crcLine(kPAT).size()) + crcLine(damaged) + kSep +
             header(kPMT, 1, 0) + kPMTText},
        {"two sections completed by one packet", TS_PRINT_PAT,
         {{kWhole, tsb::packet({.pid = 0, .pusi = true, .payload = tsb::concat({{0x00}, kPAT, secondPAT})})}},
         kSep + header(0, 1, 0) + kPATText + header(0, 1, 0) + secondText},
        {"a PMT goes to the first entry of its PID", TS_PRINT_PMT,
         {{0, tsb::patSection(1, 0, {{0, 0x10}, {1, kPMT}, {2, kPMT}})}, {0x10, kPMTSection}, {kPMT, pmt2}},
         kSep + header(kPMT, 1, 0) +
             "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:13 TSI:2 R2:3 VER:0 CNI:1 SN:0 LSN:0 PCRPID:0x0201 PIL:0\n  "
             "DSC:0\n" +
             crcLine(pmt2)},
        {"no PMT of a program the PAT no longer lists", TS_PRINT_PMT,
         {{0, tsb::patSection(1, 0, {{1, kPMT}, {2, 0x200}})}, {0, tsb::patSection(1, 1, {{1, kPMT}})}, {0x200, pmt2}}, ""},
        {"EMMs once a CAT names their PID and a PAT is known", TS_PRINT_EMM,
         {{kEMM, kEMMSection}, {1, kCAT}, {kEMM, kEMMSection}, {0, kPAT}, {kEMM, kEMMSection}},
         kSep + header(kEMM, 1, 2) +
             "[EMM] TI:0x84(EMM EMM-S) SSI:1 PI:0 R1:3 PSL:17 TE:1 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
             "  CardID:4660(0x1234)\n  0xAA, 0xBB, \n" +
             crcLine(kEMMSection)},
        {"ECMs on a CA PID of a PMT", TS_PRINT_PRIVATE,
         {{0, pat1}, {kECM, ecm}, {kPMT, tsb::pmtSection(1, kVideo, tsb::caDescriptor(0x0B00, kECM), {})}, {kECM, ecm}},
         kSep + header(kECM, 1, 1) +
             "[Private] TI:0x82(ECM ECM-S) SSI:1 PI:0 R1:3 PSL:13 TE:2 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
             "  0x01, 0x02, 0x03, 0x04, \n" +
             crcLine(ecm)},
        {"PCRs of the PCR PID only", TS_PRINT_PCR,
         {{kWhole, pcrPacket(kVideo, 1)}, {0, pat1}, {kPMT, kPMTSection}, {kVideo},
          {kWhole, tsb::packet({.pid = kVideo, .cc = 1, .hasAdaptation = true, .adaptation = {0x40}})}, {kWhole, discontinuity},
          {kWhole, pcrPacket(kVideo, 7ull * 324000000 + 90, 0, 3)}, {kWhole, pcrPacket(kAudio, 324000000)}},
         kSep + header(kVideo, 0, 2, 2) + "[PCR] TI:0x90(<Carrier Definition>) PB:8589934591(26:30:43.717) R:63 PE:0\n" + kSep +
             header(kVideo, 0, 3, 2) + "[PCR] TI:0x10(?) PB:2268000090(07:00:00.001) R:63 PE:0\n"},
        {"PIDs by first appearance, behind the rest", TS_PRINT_PAT | TS_PRINT_PIDLIST,
         {{0x100}, {0, kPAT}, {0x100}, {kWhole, null}, {kWhole, null}},
         kSep + header(0, 1, 0) + kPATText + kSep + "PID List:\n  0x0100,\n  0x0000,\n  0x1FFF,\n"},
        {"an empty stream has an empty list", TS_PRINT_PIDLIST, {}, kSep + "PID List:\n",
         "Warning: no transport stream packets in {in}.\n"},
        {"PMTs of more streams than a record holds: warned once", TS_PRINT_PIDLIST,
         {{0, pat1}, {kPMT, manyStreams}, {kPMT, manyStreams}}, kSep + "PID List:\n  0x0000,\n  0x0100,\n",
         "Warning: a PMT lists more streams or descriptors than a record holds; the dump leaves the rest out.\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::string in = dir.write("in.ts", streamOf(c.input).bytes);
        Outcome o = captured([&] { return TS_Print(in.c_str(), c.flags); });
        EXPECT_EQ(o.status, 0) << c.name;
        EXPECT_EQ(o.out, c.text) << c.name;
        EXPECT_EQ(o.err, withInput(c.err, in)) << c.name;
    }
}
