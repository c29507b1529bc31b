// `rivulet IN.ts`: every output file compared byte for byte with the input
// packets of its program and the single-program PAT packets built for it.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/run.h"
#include "tests/support/temp_dir.h"
#include "tools/stream_builder.h"

using tsb::Bytes;

namespace {

const std::string kOne = "in_1_0_0.ts", kTwo = "in_2_0_0.ts";

// An input being built, with the files each of its packets must reach.
struct Scenario {
    void add(const Bytes& packets, const std::vector<std::string>& to = {}) {
        tsb::append(input, packets);
        for (const std::string& f : to) tsb::append(files[f], packets);
    }
    void add(const std::vector<Bytes>& packets, const std::vector<std::string>& to = {}) {
        for (const Bytes& p : packets) add(p, to);
    }
    void section(uint16_t pid, const Bytes& s, const std::vector<std::string>& to = {}) { add(tsb::packetize(pid, s, cc[pid]), to); }
    void es(uint16_t pid, const std::vector<std::string>& to = {}) { add(tsb::esPacket(pid, cc[pid]), to); }
    // A PAT in one packet; each file in `rebuilt` receives its own PAT section
    // in a packet with the input packet's counter.
    void pat(const Bytes& section, const std::map<std::string, Bytes>& rebuilt) {
        add(tsb::psiPacket(0, patCC, section));
        for (const auto& [file, single] : rebuilt) tsb::append(files[file], tsb::psiPacket(0, patCC, single));
        patCC = (patCC + 1) & 15;
    }

