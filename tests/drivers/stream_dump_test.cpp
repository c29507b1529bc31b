// TS_Print: which printer runs for which packet, the separator line in front
// of everything one packet prints, and the PID list at the end. Expected text
// is written out from the dump formats; only CRC values are taken from the
// bytes the builder made.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rivulet/ts.h"
#include "tests/support/capture.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

const std::string kSep = "========================================\n";

constexpr uint16_t kPMTPID = 0x0100;
constexpr uint16_t kVideoPID = 0x0101;  // also the PCR PID
constexpr uint16_t kAudioPID = 0x0102;
constexpr uint16_t kEMMPID = 0x0200;
constexpr uint16_t kECMPID = 0x0300;

constexpr uint32_t kEveryFlag = TS_PRINT_PACKET | TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_PRIVATE |
                                TS_PRINT_EMM | TS_PRINT_ES | TS_PRINT_PIDLIST | TS_PRINT_PCR;

std::string crcLine(const Bytes& section) {
    char line[32];
    size_t n = section.size();
    std::snprintf(line, sizeof line, "  CRC32:0x%02X%02X%02X%02X\n", section[n - 4], section[n - 3], section[n - 2],
                  section[n - 1]);
    return line;
}

// "0x%02X, " per byte, sixteen to a line, lines indented by two blanks.
std::string byteList(const Bytes& bytes) {
    std::string out;
    char item[8];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(item, sizeof item, "0x%02X, ", bytes[i]);
        out += item;
        if (i % 16 == 15) out += "\n  ";
    }
    return out + "\n";
}

// The tables of the streams below.
Bytes patOfProgram1() { return tsb::patSection(1, 0, {{0, 0x0010}, {1, kPMTPID}}); }
std::string patText(const Bytes& section) {
    return "[PAT] TI:0x00(PAT) SSI:1 R1:3 SL:17 TSI:1 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
           "  Program:2\n"
           "  PN:0 R3:7 NETPID:0x0010\n"
           "  PN:1 R3:7 PMTPID:0x0100\n" +
           crcLine(section);
}

Bytes pmtOfProgram1(const Bytes& programDescriptors = {}) {
    return tsb::pmtSection(1, kVideoPID, programDescriptors, {{0x02, kVideoPID, {}}, {0x04, kAudioPID, {}}});
}
std::string pmtText(const Bytes& section) {
    return "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:23 TSI:1 R2:3 VER:0 CNI:1 SN:0 LSN:0 PCRPID:0x0101 PIL:0\n"
           "  DSC:0\n"
           "  ST:0x02(ISO/IEC 13818-2 Video) EPID:0x0101 ESIL:0 DSC:0\n"
           "  DSC:0\n"
           "  ST:0x04(ISO/IEC 13818-3 Audio) EPID:0x0102 ESIL:0 DSC:0\n"
           "  DSC:0\n" +
           crcLine(section);
}

Bytes catWithEMMPID() { return tsb::catSection(tsb::caDescriptor(0x0B00, kEMMPID)); }
std::string catText(const Bytes& section) {
    return "[CAT] TI:0x01(CAT) SSI:1 R1:3 SL:15 TSI:65535 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
           "  DSC:1\n"
           "[D Conditional access] L:4 CASID:B00 R:7 CAPID:0x0200\n"
           "  \n"
           "\n" +
           crcLine(section);
}

// An EMM whose card ID is 0x1234, with two bytes behind it.
Bytes emmSection() { return tsb::section(0x84, 0x0001, 0, {0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0xAA, 0xBB}); }
std::string emmText(const Bytes& section) {
    return "[EMM] TI:0x84(EMM EMM-S) SSI:1 PI:0 R1:3 PSL:17 TE:1 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
           "  CardID:4660(0x1234)\n"
           "  0xAA, 0xBB, \n" +
           crcLine(section);
}

std::string headerLine(const char* label, uint16_t pid, int pusi, int afc, int cc) {
    const char* name = pid == 0x0000   ? "Program Association Table"
                       : pid == 0x0001 ? "Conditional Access Table"
                       : pid == 0x1FFF ? "Null packet"
                                       : "<assigned>";
    char line[128];
    std::snprintf(line, sizeof line, "[%s] TEI:0 PUSI:%d TP:0 PID:0x%04X(%s) TSC:0 AFC:%d CN:%d\n", label, pusi,
                  unsigned(pid), name, afc, cc);
    return line;
}
std::string sectionHeader(uint16_t pid, int pusi, int cc) { return headerLine("TS Packet Header", pid, pusi, 1, cc); }
std::string packetLine(uint16_t pid, int pusi, int cc, int afc = 1) { return headerLine("TS Packet", pid, pusi, afc, cc); }

