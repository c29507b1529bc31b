// The clean-start gate, driven as the splitter drives it: what it hands each
// entry's file, in order ("65 101:3": entry 65 gets the packet of PID 0x101
// with counter 3), when the file begins, what it says, and whether the entry
// is still judged at the end. Entry 65 (bit 1 of the second word) waits for
// its clean start; entry 64 takes every packet from its opening.

#include <cstdio>
#include <functional>
#include <map>

#include "tests/support/test.h"
#include "ts/split/clean_start.h"

namespace {

using namespace rivulet;

constexpr uint32_t kWord = 1;
constexpr uint32_t kClean = 65;
constexpr uint32_t kPlain = 64;
constexpr uint64_t kCleanBit = 2;
constexpr uint64_t kBoth = 3;
constexpr uint16_t kPMTPID = 0x100;
const Bytes kPESHeader = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00};
const Bytes kStartCode = {0x00, 0x00, 0x01};

std::string unitName(const uint8_t* unit) {
    char name[16];
    std::snprintf(name, sizeof name, "%X:%u", (unit[1] & 0x1F) << 8 | unit[2], unit[3] & 0x0F);
    return name;
}

// A section by its PID, table_id, version and section_number.
std::string sectionName(uint16_t pid, const uint8_t* section) {
    char name[32];
    std::snprintf(name, sizeof name, "si %X %02X v%u #%u", pid, section[0], section[5] >> 1 & 0x1F, section[6]);
    return name;
}

struct Gate {
    CleanStart* clean;
    std::vector<std::string> calls;
    std::map<uint16_t, uint8_t> cc;

    void note(uint32_t e, const std::string& what) { calls.push_back(std::to_string(e) + " " + what); }
    // The entries of `entries` that take the packet get it after the gate's own writes.
    void route(const Bytes& packet, uint64_t entries) {
        TS_Packet header{};
        TS_Packet_GetHeader(&header, packet.data());
        const uint64_t taken = cleanFilter(*clean, packet.data(), header, entries, kWord, 0, UnitOrigin{});
        for (uint32_t bit : {0u, 1u}) if (taken >> bit & 1) note(kWord * 64 + bit, unitName(packet.data()));
    }
    // A packet whose payload ends it, the room before in its adaptation field.
    void es(uint16_t pid, bool start, const Bytes& payload, uint64_t entries = kCleanBit) {
        route(tsb::packetEndingWith({.pid = pid, .pusi = start, .cc = uint8_t(cc[pid]++ & 15), .payload = payload}), entries);
    }
    void pat() {
        const Bytes unit = tsb::psiPacket(0, cc[0]++, tsb::patSection(1, 0, {{1, kPMTPID}}));
        if (!cleanHoldsPAT(*clean, kClean, unit.data(), TS_PACKET_SIZE)) note(kClean, unitName(unit.data()));
    }
    void pmt(const Bytes& section, uint64_t entries = kCleanBit) {
        const Bytes unit = tsb::psiPacket(kPMTPID, cc[kPMTPID]++, section);
        const TS_PreSection slot = sectionSlot(section);
        cleanProgramPMT(*clean, kClean, kPMTPID, slot, false);
        cleanPMTPacket(*clean, unit.data(), TS_PACKET_SIZE, true, kCleanBit, kWord, UnitOrigin{});
        route(unit, entries);
    }
    // What the gate does not keep for the opening the file gets now.
    void si(uint16_t pid, const Bytes& section) {
        if (!cleanKeepsSection(*clean, kClean, pid, section.data(), uint32_t(section.size()))) note(kClean, sectionName(pid, section.data()));
    }
};

Gate& gateOf(void* user) { return *static_cast<Gate*>(user); }

