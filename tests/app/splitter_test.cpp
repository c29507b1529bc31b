// `rivulet IN.ts`: every output file compared byte for byte with the input
// packets of its program and the single-program PAT packets built for it.

#include <functional>
#include <map>

#include "tests/support/test.h"

using Files = std::vector<std::string>;

namespace {

const std::string kOne = "in_1_0_0.ts";
const std::string kTwo = "in_2_0_0.ts";

// An input being built, with the files each of its packets must reach.
struct Scenario {
    void add(const Bytes& packets, const Files& to = {}) {
        tsb::append(input, packets);
        for (const std::string& f : to) tsb::append(files[f], packets);
    }
    void add(const std::vector<Bytes>& packets, const Files& to = {}) {
        for (const Bytes& p : packets) add(p, to);
    }
    void section(uint16_t pid, const Bytes& s, const Files& to = {}) { add(tsb::packetize(pid, s, cc[pid]), to); }
    void es(uint16_t pid, const Files& to = {}) { add(tsb::esPacket(pid, cc[pid]), to); }
    // A PAT in one packet; each file in `rebuilt` receives its own PAT
    // section in a packet with the input packet's counter.
    void pat(const Bytes& section, const std::map<std::string, Bytes>& rebuilt) {
        add(tsb::psiPacket(0, cc[0], section));
        for (const auto& [file, single] : rebuilt) tsb::append(files[file], tsb::psiPacket(0, cc[0], single));
        cc[0] = (cc[0] + 1) & 15;
    }