    Bytes input;
    std::map<std::string, Bytes> files;
    std::string err;
    uint8_t patCC = 0, cc[8192] = {};
};

Bytes pat(std::vector<tsb::Program> programs, uint8_t version = 0) { return tsb::patSection(1, version, programs); }
Bytes pmt(uint16_t program, uint16_t pid, std::vector<tsb::Stream> more = {}, uint8_t version = 0) {
    more.insert(more.begin(), {0x1B, pid, {}});
    return tsb::pmtSection(program, pid, {}, more, version);
}

// A PMT of two packets (program 1; its bytes are all the test needs).
const Bytes kLongPMT = pmt(1, 0x101, {{0x06, 0x102, tsb::descriptor(0x05, Bytes(200, 0x41))}});

// A packet of raw bytes behind a header, for adaptation field lengths the
// builder refuses.
Bytes rawPacket(uint16_t pid, bool pusi, uint8_t afc, uint8_t cc, const Bytes& rest) {
    Bytes p = {0x47, uint8_t((pusi ? 0x40 : 0) | pid >> 8), uint8_t(pid), uint8_t(afc << 4 | (cc & 15))};
    p.insert(p.end(), rest.begin(), rest.begin() + long(std::min<size_t>(rest.size(), 184)));
    p.resize(188, 0xFF);
    return p;
}

void routesPMTPCRCAAndStreams(Scenario& s) {
    Bytes all = pat({{0, 0x10}, {1, 0x100}, {2, 0x200}});
    std::map<std::string, Bytes> rebuilt = {{kOne, pat({{0, 0x10}, {1, 0x100}})}, {kTwo, pat({{0, 0x10}, {2, 0x200}})}};
    // Program 2: PCR on a PID of its own, two CA systems, an ECM per component.
    Bytes pmt2 = tsb::pmtSection(2, 0x2FF, tsb::concat({tsb::caDescriptor(0x0B00, 0x250), tsb::caDescriptor(0x0500, 0x251)}),
                                 {{0x02, 0x201, tsb::caDescriptor(0x0B00, 0x252)}, {0x03, 0x202, {}}});
    s.es(0x101);  // before any PAT
    s.pat(all, rebuilt);
    s.es(0x101);  // before its PMT
    s.section(0x100, pmt(1, 0x101, {{0x0F, 0x102, {}}}), {kOne});
    s.section(0x200, pmt2, {kTwo});
    for (int i = 0; i < 3; ++i) {
        for (uint16_t pid : {0x101, 0x102}) s.es(pid, {kOne});
        for (uint16_t pid : {0x201, 0x202, 0x2FF, 0x250, 0x251, 0x252}) s.es(pid, {kTwo});
        for (uint16_t pid : {0x1FFF, 0x0001, 0x0010}) s.es(pid);
    }
    s.pat(all, rebuilt);
    s.es(0x102, {kOne});
}

void workedExampleOfTheRebuiltPAT(Scenario& s) {
    s.add(tsb::psiPacket(0, 7, pat({{0, 0x10}, {1, 0x100}, {2, 0x200}})));
    s.files[kTwo] = {0x47, 0x40, 0x00, 0x17, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x01, 0xC1, 0x00, 0x00,
                     0x00, 0x00, 0xE0, 0x10, 0x00, 0x02, 0xE2, 0x00, 0xEE, 0x24, 0xCE, 0xCC};
    s.files[kTwo].resize(188, 0xFF);
    s.files[kOne] = tsb::psiPacket(0, 7, pat({{0, 0x10}, {1, 0x100}}));
}

// TEI, scrambling and adaptation field of the input PAT are not copied; a
// PAT over two packets takes the completing packet's counter.
void rebuiltPATIsAPlainPacket(Scenario& s) {
    s.add(tsb::packet({.pid = 0, .pusi = true, .cc = 9, .tei = true, .priority = true, .scrambling = 2,
                       .hasAdaptation = true, .adaptation = {0x00, 0xFF, 0xFF},
                       .payload = tsb::concat({{0x00}, pat({{0, 0x10}, {1, 0x100}}, 2)})}));
    s.files[kOne] = tsb::packet({.pid = 0, .pusi = true, .cc = 9, .priority = true,
                                 .payload = tsb::concat({{0x00}, pat({{0, 0x10}, {1, 0x100}}, 2)})});
    std::vector<tsb::Program> fifty;
    for (uint16_t i = 1; i <= 50; ++i) fifty.push_back({i, uint16_t(0x100 + i)});
    s.cc[0] = 10;
    s.section(0, pat(fifty, 3));
    for (const tsb::Program& p : fifty) {
        tsb::append(s.files["in_" + std::to_string(p.number) + "_0_0.ts"], tsb::psiPacket(0, 11, pat({p}, 3)));
    }
}

void pmtOfTwoPacketsAndNoNetworkEntry(Scenario& s) {
    s.cc[0x100] = 5;
    s.pat(pat({{1, 0x100}}), {{kOne, pat({{1, 0x100}})}});
    s.section(0x100, kLongPMT, {kOne});
    s.es(0x101, {kOne});
    s.es(0x102, {kOne});
}

// A capture cut short after the first packet of a two-packet PMT.
void pendingPMTPacketIsWritten(Scenario& s) {
    uint8_t cc = 0;
    std::vector<Bytes> packets = tsb::packetize(0x200, pmt(2, 0x201, {{0x06, 0x202, tsb::descriptor(0x05, Bytes(200, 0x41))}}), cc);
    s.pat(pat({{0, 0x10}, {1, 0x100}, {2, 0x200}}), {{kOne, pat({{0, 0x10}, {1, 0x100}})}, {kTwo, pat({{0, 0x10}, {2, 0x200}})}});
    s.add(packets[0], {kTwo});
}

void duplicateProgramNumbers(Scenario& s) {
    s.pat(pat({{0, 0x10}, {5, 0x100}, {5, 0x200}, {6, 0x300}, {6, 0x300}}),
          {{"in_5_0_0.ts", pat({{0, 0x10}, {5, 0x100}})}, {"in_5_1_0.ts", pat({{0, 0x10}, {5, 0x200}})},
           {"in_6_0_0.ts", pat({{0, 0x10}, {6, 0x300}})}, {"in_6_1_0.ts", pat({{0, 0x10}, {6, 0x300}})}});
    s.section(0x100, pmt(5, 0x101), {"in_5_0_0.ts"});
    s.section(0x200, pmt(5, 0x201), {"in_5_1_0.ts"});
    s.section(0x300, pmt(6, 0x301), {"in_6_0_0.ts"});
    s.es(0x101, {"in_5_0_0.ts"});
    s.es(0x201, {"in_5_1_0.ts"});
    s.es(0x301, {"in_6_0_0.ts"});
}

// Absent from two PATs, program 2 comes back under a new revision.
void programThatLeavesAndReturns(Scenario& s) {
    Bytes one1 = pat({{0, 0x10}, {1, 0x100}}, 1);
    s.pat(pat({{0, 0x10}, {1, 0x100}, {2, 0x200}}), {{kOne, pat({{0, 0x10}, {1, 0x100}})}, {kTwo, pat({{0, 0x10}, {2, 0x200}})}});
    s.section(0x200, pmt(2, 0x201), {kTwo});
    s.es(0x201, {kTwo});
    s.pat(one1, {{kOne, one1}});
    s.es(0x201);
    s.pat(one1, {{kOne, one1}});
    s.pat(pat({{0, 0x10}, {1, 0x100}, {2, 0x200}}, 2),
          {{kOne, pat({{0, 0x10}, {1, 0x100}}, 2)}, {"in_2_0_2.ts", pat({{0, 0x10}, {2, 0x200}}, 2)}});
    s.section(0x200, pmt(2, 0x201), {"in_2_0_2.ts"});
    s.es(0x201, {"in_2_0_2.ts"});
}

void programMovingItsPMTPID(Scenario& s) {
    s.pat(pat({{1, 0x100}}), {{kOne, pat({{1, 0x100}})}});
    s.section(0x100, pmt(1, 0x101), {kOne});
    s.es(0x101, {kOne});
    s.pat(pat({{1, 0x300}}, 1), {{kOne, pat({{1, 0x300}}, 1)}});
    s.section(0x100, pmt(1, 0x101));
    s.section(0x300, pmt(1, 0x301, {}, 1), {kOne});
    s.es(0x301, {kOne});
    s.es(0x101);  // the old PMT's stream
}

// Two programs on one PMT PID sharing audio and a CA PID; one packet with
// both PMT sections reaches each file once.
void sharedPIDsAndASharedPMTPID(Scenario& s) {
    s.pat(pat({{1, 0x100}, {2, 0x100}}), {{kOne, pat({{1, 0x100}})}, {kTwo, pat({{2, 0x100}})}});
    Bytes pmt1 = tsb::pmtSection(1, 0x101, tsb::caDescriptor(1, 0x600), {{0x1B, 0x101, {}}, {0x03, 0x500, {}}});
    Bytes pmt2 = tsb::pmtSection(2, 0x201, tsb::caDescriptor(1, 0x600), {{0x1B, 0x201, {}}, {0x03, 0x500, {}}});
    s.section(0x100, pmt1, {kOne});
    s.section(0x100, pmt2, {kTwo});
    s.es(0x101, {kOne});
    s.es(0x201, {kTwo});
    s.es(0x500, {kOne, kTwo});
    s.es(0x600, {kOne, kTwo});
    s.add(tsb::packet({.pid = 0x100, .pusi = true, .cc = s.cc[0x100], .payload = tsb::concat({{0x00}, pmt1, pmt2})}), {kOne, kTwo});
}

void damagedPATsOpenNothing(Scenario& s) {
    Bytes bad = pat({{0, 0x10}, {1, 0x100}});
    bad[13] ^= 0x40;
    s.add(tsb::psiPacket(0, 0, bad));
    std::vector<tsb::Program> seventy;
    for (uint16_t i = 1; i <= 70; ++i) seventy.push_back({i, uint16_t(0x100 + i)});
    uint8_t cc = 0;
    std::vector<Bytes> big = tsb::packetize(0, pat(seventy), cc);
    big[1][3] = uint8_t((big[1][3] & 0xF0) | 3);  // 0 followed by 3
    s.add(big);
    s.es(0x101);
}

const Bytes kSinglePAT = pat({{0, 0x10}, {1, 0x100}});
const Bytes kSinglePMT = pmt(1, 0x101, {{0x0F, 0x102, {}}});

// adaptation_field_length 0 to 255 on PAT packets (stuffing, then the PAT
// where room is left: up to 162) and on video packets of noise.
void everyAdaptationLength(Scenario& s) {
    s.add(tsb::concat({tsb::psiPacket(0, 0, kSinglePAT), tsb::psiPacket(0x100, 0, kSinglePMT)}), {kOne});
    uint32_t noise = 99;
    for (int length = 0; length <= 255; ++length) {
        uint8_t cc = uint8_t((length + 1) & 15);
        Bytes rest = {uint8_t(length)};
        if (length > 0) rest.push_back(0x00);
        while (rest.size() < size_t(1 + length) && rest.size() < 184) rest.push_back(0xFF);
        rest.push_back(0x00);
        tsb::append(rest, kSinglePAT);
        s.add(rawPacket(0, true, 3, cc, rest));
        if (length <= 162) tsb::append(s.files[kOne], tsb::psiPacket(0, cc, kSinglePAT));
        Bytes video = {uint8_t(length)};
        for (int i = 1; i < 184; ++i) video.push_back(uint8_t((noise = noise * 1103515245 + 12345) >> 16));
        s.add(rawPacket(0x101, false, 3, uint8_t(length), video), {kOne});
    }
}

// pointer_field 0 to 255 on PAT packets: a PAT that starts up to byte 163
// fits; later ones run into the next packet's skipped bytes and fail their CRC.
void everyPointerField(Scenario& s) {
    for (int pointer = 0; pointer <= 255; ++pointer) {
        uint8_t cc = uint8_t(pointer & 15);
        Bytes rest(1 + size_t(std::min(pointer, 183)), 0xFF);
        rest[0] = uint8_t(pointer);
        tsb::append(rest, kSinglePAT);
        s.add(rawPacket(0, true, 1, cc, rest));
        if (pointer <= 163) tsb::append(s.files[kOne], tsb::psiPacket(0, cc, kSinglePAT));
        if (pointer == 0) s.add(tsb::psiPacket(0x100, 0, kSinglePMT), {kOne});
        s.es(0x101, {kOne});
    }
}

// section_length 4095 (beyond any slot), 400 (past the packet, the next PAT
// starts anew) and 49 for a section of 17 (the CRC is read from stuffing).
void sectionLengthsThatLie(Scenario& s) {
    Bytes huge = kSinglePAT, pastPacket = kSinglePAT, pastSection = pat({{9, 0x900}});
    huge[1] = 0xBF, huge[2] = 0xFF;
    pastPacket[1] = 0xB1, pastPacket[2] = 0x90;
    pastSection[2] = uint8_t(pastSection[2] + 32);
    uint8_t es = 0;
    Bytes video = tsb::esPacket(0x101, es, 0x11);
    s.add(tsb::concat({tsb::psiPacket(0, 0, huge), tsb::psiPacket(0, 1, pastPacket), tsb::psiPacket(0, 2, pastSection), video}));
    s.add(tsb::concat({tsb::psiPacket(0, 3, kSinglePAT), tsb::psiPacket(0x100, 0, kSinglePMT), video}), {kOne});
}

// A PMT whose CRC verifies but whose loops run past the section still routes its stream.
void pmtWithLyingLoops(Scenario& s) {
    Bytes lying = tsb::section(0x02, 1, 0, {0xE1, 0x01, 0xF0, 0x03, 0x05, 0x10, 'A', 0x1B, 0xE1, 0x01, 0xF3, 0xFF, 0x0A, 0xFF, 'e'});
    uint8_t es = 0;
    s.add(tsb::concat({tsb::psiPacket(0, 0, kSinglePAT), tsb::psiPacket(0x100, 0, lying), tsb::esPacket(0x101, es)}), {kOne});
    s.es(0x102);
}

void patOfSeventyPrograms(Scenario& s) {
    std::vector<tsb::Program> seventy;
    for (uint16_t i = 1; i <= 70; ++i) seventy.push_back({i, uint16_t(0x100 + i)});
    s.section(0, pat(seventy));
    for (uint16_t i = 1; i <= 64; ++i) s.files["in_" + std::to_string(i) + "_0_0.ts"] = tsb::psiPacket(0, 1, pat({seventy[i - 1]}));
    s.err = "Warning: the PAT lists 6 programs more than the 64 that can be followed; they are skipped.\n";
}

void moreProgramsOverARunThanTheTableHolds(Scenario& s) {
    std::vector<tsb::Program> first, second;
    for (uint16_t i = 1; i <= 80; ++i) (i <= 40 ? first : second).push_back({i, uint16_t(0x100 + i)});
    s.add(tsb::concat({tsb::psiPacket(0, 0, pat(first)), tsb::psiPacket(0, 1, pat(second, 1))}));
    for (uint16_t i = 1; i <= 64; ++i) {
        s.files["in_" + std::to_string(i) + "_0_0.ts"] = tsb::psiPacket(0, i <= 40 ? 0 : 1, pat({{i, uint16_t(0x100 + i)}}, uint8_t(i > 40 ? 1 : 0)));
    }
    for (int i = 65; i <= 80; ++i) s.err += "Warning: program " + std::to_string(i) + " skipped: more than 64 programs.\n";
}

// 36 streams and 40 program descriptors, a CA descriptor the 33rd: what lies
// beyond 32 is not routed.
void pmtBeyondItsCapacity(Scenario& s) {
    Bytes program = tsb::caDescriptor(0x0B00, 0x640);
    for (int i = 1; i < 32; ++i) tsb::append(program, tsb::descriptor(0x52, {uint8_t(i)}));
    tsb::append(program, tsb::caDescriptor(0x0B00, 0x650));
    std::vector<tsb::Stream> streams;
    for (uint16_t i = 0; i < 36; ++i) streams.push_back({0x1B, uint16_t(0x201 + i), {}});
    s.pat(kSinglePAT, {{kOne, kSinglePAT}});
    s.section(0x100, tsb::pmtSection(1, 0x201, program, streams), {kOne});
    for (uint16_t i = 0; i < 36; ++i) s.es(uint16_t(0x201 + i), i < 32 ? std::vector<std::string>{kOne} : std::vector<std::string>{});
    s.es(0x640, {kOne});
    s.es(0x650);
}

// A two-packet PMT broken by a skipped, a wrapped and a repeated counter
// routes nothing until an intact one arrives; continuations that do not
// continue are not copied.
void brokenMultiPacketPMTs(Scenario& s) {
    uint8_t cc = 0;
    std::vector<Bytes> parts = tsb::packetize(0x100, kLongPMT, cc);
    auto counted = [&](uint8_t first, uint8_t second) {
        std::vector<Bytes> p = parts;
        p[0][3] = uint8_t((p[0][3] & 0xF0) | first);
        p[1][3] = uint8_t((p[1][3] & 0xF0) | second);
        return p;
    };
    s.pat(kSinglePAT, {{kOne, kSinglePAT}});
    for (auto [first, second] : {std::pair{0, 2}, {15, 1}, {5, 5}}) {
        std::vector<Bytes> broken = counted(uint8_t(first), uint8_t(second));
        s.add(broken[0], {kOne});
        s.add(broken[1]);
        s.es(0x101);
    }
    s.add(counted(15, 0), {kOne});
    s.es(0x101, {kOne});
}

}  // namespace