Bytes pcrPacket(uint16_t pid, uint64_t base, uint8_t cc) {
    return tsb::packet({.pid = pid, .cc = cc, .hasAdaptation = true, .hasPayload = false,
                        .adaptation = tsb::pcrAdaptation(base, 0, 176)});
}

// Runs the dump with standard output sent to /dev/null.
class DiscardStdout {
public:
    DiscardStdout() {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    ~DiscardStdout() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    DiscardStdout(const DiscardStdout&) = delete;
    DiscardStdout& operator=(const DiscardStdout&) = delete;

private:
    int saved_;
};

class StreamDumpTest : public ::testing::Test {
protected:
    StreamDumpTest() : dir_(tsb::makeTempDir("dump")) {}
    ~StreamDumpTest() override { tsb::removeTree(dir_); }

    void addSection(uint16_t pid, const Bytes& section, uint8_t& cc) { stream_.add(tsb::packetize(pid, section, cc)); }
    void addPAT(const Bytes& section) { addSection(TS_PID_PAT, section, patCC_); }
    void addPMT(const Bytes& section) { addSection(kPMTPID, section, pmtCC_); }
    void addES(uint16_t pid) { stream_.add(tsb::esPacket(pid, esCC_)); }

    // The dump of the stream built so far; its status in status_.
    std::string dump(uint32_t flags) {
        tsb::writeFile(input(), stream_.bytes);
        return tsb::captureStdout([&] { status_ = TS_Print(input().c_str(), flags); });
    }
    std::string input() const { return dir_ + "/in.ts"; }

    std::string dir_;
    tsb::Stream188 stream_;
    uint8_t patCC_ = 0, pmtCC_ = 0, catCC_ = 0, esCC_ = 0;
    int32_t status_ = 99;
};

}  // namespace

// --- Arguments and files -------------------------------------------------------

TEST_F(StreamDumpTest, NullPathReturnsMinusOneAndPrintsNothing) {
    std::string err;
    std::string out = tsb::captureStdout([&] { err = tsb::captureStderr([&] { status_ = TS_Print(nullptr, kEveryFlag); }); });
    EXPECT_EQ(status_, -1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
}

TEST_F(StreamDumpTest, MissingFileReportsOnStandardError) {
    std::string missing = dir_ + "/absent.ts";
    std::string err;
    std::string out = tsb::captureStdout([&] { err = tsb::captureStderr([&] { status_ = TS_Print(missing.c_str(), kEveryFlag); }); });
    EXPECT_EQ(status_, TS_ERR_OPEN_INPUT);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "Error: Failed open " + missing + ".\n");
}

TEST_F(StreamDumpTest, FolderAsInputReportsTheReadAndStillListsPIDs) {
    std::string folder = dir_ + "/folder.ts";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    std::string err;
    std::string out = tsb::captureStdout([&] { err = tsb::captureStderr([&] { status_ = TS_Print(folder.c_str(), TS_PRINT_PIDLIST); }); });
    EXPECT_EQ(status_, TS_ERR_READ);
    EXPECT_EQ(out, kSep + "PID List:\n");
    EXPECT_EQ(err, "Error: Failed read " + folder + ".\n");
}

TEST_F(StreamDumpTest, FlagsZeroPrintsNothingButParsesTheTables) {
    addPAT(patOfProgram1());
    addPMT(pmtOfProgram1());
    addES(kVideoPID);
    EXPECT_EQ(dump(0), "");
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(g_tData.tPAT.valid, 1);
    EXPECT_EQ(g_tData.tPAT.program_count, 2);
    EXPECT_EQ(g_tData.ltPMT[1].valid, 1);
    EXPECT_EQ(g_tData.ltPMT[1].PCR_PID, kVideoPID);
}

// --- Packets and separators ----------------------------------------------------