    Bytes input;
    std::map<std::string, Bytes> files;
    std::string err;
    std::vector<std::string> options;  // of rivulet, before the input
    uint8_t cc[8192] = {};
};

Bytes pat(const std::vector<tsb::Program>& programs, uint8_t version = 0) {
    return tsb::patSection(1, version, programs);
}
Bytes pmt(uint16_t program, uint16_t pid, std::vector<tsb::Stream> more = {}, uint8_t version = 0) {
    more.insert(more.begin(), {0x1B, pid, {}});
    return tsb::pmtSection(program, pid, {}, more, version);
}
Bytes longPMT(uint16_t program, uint16_t pid) {  // two packets
    return pmt(program, pid, {{0x06, uint16_t(pid + 1), tsb::descriptor(0x05, Bytes(200, 0x41))}});
}
std::string file(int program) { return "in_" + std::to_string(program) + "_0_0.ts"; }
std::vector<tsb::Program> programs(uint16_t first, uint16_t last) {
    std::vector<tsb::Program> list;
    for (uint16_t i = first; i <= last; ++i) list.push_back({i, uint16_t(0x100 + i)});
    return list;
}

const Bytes kPAT1 = pat({{0, 0x10}, {1, 0x100}});
const Bytes kPAT2 = pat({{0, 0x10}, {2, 0x200}});
const Bytes kPATBoth = pat({{0, 0x10}, {1, 0x100}, {2, 0x200}});
const Bytes kPMT1 = pmt(1, 0x101, {{0x0F, 0x102, {}}});

// A packet of raw bytes behind a header, for lengths the builder refuses.
Bytes rawPacket(uint16_t pid, uint8_t afc, uint8_t cc, const Bytes& rest) {
    Bytes p = {0x47, uint8_t((pid == 0 ? 0x40 : 0) | pid >> 8), uint8_t(pid), uint8_t(afc << 4 | (cc & 15))};
    p.insert(p.end(), rest.begin(), rest.begin() + long(std::min<size_t>(rest.size(), 184)));
    p.resize(188, 0xFF);
    return p;
}

// Program 2: PCR on a PID of its own, two CA systems, an ECM per component.
void routesPMTPCRCAAndStreams(Scenario& s) {
    Bytes ca = tsb::concat({tsb::caDescriptor(0x0B00, 0x250), tsb::caDescriptor(0x0500, 0x251)});
    s.es(0x101);  // before any PAT
    s.pat(kPATBoth, {{kOne, kPAT1}, {kTwo, kPAT2}});
    s.es(0x101);  // before its PMT
    s.section(0x100, kPMT1, {kOne});
    s.section(0x200, tsb::pmtSection(2, 0x2FF, ca, {{2, 0x201, tsb::caDescriptor(0x0B00, 0x252)}, {3, 0x202, {}}}), {kTwo});
    for (int i = 0; i < 3; ++i) {
        for (uint16_t pid : {0x101, 0x102}) s.es(pid, {kOne});
        for (uint16_t pid : {0x201, 0x202, 0x2FF, 0x250, 0x251, 0x252}) s.es(pid, {kTwo});
        for (uint16_t pid : {0x1FFF, 0x0001, 0x0010}) s.es(pid);
    }
    s.pat(kPATBoth, {{kOne, kPAT1}, {kTwo, kPAT2}});
    s.es(0x102, {kOne});
}

// TEI, scrambling and adaptation field of the input PAT are not copied; a
// PAT over two packets takes the completing packet's counter.
void rebuiltPATIsAPlainPacket(Scenario& s) {
    Bytes payload = tsb::concat({{0x00}, pat({{0, 0x10}, {1, 0x100}}, 2)});
    s.add(tsb::packet({.pid = 0, .pusi = true, .cc = 9, .tei = true, .priority = true, .scrambling = 2,
                       .hasAdaptation = true, .adaptation = {0x00, 0xFF, 0xFF}, .payload = payload}));
    s.files[kOne] = tsb::packet({.pid = 0, .pusi = true, .cc = 9, .priority = true, .payload = payload});
    s.cc[0] = 10;
    s.section(0, pat(programs(1, 50), 3));
    for (const tsb::Program& p : programs(1, 50)) tsb::append(s.files[file(p.number)], tsb::psiPacket(0, 11, pat({p}, 3)));
}

// Counters 15, 0, 1: the packet in the middle continues the section too.
void pmtOfThreePacketsAndNoNetworkEntry(Scenario& s) {
    Bytes info = tsb::concat({tsb::descriptor(0x05, Bytes(250, 0x41)), tsb::descriptor(0x05, Bytes(150, 0x42))});
    s.cc[0x100] = 15;
    s.pat(pat({{1, 0x100}}), {{kOne, pat({{1, 0x100}})}});
    s.section(0x100, tsb::pmtSection(1, 0x101, info, {{0x1B, 0x101, {}}, {0x06, 0x102, {}}}), {kOne});
    s.es(0x101, {kOne});
    s.es(0x102, {kOne});
}

// A capture cut short after the first packet of a two-packet PMT.
void pendingPMTPacketIsWritten(Scenario& s) {
    uint8_t cc = 0;
    s.pat(kPATBoth, {{kOne, kPAT1}, {kTwo, kPAT2}});
    s.add(tsb::packetize(0x200, longPMT(2, 0x201), cc)[0], {kTwo});
}

void duplicateProgramNumbers(Scenario& s) {
    s.pat(pat({{0, 0x10}, {5, 0x100}, {5, 0x200}, {6, 0x300}, {6, 0x300}}),
          {{"in_5_0_0.ts", pat({{0, 0x10}, {5, 0x100}})}, {"in_5_1_0.ts", pat({{0, 0x10}, {5, 0x200}})},
           {"in_6_0_0.ts", pat({{0, 0x10}, {6, 0x300}})}, {"in_6_1_0.ts", pat({{0, 0x10}, {6, 0x300}})}});
    for (uint16_t pid : {0x100, 0x200, 0x300}) {
        std::string to = pid == 0x100 ? "in_5_0_0.ts" : pid == 0x200 ? "in_5_1_0.ts" : "in_6_0_0.ts";
        s.section(pid, pmt(pid == 0x300 ? 6 : 5, uint16_t(pid + 1)), {to});
        s.es(uint16_t(pid + 1), {to});
    }
}

// Absent from two PATs, program 2 comes back under a new revision.
void programThatLeavesAndReturns(Scenario& s) {
    Bytes one = pat({{0, 0x10}, {1, 0x100}}, 1);
    s.pat(kPATBoth, {{kOne, kPAT1}, {kTwo, kPAT2}});
    s.section(0x200, pmt(2, 0x201), {kTwo});
    s.es(0x201, {kTwo});
    s.pat(one, {{kOne, one}});
    s.es(0x201);
    s.pat(one, {{kOne, one}});
    s.pat(pat({{0, 0x10}, {1, 0x100}, {2, 0x200}}, 2),
          {{kOne, pat({{0, 0x10}, {1, 0x100}}, 2)}, {"in_2_0_2.ts", pat({{0, 0x10}, {2, 0x200}}, 2)}});
    s.es(0x201, {"in_2_0_2.ts"});  // routed by its last PMT until a new one comes
    s.section(0x200, pmt(2, 0x202), {"in_2_0_2.ts"});
    s.es(0x201);
    s.es(0x202, {"in_2_0_2.ts"});
}

void appendAll(Bytes& to, const std::vector<Bytes>& packets) {
    for (const Bytes& p : packets) tsb::append(to, p);
}

// A PAT in two sections is whole, and acted on, when both are in; a section
// announcing the next PAT changes nothing.
void patInTwoSections(Scenario& s) {
    for (uint8_t round = 0; round < 2; ++round) {  // sections in either order
        Bytes first = tsb::numbered(pat({{1, 0x100}}), 0, 1);
        Bytes second = tsb::numbered(pat({{2, 0x200}}), 1, 1);
        if (round == 1) std::swap(first, second);
        s.add(tsb::psiPacket(0, s.cc[0]++, first));
        s.add(tsb::psiPacket(0, s.cc[0], second));
        for (int p : {1, 2}) tsb::append(s.files[file(p)], tsb::psiPacket(0, s.cc[0], pat({{uint16_t(p), uint16_t(0x100 * p)}})));
        s.cc[0]++;
        if (round == 0) {
            s.section(0x100, pmt(1, 0x101), {kOne});
            s.section(0x200, pmt(2, 0x201), {kTwo});
        }
        s.add(tsb::psiPacket(0, s.cc[0]++, tsb::numbered(pat({{3, 0x300}}, 1), 0, 0, false)));
        s.es(0x101, {kOne});
        s.es(0x201, {kTwo});
    }
}

// Absent from 65,536 PATs, a program comes back in a new file: revisions
// count beyond 16 bits, and the first file stays as it was.
void revisionsDoNotWrap(Scenario& s) {
    s.pat(kPATBoth, {{kOne, kPAT1}, {kTwo, kPAT2}});
    s.section(0x200, pmt(2, 0x201), {kTwo});
    for (int i = 0; i < 65536; ++i) s.pat(kPAT1, {{kOne, kPAT1}});
    s.pat(kPATBoth, {{kOne, kPAT1}, {"in_2_0_65536.ts", kPAT2}});
    s.es(0x201, {"in_2_0_65536.ts"});
}

// Packets that do not adjoin fill each file's queue of writes (1,024) with a
// rebuilt PAT, its copy, as the write that flushes it; more PATs follow.
void queueFilledByACopy(Scenario& s) {
    s.pat(kPATBoth, {{kOne, kPAT1}, {kTwo, kPAT2}});
    s.section(0x100, kPMT1, {kOne});
    s.section(0x200, pmt(2, 0x201), {kTwo});
    for (int i = 0; i < 1022; ++i) {
        s.es(0x101, {kOne});
        s.es(0x201, {kTwo});
    }
    for (int i = 0; i < 5; ++i) {
        s.pat(kPATBoth, {{kOne, kPAT1}, {kTwo, kPAT2}});
        s.es(0x101, {kOne});
        s.es(0x201, {kTwo});
    }
}

// The 70th of seventy programs, selected: no entries for the others.
void selectionBeyondSixtyFourPrograms(Scenario& s) {
    s.section(0, pat(programs(1, 70)));
    s.files[file(70)] = tsb::psiPacket(0, 1, pat({{70, 0x146}}));
    s.options = {"--program=70"};
}

// On a shared PMT PID, program 1's section begins in the last 2 bytes of a
// packet: before its program_number arrives, the packet goes to both files.
void sectionBegunInAPacketsLastBytes(Scenario& s) {
    s.pat(pat({{1, 0x100}, {2, 0x100}}), {{kOne, pat({{1, 0x100}})}, {kTwo, pat({{2, 0x100}})}});
    size_t base = pmt(2, 0x201).size();
    Bytes first = tsb::pmtSection(2, 0x201, tsb::descriptor(0x05, Bytes(181 - base - 2, 0x41)), {{0x1B, 0x201, {}}});
    Bytes second = pmt(1, 0x101);
    s.add(tsb::packet({.pid = 0x100, .pusi = true, .cc = 0, .payload = tsb::concat({{0}, first, {second[0], second[1]}})}),
          {kOne, kTwo});
    s.add(tsb::packet({.pid = 0x100, .cc = 1, .payload = Bytes(second.begin() + 2, second.end())}), {kOne});
    s.es(0x101, {kOne});
    s.es(0x201, {kTwo});
}

void programSelection(Scenario& s) {
    duplicateProgramNumbers(s);
    s.files.erase("in_6_0_0.ts");
    s.files.erase("in_6_1_0.ts");
    s.options = {"-p", "0x5"};
}

// --si: a file gets TOT and NIT packets, an SDT of its own service, its EIT
// sections; not SDT other, BAT, EIT other or a section with a bad CRC.
void serviceInformation(Scenario& s) {
    s.options = {"--si"};
    std::map<std::string, std::map<uint16_t, uint8_t>> counters;
    auto carried = [&](uint16_t pid, const Bytes& section, const std::string& to) {
        s.section(pid, section);
        if (!to.empty()) appendAll(s.files[to], tsb::packetize(pid, section, counters[to][pid]));
    };
    // Entries of 10 + id bytes: the whole SDT's section_length is odd, program 2's even.
    auto service = [](uint16_t id) {
        Bytes name(id, 'A');
        return tsb::concat({{uint8_t(id >> 8), uint8_t(id), 0xFC, 0x80, uint8_t(5 + id)},
                            {0x48, uint8_t(3 + id), 0x01, 0x00, uint8_t(id)}, name});
    };
    const Bytes network = {0x20, 0xFA, 0xFF};
    s.pat(kPATBoth, {{kOne, kPAT1}, {kTwo, kPAT2}});
    s.section(0x100, kPMT1, {kOne});
    s.section(0x200, pmt(2, 0x201), {kTwo});
    s.es(0x10, {kOne, kTwo});
    s.es(0x14, {kOne, kTwo});
    Bytes sdt0 = tsb::concat({network, service(1), service(2)});
    Bytes sdt1 = tsb::concat({network, service(3)});
    s.section(0x11, tsb::numbered(tsb::section(0x42, 7, 1, sdt0), 0, 1));
    for (int p : {1, 2}) {
        Bytes one = tsb::section(0x42, 7, 1, tsb::concat({network, service(uint16_t(p))}));
        appendAll(s.files[file(p)], tsb::packetize(0x11, one, counters[file(p)][0x11]));
    }
    carried(0x11, tsb::numbered(tsb::section(0x42, 7, 1, sdt1), 1, 1), "");
    carried(0x11, tsb::section(0x46, 8, 0, sdt0), "");
    carried(0x11, tsb::section(0x4A, 9, 0, {0xF0, 0x00}), "");
    for (size_t size : {183, 184, 4096}) carried(0x12, tsb::section(0x4E, 1, 0, Bytes(size - 12, 0x5A)), kOne);
    carried(0x12, tsb::section(0x50, 2, 0, Bytes(300, 0x5B)), kTwo);
    carried(0x12, tsb::section(0x5F, 2, 0, Bytes(20, 0x5B)), kTwo);
    carried(0x12, tsb::section(0x60, 2, 0, Bytes(20, 0x5B)), "");
    carried(0x26, tsb::section(0x51, 1, 0, Bytes(20, 0x5C)), kOne);
    carried(0x27, tsb::section(0x4E, 2, 0, Bytes(30, 0x5A)), kTwo);
    carried(0x12, tsb::section(0x4F, 1, 0, Bytes(20, 0x5D)), "");
    Bytes damaged = tsb::section(0x4E, 2, 0, Bytes(20, 0x5E));
    damaged[20] ^= 1;
    carried(0x12, damaged, "");
    s.es(0x101, {kOne});
    // Program 2 leaves and returns: its new file counts its SI packets from 0.
    Bytes onlyOne = pat({{0, 0x10}, {1, 0x100}}, 1);
    Bytes both = pat({{0, 0x10}, {1, 0x100}, {2, 0x200}}, 2);
    s.pat(onlyOne, {{kOne, onlyOne}});
    carried(0x12, tsb::section(0x4E, 2, 1, Bytes(20, 0x5F)), "");
    s.pat(both, {{kOne, pat({{0, 0x10}, {1, 0x100}}, 2)}, {"in_2_0_1.ts", pat({{0, 0x10}, {2, 0x200}}, 2)}});
    carried(0x12, tsb::section(0x4E, 2, 1, Bytes(20, 0x5F)), "in_2_0_1.ts");
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

// Program 1 moves up the PAT when program 2 leaves it: its PMT is still read.
void programMovingUpThePAT(Scenario& s) {
    s.pat(pat({{2, 0x201}, {1, 0x101}}), {{kOne, pat({{1, 0x101}})}, {kTwo, pat({{2, 0x201}})}});
    s.pat(pat({{1, 0x101}}, 1), {{kOne, pat({{1, 0x101}}, 1)}});
    s.section(0x101, pmt(1, 0x111), {kOne});
    s.es(0x111, {kOne});
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
    s.add(tsb::packet({.pid = 0x100, .pusi = true, .cc = s.cc[0x100], .payload = tsb::concat({{0}, pmt1, pmt2})}),
          {kOne, kTwo});
}

void damagedPATsOpenNothing(Scenario& s) {
    Bytes bad = kPAT1;
    bad[13] ^= 0x40;
    s.add(tsb::psiPacket(0, 0, bad));
    uint8_t cc = 0;
    std::vector<Bytes> big = tsb::packetize(0, pat(programs(1, 70)), cc);
    big[1][3] = uint8_t((big[1][3] & 0xF0) | 3);  // 0 followed by 3
    s.add(big);
    s.es(0x101);
    s.err = "Warning: no PAT in {in}; no file written.\n";
}

// adaptation_field_length 0 to 255 on PAT packets (stuffing, then the PAT
// where room is left: up to 162) and on video packets of noise.
void everyAdaptationLength(Scenario& s) {
    s.add(tsb::concat({tsb::psiPacket(0, 0, kPAT1), tsb::psiPacket(0x100, 0, kPMT1)}), {kOne});
    uint32_t noise = 99;
    for (int length = 0; length <= 255; ++length) {
        uint8_t cc = uint8_t((length + 1) & 15);
        Bytes rest = {uint8_t(length), 0x00};
        rest.resize(std::min(1 + length, 184), 0xFF);
        s.add(rawPacket(0, 3, cc, tsb::concat({rest, {0x00}, kPAT1})));
        if (length <= 162) tsb::append(s.files[kOne], tsb::psiPacket(0, cc, kPAT1));
        Bytes video = {uint8_t(length)};
        for (int i = 1; i < 184; ++i) video.push_back(uint8_t((noise = noise * 1103515245 + 12345) >> 16));
        s.add(rawPacket(0x101, 3, uint8_t(length), video), {kOne});
    }
}

// pointer_field 0 to 255 on PAT packets: a PAT that starts up to byte 163
// fits; later ones run into the next packet's skipped bytes and fail their CRC.
void everyPointerField(Scenario& s) {
    for (int pointer = 0; pointer <= 255; ++pointer) {
        Bytes rest(1 + size_t(std::min(pointer, 183)), 0xFF);
        rest[0] = uint8_t(pointer);
        s.add(rawPacket(0, 1, uint8_t(pointer), tsb::concat({rest, kPAT1})));
        if (pointer <= 163) tsb::append(s.files[kOne], tsb::psiPacket(0, pointer & 15, kPAT1));
        if (pointer == 0) s.add(tsb::psiPacket(0x100, 0, kPMT1), {kOne});
        s.es(0x101, {kOne});
    }
}

// section_length 4095 (beyond any slot), 400 (past the packet, the next PAT
// starts anew) and 49 for a section of 17 (the CRC is read from stuffing).
void sectionLengthsThatLie(Scenario& s) {
    Bytes huge = kPAT1;
    Bytes pastPacket = kPAT1;
    Bytes pastSection = pat({{9, 0x900}});
    huge[1] = 0xBF;
    huge[2] = 0xFF;
    pastPacket[1] = 0xB1;
    pastPacket[2] = 0x90;
    pastSection[2] = uint8_t(pastSection[2] + 32);
    s.add({tsb::psiPacket(0, 0, huge), tsb::psiPacket(0, 1, pastPacket), tsb::psiPacket(0, 2, pastSection)});
    s.es(0x101);
    s.add({tsb::psiPacket(0, 3, kPAT1), tsb::psiPacket(0x100, 0, kPMT1)}, {kOne});
    s.es(0x101, {kOne});
}

// A PMT whose CRC verifies but whose loops run past the section still routes its stream.
void pmtWithLyingLoops(Scenario& s) {
    Bytes lying =
        tsb::section(2, 1, 0, {0xE1, 0x01, 0xF0, 0x03, 0x05, 0x10, 'A', 0x1B, 0xE1, 0x01, 0xF3, 0xFF, 0x0A, 0xFF, 'e'});
    s.add({tsb::psiPacket(0, 0, kPAT1), tsb::psiPacket(0x100, 0, lying)}, {kOne});
    s.es(0x101, {kOne});
    s.es(0x102);
}

// Programs that come and go over a run: each PAT's programs get files.
void moreProgramsOverARunThanOnePATHolds(Scenario& s) {
    s.add({tsb::psiPacket(0, 0, pat(programs(1, 40))), tsb::psiPacket(0, 1, pat(programs(41, 80), 1))});
    for (const tsb::Program& p : programs(1, 80)) {
        uint8_t second = p.number > 40;
        s.files[file(p.number)] = tsb::psiPacket(0, second, pat({p}, second));
    }
}

// A two-packet PMT broken by a skipped, a wrapped and a repeated counter
// routes nothing until an intact one arrives; continuations that do not
// continue are not copied.
void brokenMultiPacketPMTs(Scenario& s) {
    uint8_t cc = 0;
    std::vector<Bytes> parts = tsb::packetize(0x100, longPMT(1, 0x101), cc);
    s.pat(kPAT1, {{kOne, kPAT1}});
    for (auto [first, second] : {std::pair{0, 2}, {15, 1}, {5, 5}, {15, 0}}) {
        parts[0][3] = uint8_t((parts[0][3] & 0xF0) | first);
        parts[1][3] = uint8_t((parts[1][3] & 0xF0) | second);
        s.add(parts[0], {kOne});
        s.add(parts[1], second == 0 ? Files{kOne} : Files{});
        s.es(0x101, second == 0 ? Files{kOne} : Files{});
    }
}

// --si on programs that use PIDs DVB keeps for SI (a PMT on 0x14, a PCR on
// 0x11, a stream on 0x12): their packets go where their program takes them.
void siPIDsUsedByPrograms(Scenario& s) {
    s.options = {"--si"};
    s.pat(pat({{0, 0x10}, {1, 0x14}, {2, 0x200}}), {{kOne, pat({{0, 0x10}, {1, 0x14}})}, {kTwo, kPAT2}});
    s.section(0x14, tsb::pmtSection(1, 0x11, {}, {{0x1B, 0x12, {}}}), {kOne});
    s.section(0x200, pmt(2, 0x201), {kTwo});
    s.es(0x11, {kOne});
    s.es(0x12, {kOne});
    s.es(0x201, {kTwo});
    s.es(0x11, {kOne});
}

// --- Clean starts ---

// A packet of `pid` whose payload ends the packet: `bytes`, behind a PES header when it starts one.
Bytes pesPacket(Scenario& s, uint16_t pid, bool start, const Bytes& bytes, const Bytes& adaptation = {}) {
    Bytes payload = start ? tsb::concat({{0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00}, bytes}) : bytes;
    tsb::Packet p{.pid = pid, .pusi = start, .cc = s.cc[pid], .payload = payload};
    s.cc[pid] = (s.cc[pid] + 1) & 15;
    if (adaptation.empty()) return tsb::packetEndingWith(p);
    p.hasAdaptation = true;
    p.adaptation = adaptation;
    return tsb::packet(p);
}

// The PAT and PMT that will open a file, as the next packets of their PIDs.
Bytes opening(Scenario& s, const Bytes& single, const Bytes& pmtSection, uint16_t pmtPID) {
    return tsb::concat({tsb::psiPacket(0, s.cc[0], single), tsb::psiPacket(pmtPID, s.cc[pmtPID], pmtSection)});
}

const Bytes kSPSAndPPS = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x3C, 0x80};
const Bytes kStartCode = {0x00, 0x00, 0x01};

// Program 1: H.264, AAC, PCR on a PID of its own; program 2: MPEG audio only.
// Nothing before the start point is written; the packets of the PES being
// judged are held, and those the file takes follow the PAT and PMT.
void cleanStartAtTheFirstAccessPoint(Scenario& s) {
    s.options = {"--clean-start"};
    const Bytes pmt1 = tsb::pmtSection(1, 0x1FE, {}, {{0x1B, 0x101, {}}, {0x0F, 0x102, {}}});
    const Bytes pmt2 = tsb::pmtSection(2, 0x201, {}, {{0x03, 0x201, {}}});
    s.pat(kPATBoth, {});
    s.section(0x100, pmt1);
    s.section(0x200, pmt2);
    s.es(0x201);  // program 2 starts at its audio's next PES start
    Bytes start2 = tsb::concat({tsb::psiPacket(0, s.cc[0] - 1, kPAT2), tsb::psiPacket(0x200, 0, pmt2)});
    tsb::append(s.files[kTwo], start2);
    s.add(pesPacket(s, 0x201, true, {0xFF, 0xFD}), {kTwo});
    s.es(0x201, {kTwo});
    // A PES that looks like a start until its first slice shows no IDR.
    s.add(pesPacket(s, 0x101, true, tsb::concat({kSPSAndPPS, kStartCode})));
    s.add(pesPacket(s, 0x102, true, {0xFF, 0xF1}));
    s.es(0x1FE);
    s.add(pesPacket(s, 0x101, false, {0x41, 0x9A}));
    Bytes start1 = opening(s, kPAT1, pmt1, 0x100);
    s.pat(kPATBoth, {{kTwo, kPAT2}});
    s.section(0x100, pmt1);
    // The access point: its IDR's NAL header in its second packet.
    Bytes held = pesPacket(s, 0x101, true, tsb::concat({kSPSAndPPS, kStartCode}));
    s.add(held);
    s.es(0x102);  // no PES start: not taken
    Bytes clock = tsb::esPacket(0x1FE, s.cc[0x1FE]);
    Bytes audio = pesPacket(s, 0x102, true, {0xFF, 0xF1});
    s.add(tsb::concat({clock, audio}));
    tsb::append(s.files[kOne], tsb::concat({start1, held, clock, audio}));
    s.add(pesPacket(s, 0x101, false, {0x65, 0x88, 0x84}), {kOne});
    s.es(0x102, {kOne});
    s.section(0x100, pmt1, {kOne});
    s.es(0x201, {kTwo});
}

// The IDR of a PES held longer than the packets kept while judging is no
// start: the file would begin inside that PES. The next one is.
void cleanStartPassesOverAPESTooLongToJudge(Scenario& s) {
    s.options = {"--clean-start"};
    Bytes start = opening(s, kPAT1, kPMT1, 0x100);
    s.pat(kPAT1, {});
    s.section(0x100, kPMT1);
    s.add(pesPacket(s, 0x101, true, tsb::concat({kSPSAndPPS, kStartCode})));
    for (int i = 0; i < 64; ++i) s.es(0x102);
    s.add(pesPacket(s, 0x101, false, {0x65, 0x88, 0x84}));
    tsb::append(s.files[kOne], start);
    s.add(pesPacket(s, 0x101, true, tsb::concat({kSPSAndPPS, kStartCode, {0x65, 0x88}})), {kOne});
}

// PCRs at 0 to 4 s, then an hour later 3604 to 3610 s: the jump does not
// count, and the wait ends at the tenth second of clock. The file opens with
// the two packets of the PMT, not with the first of one cut short.
void cleanStartGivesUpAfterTenSeconds(Scenario& s) {
    s.options = {"--clean-start"};
    s.err = "Warning: no random access point in program 1 within 10 s; its file starts at its PMT.\n";
    const Bytes pmt1 = tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, tsb::descriptor(0x05, Bytes(200, 0x41))}});
    s.pat(kPAT1, {});
    s.add(tsb::packetize(0x100, pmt1, s.cc[0x100])[0]);
    uint8_t cc = s.cc[0x100];
    Bytes start = tsb::psiPacket(0, 0, kPAT1);
    appendAll(start, tsb::packetize(0x100, pmt1, cc));
    s.section(0x100, pmt1);
    for (uint64_t second : {0, 1, 2, 3, 4, 3604, 3605, 3606, 3607, 3608, 3609, 3610}) {
        if (second == 3610) tsb::append(s.files[kOne], start);
        Bytes picture = pesPacket(s, 0x101, true, {0x00, 0x00, 0x01, 0x00, 0x00, 0x0F},
                                  tsb::pcrAdaptation(second * 90000, 0));
        s.add(picture, second == 3610 ? Files{kOne} : Files{});
    }
    s.es(0x101, {kOne});
}