// No case cuts: the calls of a cut's older file are left out.
CleanTargets targetsOf(Gate& gate) {
    return {&gate,
            [](void* user, uint32_t e, const uint8_t* unit, const UnitOrigin&) { gateOf(user).note(e, unitName(unit)); },
            [](void* user, uint32_t e, uint16_t pid, const uint8_t*, const uint8_t* s, uint32_t) { gateOf(user).note(e, sectionName(pid, s)); },
            nullptr, nullptr, nullptr, [](void* user, uint32_t e) { gateOf(user).note(e, "begins"); }, 0,
            {[](void* user, int32_t, const char* text) { gateOf(user).calls.push_back(text); }, &gate}};
}

// H.264 on 0x101 (its PCR too) and AAC on `audio`. A PES whose slice is no IDR
// is dropped, with the audio held while it was judged; the next one's IDR
// starts the file: the opening (the PAT, the PMT, the last SDT and the EIT
// kept), the packets held, the point's. The PMT's next start settles it; an
// SDT from then on goes to the file at once.
// A PMT repeated within the access point's PES keeps its search going.
void videoStartsAtItsAccessPoint(Gate& g, uint16_t audio, bool audioLast = false, bool pmtWithinPES = false) {
    const Bytes pmt = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}, {0x0F, audio, {}}});
    g.pat();
    g.si(0x11, tsb::section(0x42, 1, 0, {}));
    g.si(0x11, tsb::section(0x42, 1, 1, {}));
    g.si(0x12, tsb::presentEventSection(1, 0, 7));
    g.pmt(pmt);
    for (uint8_t nal : {0x41, 0x65}) {
        g.es(0x101, true, tsb::concat({kPESHeader, kStartCode}));
        if (!audioLast) g.es(audio, true, kPESHeader);
        if (!audioLast) g.es(audio, false, {0xAA});
        if (pmtWithinPES && nal == 0x65) g.pmt(pmt);
        g.es(0x101, false, {nal});
    }
    g.pmt(pmt);
    if (audioLast) g.es(audio, false, {0xAA});
    if (audioLast) g.es(audio, true, kPESHeader);
    g.si(0x11, tsb::section(0x42, 1, 2, {}));
}

// MPEG audio alone: the file starts at the first PES start of its stream
// (the PMT's start is none), joined by the PMT at its next start. The plain
// entry takes every packet routed to it.
void audioStartsAtItsFirstPES(Gate& g) {
    g.pat();
    g.pmt(tsb::pmtSection(1, 0x201, {}, {{0x03, 0x201, {}}}), kBoth);
    g.es(0x201, false, {0xAA}, kBoth);
    g.es(0x201, true, kPESHeader, kBoth);
}

// The PMT's packets packed: the packet that completes version 0 begins
// version 1, which the next completes. The file opens with version 1's two
// packets alone.
void packedPMTSections(Gate& g) {
    g.pat();
    for (uint8_t version : {0, 1, 2}) {
        const Bytes unit = tsb::psiPacket(kPMTPID, g.cc[kPMTPID]++, {});
        if (version > 0) {
            const Bytes section = tsb::pmtSection(1, 0x201, {}, {{0x03, 0x201, {}}}, uint8_t(version - 1));
            cleanProgramPMT(*g.clean, kClean, kPMTPID, sectionSlot(section), true);
        }
        cleanPMTPacket(*g.clean, unit.data(), TS_PACKET_SIZE, version < 2, kCleanBit, kWord, UnitOrigin{});
        g.route(unit, kCleanBit);
    }
    g.es(0x201, true, kPESHeader);
}

// A file its program opens again starts at once from the program it knows:
// at the next PES, with the PMT it holds.
void reopenedStartsFromTheProgramItKnows(Gate& g) {
    audioStartsAtItsFirstPES(g);
    cleanFileOpened(*g.clean, kClean, 1, true);
    g.pat();
    g.es(0x201, true, kPESHeader);
}