TEST_F(StreamDumpTest, EveryPacketStandsBehindItsOwnSeparator) {
    addPAT(patOfProgram1());
    addES(kVideoPID);
    stream_.add(tsb::packet({.pid = TS_PID_NULL, .cc = 5}));
    EXPECT_EQ(dump(TS_PRINT_PACKET), kSep + packetLine(0x0000, 1, 0) + kSep + packetLine(0x0101, 0, 0) + kSep +
                                         packetLine(0x1FFF, 0, 5));
    EXPECT_EQ(status_, 0);
}

TEST_F(StreamDumpTest, PacketAndPATOfOnePacketShareOneSeparator) {
    Bytes pat = patOfProgram1();
    addPAT(pat);
    EXPECT_EQ(dump(TS_PRINT_PACKET | TS_PRINT_PAT), kSep + packetLine(0x0000, 1, 0) + sectionHeader(0x0000, 1, 0) + patText(pat));
}

TEST_F(StreamDumpTest, PacketThatPrintsNothingHasNoSeparator) {
    Bytes pat = patOfProgram1();
    addES(kVideoPID);
    addPAT(pat);
    addES(kVideoPID);
    addES(0x0777);
    EXPECT_EQ(dump(TS_PRINT_PAT), kSep + sectionHeader(0x0000, 1, 0) + patText(pat));
}

TEST_F(StreamDumpTest, PacketAndESPrintAStreamPacketTwiceBehindOneSeparator) {
    addPAT(patOfProgram1());
    addPMT(pmtOfProgram1());
    addES(kAudioPID);
    EXPECT_EQ(dump(TS_PRINT_PACKET | TS_PRINT_ES), kSep + packetLine(0x0000, 1, 0) + kSep + packetLine(0x0100, 1, 0) +
                                                       kSep + packetLine(0x0102, 0, 0) + packetLine(0x0102, 0, 0));
}

TEST_F(StreamDumpTest, ESPacketsOnlyOfListedStreamsAfterTheirPMT) {
    addES(kVideoPID);
    addPAT(patOfProgram1());
    addES(kVideoPID);
    addPMT(pmtOfProgram1());
    addES(kVideoPID);
    addES(0x0103);
    addES(kAudioPID);
    EXPECT_EQ(dump(TS_PRINT_ES), kSep + packetLine(0x0101, 0, 2) + kSep + packetLine(0x0102, 0, 4));
}

// --- Tables ----------------------------------------------------------------------

TEST_F(StreamDumpTest, PMTsAreParsedOnlyAfterAPAT) {
    Bytes pmt = pmtOfProgram1();
    addPMT(pmt);
    addPAT(patOfProgram1());
    addPMT(pmt);
    EXPECT_EQ(dump(TS_PRINT_PMT), kSep + sectionHeader(kPMTPID, 1, 1) + pmtText(pmt));
}

TEST_F(StreamDumpTest, CATIsPrintedEvenBeforeAPAT) {
    Bytes cat = catWithEMMPID();
    addSection(TS_PID_CAT, cat, catCC_);
    EXPECT_EQ(dump(TS_PRINT_CAT), kSep + sectionHeader(0x0001, 1, 0) + catText(cat));
}

TEST_F(StreamDumpTest, DamagedPATIsStillPrintedAndFollowed) {
    Bytes pat = patOfProgram1();
    pat.back() ^= 0xFF;
    Bytes pmt = pmtOfProgram1();
    addPAT(pat);
    addPMT(pmt);
    EXPECT_EQ(dump(TS_PRINT_PAT | TS_PRINT_PMT),
              kSep + sectionHeader(0x0000, 1, 0) + patText(pat) + kSep + sectionHeader(kPMTPID, 1, 0) + pmtText(pmt));
}

TEST_F(StreamDumpTest, TwoSectionsCompletedByOnePacketAreBothPrinted) {
    Bytes first = tsb::patSection(1, 0, {{0, 0x0010}, {1, kPMTPID}});
    Bytes second = tsb::patSection(1, 1, {{0, 0x0010}, {1, kPMTPID}});
    stream_.add(tsb::packet({.pid = TS_PID_PAT, .pusi = true, .payload = tsb::concat({{0x00}, first, second})}));
    std::string secondText = patText(second);
    secondText.replace(secondText.find("VN:0"), 4, "VN:1");
    EXPECT_EQ(dump(TS_PRINT_PAT), kSep + sectionHeader(0x0000, 1, 0) + patText(first) + sectionHeader(0x0000, 1, 0) + secondText);
    EXPECT_EQ(g_tData.tPAT.version_number, 1);
}