// With --si, the SDT and EIT present/following come before the streams;
// the schedule and the TDT before the start point do not.
void cleanStartWithServiceInformation(Scenario& s) {
    s.options = {"--clean-start", "--si"};
    const Bytes pmt1 = tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}});
    const Bytes sdt = tsb::section(0x42, 7, 1, {0x20, 0xFA, 0xFF, 0x00, 0x01, 0xFC, 0x80, 0x00});
    const Bytes present = tsb::section(0x4E, 1, 0, Bytes(20, 0x5A));
    const Bytes schedule = tsb::section(0x50, 1, 0, Bytes(20, 0x5B));
    const Bytes tdt = {0x70, 0x70, 0x05, 0xE8, 0x00, 0x12, 0x00, 0x00};
    Bytes start = tsb::concat({opening(s, kPAT1, pmt1, 0x100), tsb::psiPacket(0x11, 0, sdt), tsb::psiPacket(0x12, 0, present)});
    s.pat(kPAT1, {});
    s.section(0x100, pmt1);
    s.section(0x11, sdt);
    s.section(0x12, schedule);
    s.section(0x12, present);
    s.section(0x14, tdt);
    tsb::append(s.files[kOne], start);
    s.add(pesPacket(s, 0x101, true, {0x00, 0x00, 0x01, 0xB3, 0x2D}), {kOne});
    s.section(0x14, tdt, {kOne});
}