// Without PCR the clock is the video's PTS (on 0x1C2, whose PID's bytes
// differ), 0.6 s a PES: with no access
// point in 10 s of it, the file starts at its PMT with every packet. Flags
// '01' (forbidden) give no PTS, and no clock.
void noAccessPointIn10Seconds(Gate& g, uint8_t ptsFlags) {
    g.pat();
    g.pmt(tsb::pmtSection(1, 0x1FFF, {}, {{0x1B, 0x1C2, {}}}));
    for (uint64_t pts = 0; pts <= 17 * 54000; pts += 54000) {
        const Bytes header = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, ptsFlags, 0x05, uint8_t(0x21 | (pts >> 29 & 0x0E)),
                              uint8_t(pts >> 22), uint8_t(pts >> 14 | 1), uint8_t(pts >> 7), uint8_t(pts << 1 | 1)};
        g.es(0x1C2, true, tsb::concat({header, kStartCode, {0x41, 0xAA, 0xAA, 0xAA}}));
    }
}

}  // namespace

TEST(CleanStart, TheFileBeginsWhereADecoderCan) {
    const struct {
        const char* what;
        std::function<void(Gate&)> drive;
        std::vector<std::string> calls;
    } cases[] = {
        {"video at its access point", [](Gate& g) { videoStartsAtItsAccessPoint(g, 0x102); },
         {"65 begins", "65 0:0", "65 100:0", "65 si 11 42 v1 #0", "65 si 12 4E v0 #0", "65 101:2", "65 102:2", "65 102:3",
          "65 101:3", "65 100:1", "65 si 11 42 v2 #0", "unsettled 0"}},
        {"audio on a PID below 64, its PES last", [](Gate& g) { videoStartsAtItsAccessPoint(g, 0x38, true); },
         {"65 begins", "65 0:0", "65 100:0", "65 si 11 42 v1 #0", "65 si 12 4E v0 #0", "65 101:2", "65 101:3", "65 100:1",
          "65 38:1", "65 si 11 42 v2 #0", "unsettled 0"}},
        {"a PMT within the access point's PES", [](Gate& g) { videoStartsAtItsAccessPoint(g, 0x102, false, true); },
         {"65 begins", "65 0:0", "65 100:1", "65 si 11 42 v1 #0", "65 si 12 4E v0 #0", "65 101:2", "65 102:2", "65 102:3",
          "65 100:1", "65 101:3", "65 100:2", "65 si 11 42 v2 #0", "unsettled 0"}},
        {"audio at its first PES", audioStartsAtItsFirstPES,
         {"64 100:0", "64 201:0", "65 begins", "65 0:0", "65 100:0", "64 201:1", "65 201:1", "unsettled 2"}},
        {"reopened", reopenedStartsFromTheProgramItKnows,
         {"64 100:0", "64 201:0", "65 begins", "65 0:0", "65 100:0", "64 201:1", "65 201:1", "65 begins", "65 0:1", "65 100:0", "65 201:2",
          "unsettled 2"}},
        {"no access point in 10 s", [](Gate& g) { noAccessPointIn10Seconds(g, 0x80); },
         {"Warning: no random access point in program 1 within 10 s; its file starts at its PMT.\n", "65 begins", "65 0:0",
          "65 100:0", "65 1C2:1", "unsettled 0"}},
        {"no PTS", [](Gate& g) { noAccessPointIn10Seconds(g, 0x40); }, {"unsettled 2"}},
        {"PMT sections packed", packedPMTSections, {"65 begins", "65 0:0", "65 100:1", "65 100:2", "65 201:0", "unsettled 2"}},
    };
    for (const auto& c : cases) {
        Gate gate;
        gate.clean = cleanStartCreate(targetsOf(gate), 0, 0);
        ASSERT_TRUE(gate.clean && cleanReserve(*gate.clean, kClean + 1));
        cleanFileOpened(*gate.clean, kClean, 1, true);
        cleanFileOpened(*gate.clean, kPlain, 1, false);
        c.drive(gate);
        gate.calls.push_back("unsettled " + std::to_string(cleanUnsettled(*gate.clean, kWord)));
        EXPECT_EQ(gate.calls, c.calls) << c.what;
        cleanStartDestroy(gate.clean);
    }
}