TEST_F(StreamDumpTest, PMTGoesToTheFirstPATEntryOfItsPID) {
    // Programs 1 and 2 share PMT PID 0x0100; the network entry's PID carries
    // a PMT-like section that must be ignored.
    addPAT(tsb::patSection(1, 0, {{0, 0x0010}, {1, kPMTPID}, {2, kPMTPID}}));
    uint8_t networkCC = 0;
    addSection(0x0010, pmtOfProgram1(), networkCC);
    Bytes pmt2 = tsb::pmtSection(2, 0x0201, {}, {});
    addPMT(pmt2);
    std::string expected = kSep + sectionHeader(kPMTPID, 1, 0) +
                           "[PMT] TI:0x02(maybe PMT) SSI:1 R1:3 SLEN:13 TSI:2 R2:3 VER:0 CNI:1 SN:0 LSN:0 PCRPID:0x0201 PIL:0\n"
                           "  DSC:0\n" +
                           crcLine(pmt2);
    EXPECT_EQ(dump(TS_PRINT_PMT), expected);
    EXPECT_EQ(g_tData.ltPMT[0].valid, 0);
    EXPECT_EQ(g_tData.ltPMT[1].valid, 1);
    EXPECT_EQ(g_tData.ltPMT[1].program_number, 2);
    EXPECT_EQ(g_tData.ltPMT[2].valid, 0);
}

// --- Conditional access ----------------------------------------------------------

TEST_F(StreamDumpTest, EMMsOnlyOnceACATWithCADescriptorAndAPATAreKnown) {
    Bytes emm = emmSection();
    uint8_t emmCC = 0;
    addSection(kEMMPID, emm, emmCC);                  // no CAT yet
    addSection(TS_PID_CAT, catWithEMMPID(), catCC_);
    addSection(kEMMPID, emm, emmCC);                  // no PAT yet
    addPAT(patOfProgram1());
    addSection(kEMMPID, emm, emmCC);
    EXPECT_EQ(dump(TS_PRINT_EMM), kSep + sectionHeader(kEMMPID, 1, 2) + emmText(emm));
}

TEST_F(StreamDumpTest, NoEMMsWhenTheCATNamesNoCAPID) {
    uint8_t emmCC = 0;
    addSection(TS_PID_CAT, tsb::catSection({}), catCC_);
    addPAT(patOfProgram1());
    addSection(kEMMPID, emmSection(), emmCC);
    EXPECT_EQ(dump(TS_PRINT_EMM), "");
}

TEST_F(StreamDumpTest, SectionsOnAPMTNamedCAPIDArePrintedAsPrivate) {
    Bytes ecm = tsb::section(0x82, 0x0002, 0, {0x01, 0x02, 0x03, 0x04});
    uint8_t ecmCC = 0;
    addPAT(patOfProgram1());
    addSection(kECMPID, ecm, ecmCC);  // no PMT yet
    addPMT(pmtOfProgram1(tsb::caDescriptor(0x0B00, kECMPID)));
    addSection(kECMPID, ecm, ecmCC);
    EXPECT_EQ(dump(TS_PRINT_PRIVATE), kSep + sectionHeader(kECMPID, 1, 1) +
                                          "[Private] TI:0x82(ECM ECM-S) SSI:1 PI:0 R1:3 PSL:13 TE:2 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
                                          "  0x01, 0x02, 0x03, 0x04, \n" +
                                          crcLine(ecm));
}