// --- Cuts at event changes ---

// The access point that starts an event file of program 1 (PMT on 0x100,
// H.264 on 0x101): its PAT and PMT held from before, then the picture.
void startAtAnAccessPoint(Scenario& s, const std::string& file, const Bytes& pmt1) {
    tsb::append(s.files[file], tsb::concat({tsb::psiPacket(0, (s.cc[0] + 15) & 15, kPAT1),
                                               tsb::psiPacket(0x100, (s.cc[0x100] + 15) & 15, pmt1)}));
    s.add(pesPacket(s, 0x101, true, tsb::concat({kStartCode, {0x65}}), {0x40}), {file});
}

// The stretch before the first event begins cleanly too. The file of event
// 257 opens at the video's access point, with the last PAT and PMT; the
// audio finishes its PES in the older file.
void eventCutAtTheNextAccessPoint(Scenario& s) {
    s.options = {"-e"};
    const std::string before = "in_1_0_0_none.ts";
    const std::string news = "in_1_0_0_257.ts";
    s.pat(kPAT1, {});
    s.section(0x100, kPMT1, {});
    startAtAnAccessPoint(s, before, kPMT1);
    s.section(0x12, tsb::presentEventSection(1, 0, 257));
    s.add(pesPacket(s, 0x101, false, {0x41}), {before});
    s.add(pesPacket(s, 0x102, true, {0xFF, 0xF1}), {before});
    startAtAnAccessPoint(s, news, kPMT1);
    s.es(0x102, {before});
    s.add(pesPacket(s, 0x102, true, {0xFF, 0xF1}), {news});
    s.es(0x101, {news});
    s.es(0x102, {news});
    s.section(0x12, tsb::presentEventSection(1, 1, 257));  // the same event again: no cut
    s.add(pesPacket(s, 0x101, true, tsb::concat({kStartCode, {0x65}}), {0x40}), {news});
}