TEST(Splitter, OutputFilesByteForByte) {
    const std::pair<const char*, std::function<void(Scenario&)>> cases[] = {
        {"routes PMT, PCR, CA and streams once per file", routesPMTPCRCAAndStreams},
        {"worked example of the rebuilt PAT", workedExampleOfTheRebuiltPAT},
        {"rebuilt PAT is a plain packet", rebuiltPATIsAPlainPacket},
        {"PMT of two packets, no network entry", pmtOfTwoPacketsAndNoNetworkEntry},
        {"pending PMT packet is written", pendingPMTPacketIsWritten},
        {"duplicate program numbers", duplicateProgramNumbers},
        {"program that leaves and returns", programThatLeavesAndReturns},
        {"program moving its PMT PID", programMovingItsPMTPID},
        {"shared PIDs and a shared PMT PID", sharedPIDsAndASharedPMTPID},
        {"damaged PATs open nothing", damagedPATsOpenNothing},
        {"every adaptation field length", everyAdaptationLength},
        {"every pointer_field", everyPointerField},
        {"section lengths that lie", sectionLengthsThatLie},
        {"PMT with lying loops", pmtWithLyingLoops},
        {"PAT of seventy programs", patOfSeventyPrograms},
        {"more programs over a run than the table holds", moreProgramsOverARunThanTheTableHolds},
        {"PMT beyond its capacity", pmtBeyondItsCapacity},
        {"broken multi-packet PMTs", brokenMultiPacketPMTs},
    };
    for (const auto& [name, build] : cases) {
        SCOPED_TRACE(name);
        Scenario s;
        build(s);
        TempDir dir;
        Outcome r = runTool({RIVULET_TOOL, dir.write("in.ts", s.input)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, s.err);
        expectFiles(dir, s.files);
    }
}