TEST_F(StreamDumpTest, ECMOverTwoPacketsOnACAPIDOfTwoProgramsIsGatheredOnce) {
    addPAT(tsb::patSection(1, 0, {{1, kPMTPID}, {2, 0x0110}}));
    Bytes ca = tsb::caDescriptor(0x0B00, kECMPID);
    addPMT(tsb::pmtSection(1, kVideoPID, ca, {}));
    uint8_t otherCC = 0;
    addSection(0x0110, tsb::pmtSection(2, 0x0111, ca, {}), otherCC);
    Bytes data(200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    Bytes ecm = tsb::section(0x82, 0x0002, 0, data);
    uint8_t ecmCC = 0;
    addSection(kECMPID, ecm, ecmCC);
    ASSERT_EQ(ecmCC, 2);  // the section spans two packets
    EXPECT_EQ(dump(TS_PRINT_PRIVATE), kSep + sectionHeader(kECMPID, 0, 1) +
                                          "[Private] TI:0x82(ECM ECM-S) SSI:1 PI:0 R1:3 PSL:209 TE:2 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
                                          "  " + byteList(data) + crcLine(ecm));
}

// --- PCR -----------------------------------------------------------------------------

TEST_F(StreamDumpTest, PCRLinesOnlyForPacketsCarryingAPCR) {
    stream_.add(pcrPacket(kVideoPID, 1, 0));  // before the PAT and the PMT
    addPAT(patOfProgram1());
    addPMT(pmtOfProgram1());
    addES(kVideoPID);
    stream_.add(tsb::packet({.pid = kVideoPID, .cc = 1, .hasAdaptation = true, .adaptation = {0x40}}));
    stream_.add(pcrPacket(kVideoPID, 8589934591ull, 2));
    stream_.add(pcrPacket(kVideoPID, 7ull * 324000000 + 90, 3));
    stream_.add(pcrPacket(kAudioPID, 324000000, 0));  // not a PCR PID
    EXPECT_EQ(dump(TS_PRINT_PCR), kSep + headerLine("TS Packet Header", kVideoPID, 0, 2, 2) +
                                      "[PCR] TI:0x10(?) PB:8589934591(26:30:43.717) R:63 PE:0\n" + kSep +
                                      headerLine("TS Packet Header", kVideoPID, 0, 2, 3) +
                                      "[PCR] TI:0x10(?) PB:2268000090(07:00:00.001) R:63 PE:0\n");
}

// --- PID list ------------------------------------------------------------------------

TEST_F(StreamDumpTest, PIDListInOrderOfFirstAppearance) {
    addES(0x0100);
    addPAT(patOfProgram1());
    addES(0x0100);
    stream_.add(tsb::packet({.pid = TS_PID_NULL}));
    addES(0x0100);
    EXPECT_EQ(dump(TS_PRINT_PIDLIST), kSep + "PID List:\n  0x0100,\n  0x0000,\n  0x1FFF,\n");
}

TEST_F(StreamDumpTest, EmptyFileListsNoPID) {
    EXPECT_EQ(dump(TS_PRINT_PIDLIST), kSep + "PID List:\n");
    EXPECT_EQ(status_, 0);
}

TEST_F(StreamDumpTest, PIDListHoldsMoreThan256PIDs) {
    std::string expected = kSep + "PID List:\n";
    char line[16];
    for (uint16_t k = 0; k < 300; ++k) {
        uint16_t pid = uint16_t(0x1800 - 7 * k);  // descending: not the sorted order
        stream_.add(tsb::packet({.pid = pid}));
        stream_.add(tsb::packet({.pid = 0x1800}));
        std::snprintf(line, sizeof line, "  0x%04X,\n", unsigned(pid));
        expected += line;
    }
    EXPECT_EQ(dump(TS_PRINT_PIDLIST), expected);
    EXPECT_EQ(g_tData.u16PIDCount, 300);
}

TEST_F(StreamDumpTest, PIDListFollowsTheOtherOutput) {
    Bytes pat = patOfProgram1();
    addPAT(pat);
    addES(0x0055);
    EXPECT_EQ(dump(TS_PRINT_PAT | TS_PRINT_PIDLIST),
              kSep + sectionHeader(0x0000, 1, 0) + patText(pat) + kSep + "PID List:\n  0x0000,\n  0x0055,\n");
}

// --- Real captures -------------------------------------------------------------------

TEST(StreamDumpSamples, EveryCaptureDumpsToItsEnd) {
    std::string dir = tsb::samplesDir();
    if (dir.empty()) GTEST_SKIP() << "no sample captures";
    int dumped = 0;
    for (const std::string& name : tsb::listDir(dir)) {
        if (name.size() < 3 || name.compare(name.size() - 3, 3, ".ts") != 0) continue;
        std::string path = dir + "/" + name;
        int32_t status;
        {
            DiscardStdout quiet;
            status = TS_Print(path.c_str(), kEveryFlag);
        }
        EXPECT_EQ(status, 0) << name;
        ++dumped;
    }
    EXPECT_GT(dumped, 0);
}