// A program without video: its file is named after the event in force at
// its first packet (1), not the one known at its PAT (2); then a section
// without an event, and a cut at the next PES start of any stream.
void eventCutsOfAProgramWithoutVideo(Scenario& s) {
    s.options = {"-e"};
    const std::string one = "in_2_0_0_1.ts";
    const std::string two = "in_2_0_0_2.ts";
    const Bytes pmt2 = tsb::pmtSection(2, 0x201, {}, {{0x03, 0x201, {}}, {0x06, 0x202, {}}});
    s.section(0x12, tsb::presentEventSection(2, 0, 2));
    s.pat(kPAT2, {});
    Bytes opening = tsb::concat({tsb::psiPacket(0, s.cc[0] - 1, kPAT2), tsb::psiPacket(0x200, s.cc[0x200], pmt2)});
    s.section(0x200, pmt2, {});
    s.es(0x201, {});
    s.section(0x12, tsb::presentEventSection(2, 1, 1));
    s.es(0x201, {});
    s.section(0x12, tsb::presentEventSection(2, 2, 1));
    tsb::append(s.files[one], opening);
    s.add(pesPacket(s, 0x201, true, {0xFF, 0xFD}), {one});
    s.section(0x12, tsb::presentEventSection(2, 3, -1));
    s.add(pesPacket(s, 0x202, true, {0x20}), {one});
    s.section(0x12, tsb::presentEventSection(2, 4, 2));
    s.es(0x201, {one});
    tsb::append(s.files[two], opening);
    s.add(pesPacket(s, 0x202, true, {0x20}), {two});
    s.es(0x201, {one});
    s.add(pesPacket(s, 0x201, true, {0xFF, 0xFD}), {two});
    s.es(0x202, {two});
}

// A program that leaves the PAT while its cut is awaited: its file (of
// event 0, named apart from the stretch before any event) ends there, and
// its next revision's file is of the new event.
void programLeavesWhileItsCutIsAwaited(Scenario& s) {
    s.options = {"-e"};
    const std::string zero = "in_1_0_0_0.ts";
    const std::string six = "in_1_0_1_6.ts";
    const Bytes pmt1 = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}});
    s.section(0x12, tsb::presentEventSection(1, 0, 0));
    s.pat(kPAT1, {});
    s.section(0x100, pmt1, {});
    startAtAnAccessPoint(s, zero, pmt1);
    s.section(0x12, tsb::presentEventSection(1, 1, 6));
    s.es(0x101, {zero});
    s.pat(pat({{0, 0x10}}), {});
    s.es(0x101);
    s.pat(kPAT1, {});
    s.section(0x100, pmt1, {});
    startAtAnAccessPoint(s, six, pmt1);
}

// An input without events: program 2's file begins and is not cut, program
// 1 never reaches an access point, so its file, which would stay empty, is
// not created; each is named.
void eventsWithoutEventInformation(Scenario& s) {
    s.options = {"-e"};
    s.err = "Warning: no event information for program 2 of {in}; its file is not cut.\n"
            "Warning: program 1 of {in} has no point a decoder can start at; it gets no file.\n";
    const std::string two = "in_2_0_0_none.ts";
    const Bytes pmt2 = pmt(2, 0x201);
    s.pat(kPATBoth, {});
    s.section(0x100, pmt(1, 0x101), {});
    s.section(0x200, pmt2, {});
    s.add(pesPacket(s, 0x101, true, tsb::concat({kStartCode, {0x41}})), {});
    tsb::append(s.files[two], tsb::concat({tsb::psiPacket(0, (s.cc[0] + 15) & 15, pat({{0, 0x10}, {2, 0x200}})),
                                           tsb::psiPacket(0x200, (s.cc[0x200] + 15) & 15, pmt2)}));
    s.add(pesPacket(s, 0x201, true, tsb::concat({kStartCode, {0x65}}), {0x40}), {two});
}

// A sparse stream (0x103) has not begun a PES in event 1's file when event
// 2 is announced and cut: its PES goes on in the stretch before event 1,
// and begins in event 2's file at its next start; event 1's file never has
// it.
void sparseStreamAcrossTwoCuts(Scenario& s) {
    s.options = {"-e"};
    const std::string none = "in_1_0_0_none.ts";
    const std::string one = "in_1_0_0_1.ts";
    const std::string two = "in_1_0_0_2.ts";
    const Bytes pmt1 = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}, {0x0F, 0x102, {}}, {0x06, 0x103, {}}});
    s.pat(kPAT1, {});
    s.section(0x100, pmt1, {});
    startAtAnAccessPoint(s, none, pmt1);
    s.add(pesPacket(s, 0x102, true, {0xFF, 0xF1}), {none});
    s.add(pesPacket(s, 0x103, true, {0x20}), {none});
    s.section(0x12, tsb::presentEventSection(1, 0, 1));
    startAtAnAccessPoint(s, one, pmt1);
    s.es(0x103, {none});
    s.add(pesPacket(s, 0x102, true, {0xFF, 0xF1}), {one});
    s.section(0x12, tsb::presentEventSection(1, 1, 2));
    s.es(0x103, {none});
    s.es(0x102, {one});
    startAtAnAccessPoint(s, two, pmt1);
    s.es(0x103, {none});
    s.es(0x102, {one});
    s.add(pesPacket(s, 0x102, true, {0xFF, 0xF1}), {two});
    s.add(pesPacket(s, 0x103, true, {0x20}), {two});
}

// The input ends while a cut waits on a video PES still being judged: the
// packets held are the file's.
void inputEndsWhileACutIsJudged(Scenario& s) {
    s.options = {"-e"};
    const std::string before = "in_1_0_0_none.ts";
    s.pat(kPAT1, {});
    s.section(0x100, kPMT1, {});
    startAtAnAccessPoint(s, before, kPMT1);
    s.section(0x12, tsb::presentEventSection(1, 0, 7));
    s.add(pesPacket(s, 0x101, true, tsb::concat({kSPSAndPPS, kStartCode})), {before});
    s.add(pesPacket(s, 0x102, true, {0xFF, 0xF1}), {before});
}

}  // namespace

TEST(Splitter, OutputFilesByteForByte) {
    const std::pair<const char*, std::function<void(Scenario&)>> cases[] = {
        {"routes PMT, PCR, CA and streams once per file", routesPMTPCRCAAndStreams},
        {"rebuilt PAT is a plain packet", rebuiltPATIsAPlainPacket},
        {"PMT of three packets, no network entry", pmtOfThreePacketsAndNoNetworkEntry},
        {"pending PMT packet is written", pendingPMTPacketIsWritten},
        {"duplicate program numbers", duplicateProgramNumbers},
        {"program that leaves and returns", programThatLeavesAndReturns},
        {"PAT in two sections", patInTwoSections},
        {"program selection", programSelection},
        {"queue filled by a copy", queueFilledByACopy},
        {"section begun in a packet's last bytes", sectionBegunInAPacketsLastBytes},
        {"selection beyond sixty-four programs", selectionBeyondSixtyFourPrograms},
        {"revisions do not wrap", revisionsDoNotWrap},
        {"service information", serviceInformation},
        {"program moving its PMT PID", programMovingItsPMTPID},
        {"program moving up the PAT", programMovingUpThePAT},
        {"shared PIDs and a shared PMT PID", sharedPIDsAndASharedPMTPID},
        {"damaged PATs open nothing", damagedPATsOpenNothing},
        {"every adaptation field length", everyAdaptationLength},
        {"every pointer_field", everyPointerField},
        {"section lengths that lie", sectionLengthsThatLie},
        {"PMT with lying loops", pmtWithLyingLoops},
        {"more programs over a run than one PAT holds", moreProgramsOverARunThanOnePATHolds},
        {"broken multi-packet PMTs", brokenMultiPacketPMTs},
        {"SI PIDs used by programs", siPIDsUsedByPrograms},
        {"clean start at the first access point", cleanStartAtTheFirstAccessPoint},
        {"clean start passes over a PES too long to judge", cleanStartPassesOverAPESTooLongToJudge},
        {"clean start gives up after ten seconds", cleanStartGivesUpAfterTenSeconds},
        {"clean start with service information", cleanStartWithServiceInformation},
        {"event cut at the next access point", eventCutAtTheNextAccessPoint},
        {"event cuts of a program without video", eventCutsOfAProgramWithoutVideo},
        {"program leaves while its cut is awaited", programLeavesWhileItsCutIsAwaited},
        {"input ends while a cut is judged", inputEndsWhileACutIsJudged},
        {"sparse stream across two cuts", sparseStreamAcrossTwoCuts},
        {"events without event information", eventsWithoutEventInformation},
    };
    for (const auto& [name, build] : cases) {
        SCOPED_TRACE(name);
        Scenario s;
        build(s);
        TempDir dir;
        std::string in = dir.write("in.ts", s.input);
        std::vector<std::string> argv = {RIVULET_TOOL};
        argv.insert(argv.end(), s.options.begin(), s.options.end());
        argv.push_back(in);
        Outcome r = runTool(argv);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, withInput(s.err, in));
        expectFiles(dir, s.files);
    }
}
