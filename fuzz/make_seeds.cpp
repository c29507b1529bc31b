// make_seeds: writes the seed corpora of the fuzz targets, built by the
// project's own stream builder, into DIR/packet, DIR/sections and DIR/drivers.
//
//   make_seeds DIR
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tools/stream_builder.h"

namespace {

using tsb::Bytes;

// Valid streams to mutate: a multi-program multiplex with a network entry, a
// CAT naming an EMM PID, a scrambled program with an ECM PID, a PMT that
// spans two packets, PCRs on their own PID and in the video, every
// descriptor of ISO/IEC 13818-1 and a few of other standards; and a
// single-program stream whose PMT changes.
constexpr uint16_t kNetworkPID = 0x0010;
constexpr uint16_t kEMMPID = 0x0700;
constexpr uint16_t kECMPID = 0x0600;
constexpr uint16_t kOwnPCRPID = 0x01F0;
constexpr uint16_t kCASystem = 0x0B00;
constexpr uint8_t kECMTableId = 0x80;
constexpr uint8_t kEMMTableId = 0x82;

struct SampleProgram {
    uint16_t number;
    uint16_t pmtPID;
    uint16_t pcrPID;
    uint16_t videoPID;
    uint16_t audioPID;
};

// Program 1: scrambled, PCR on a PID of its own. Program 2: a PMT of two
// packets. Program 3: PCR in the video.
std::vector<SampleProgram> samplePrograms() {
    return {{1, 0x0100, kOwnPCRPID, 0x0101, 0x0102},
            {2, 0x0200, 0x0201, 0x0201, 0x0202},
            {3, 0x0300, 0x0301, 0x0301, 0x0302}};
}

// One descriptor of each tag 2 to 18 with a well-formed body, and three of
// tags beyond (kept raw).
Bytes everyDescriptor() {
    using tsb::descriptor;
    return tsb::concat({
        descriptor(0x02, {0x18, 0x48, 0x5F}),              // video: MPEG-2, profile and level
        descriptor(0x03, {0x48}),                          // audio
        descriptor(0x04, {0xF1, 0xC2, 0xC3, 0xC4}),        // hierarchy
        descriptor(0x05, {'C', 'U', 'E', 'I', 0x01, 0x02}),  // registration with extra bytes
        descriptor(0x06, {0x01}),                          // data stream alignment
        descriptor(0x07, {0x2D, 0x00, 0x24, 0x03}),        // target background grid
        descriptor(0x08, {0x00, 0x10, 0x00, 0x2F}),        // video window
        tsb::caDescriptor(0x0500, 0x0601, {0xAA, 0xBB}),   // conditional access with private bytes
        descriptor(0x0A, {'e', 'n', 'g', 0x00, 'd', 'e', 'u', 0x01}),  // ISO 639 language, two entries
        descriptor(0x0B, {0xBF, 0x45}),                    // system clock
        descriptor(0x0C, {0x80, 0x10, 0x00, 0x20}),        // multiplex buffer utilization
        descriptor(0x0D, {'A', 'B', 'C', 'D', 0x11}),      // copyright with extra bytes
        descriptor(0x0E, {0xC0, 0x12, 0x34}),              // maximum bitrate
        descriptor(0x0F, {0x01, 0x02, 0x03, 0x04}),        // private data indicator
        descriptor(0x10, {0xC0, 0x12, 0x34, 0xC0, 0x56, 0x78}),  // smoothing buffer
        descriptor(0x11, {0xFF}),                          // STD
        descriptor(0x12, {0xC0, 0x0F}),                    // IBP
        descriptor(0x52, {0x01}),                          // DVB stream identifier
        descriptor(0x48, {0x01, 0x00, 0x03, 'T', 'V', '1'}),  // DVB service
        descriptor(0xFE, {}),                              // private use, empty
    });
}

Bytes samplePMT(const SampleProgram& p, uint8_t version = 0) {
    Bytes programInfo;
    std::vector<tsb::Stream> streams;
    if (p.number == 1) {
        programInfo = tsb::caDescriptor(kCASystem, kECMPID);
        streams = {{0x02, p.videoPID, tsb::descriptor(0x02, {0x18, 0x48, 0x5F})},
                   {0x04, p.audioPID, tsb::descriptor(0x0A, {'f', 'r', 'a', 0x00})}};
    } else if (p.number == 2) {
        programInfo = everyDescriptor();
        streams = {{0x1B, p.videoPID, everyDescriptor()}, {0x0F, p.audioPID, {}}};
    } else {
        streams = {{0x02, p.videoPID, {}}, {0x81, p.audioPID, tsb::descriptor(0x05, {'A', 'C', '-', '3'})}};
    }
    return tsb::pmtSection(p.number, p.pcrPID, programInfo, streams, version);
}

Bytes samplePAT(uint8_t version = 0) {
    std::vector<tsb::Program> entries = {{0, kNetworkPID}};
    for (const SampleProgram& p : samplePrograms()) entries.push_back({p.number, p.pmtPID});
    return tsb::patSection(0x0042, version, entries);
}

Bytes sampleCAT() { return tsb::catSection(tsb::caDescriptor(kCASystem, kEMMPID)); }

// An ECM in the short section syntax.
Bytes sampleECM() {
    Bytes body(16, 0x5A);
    Bytes s = {kECMTableId, uint8_t(0x70 | (body.size() >> 8)), uint8_t(body.size())};
    tsb::append(s, body);
    return s;
}

// An EMM in the long syntax: a 6-byte card id opens its private data.
Bytes sampleEMM() {
    return tsb::section(kEMMTableId, 0x0001, 0, {0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x01, 0x02});
}

// A packet whose adaptation field carries a PCR.
Bytes pcrPacket(uint16_t pid, uint8_t& cc, uint64_t base, bool withPayload) {
    tsb::Packet p{.pid = pid, .cc = cc, .hasAdaptation = true, .hasPayload = withPayload,
                  .adaptation = tsb::pcrAdaptation(base, 0x12, withPayload ? 0 : 176)};
    if (withPayload) p.payload.assign(188 - 4 - 1 - p.adaptation.size(), 0xAB);
    if (withPayload) cc = (cc + 1) & 0x0F;
    return tsb::packet(p);
}

// An adaptation field with every optional part present: PCR, OPCR, splice
// countdown, private data and an extension with ltw, piecewise rate and a
// seamless splice.
Bytes fullAdaptation() {
    Bytes af = {0xFF};
    tsb::append(af, {0x00, 0x00, 0x00, 0x01, 0xFE, 0x05});  // PCR
    tsb::append(af, {0x00, 0x00, 0x00, 0x02, 0x7E, 0x06});  // OPCR
    af.push_back(0xFD);                                     // splice_countdown
    tsb::append(af, {0x03, 0x11, 0x22, 0x33});              // private data
    tsb::append(af, {0x0B, 0xFF, 0x80, 0x10, 0xC0, 0x00, 0x20, 0x21, 0x00, 0x01, 0x00, 0x01});  // extension
    tsb::append(af, {0xFF, 0xFF});                          // stuffing
    return af;
}

// The multiplex: PAT, CAT, PMTs, ECM and EMM, then PCR and elementary
// stream packets, `rounds` times over.
Bytes multiProgramStream(int rounds = 2) {
    tsb::Stream188 s;
    uint8_t patCC = 0, catCC = 0, ecmCC = 0, emmCC = 0, es = 0, pcrCC = 0;
    uint8_t pmtCC[3] = {0, 0, 0};
    const std::vector<SampleProgram> programs = samplePrograms();
    for (int round = 0; round < rounds; ++round) {
        s.add(tsb::packetize(0, samplePAT(), patCC));
        s.add(tsb::packetize(1, sampleCAT(), catCC));
        for (size_t i = 0; i < programs.size(); ++i) s.add(tsb::packetize(programs[i].pmtPID, samplePMT(programs[i]), pmtCC[i]));
        s.add(tsb::packetize(kECMPID, sampleECM(), ecmCC));
        s.add(tsb::packetize(kEMMPID, sampleEMM(), emmCC));
        s.add(pcrPacket(kOwnPCRPID, pcrCC, 900u * uint64_t(round + 1), false));
        for (const SampleProgram& p : programs) {
            s.add(pcrPacket(p.videoPID, es, 1000u * uint64_t(round + 1), true));
            s.add(tsb::esPacket(p.videoPID, es));
            s.add(tsb::esPacket(p.audioPID, es));
        }
        s.add(tsb::packet({.pid = 0x0101, .cc = es, .hasAdaptation = true, .adaptation = fullAdaptation(),
                           .payload = Bytes(10, 0xCD)}));
        es = (es + 1) & 0x0F;
        s.add(tsb::esPacket(0x1FFF, es, 0xFF));
    }
    return s.bytes;
}

// The single-program stream of program 3 (network entry and the program),
// whose PMT runs A, B, A: B adds a stream.
Bytes pmtChangeStream() {
    const SampleProgram p = samplePrograms()[2];
    Bytes pat = tsb::patSection(0x0042, 0, {{0, kNetworkPID}, {p.number, p.pmtPID}});
    Bytes pmtA = samplePMT(p);
    Bytes pmtB = tsb::pmtSection(p.number, p.pcrPID, {}, {{0x02, p.videoPID, {}}, {0x03, 0x0303, {}}}, 1);
    tsb::Stream188 s;
    uint8_t patCC = 0, pmtCC = 0, es = 0;
    for (const Bytes* pmt : {&pmtA, &pmtB, &pmtA}) {
        for (int i = 0; i < 2; ++i) {
            s.add(tsb::packetize(0, pat, patCC));
            s.add(tsb::packetize(p.pmtPID, *pmt, pmtCC));
            s.add(pcrPacket(p.videoPID, es, 4000, true));
            s.add(tsb::esPacket(p.audioPID, es));
            s.add(tsb::esPacket(0x0303, es));
        }
    }
    return s.bytes;
}

struct Seed {
    std::string name;
    Bytes bytes;
};

Bytes slice(const Bytes& stream, size_t firstPacket, size_t count) {
    size_t begin = firstPacket * 188, end = (firstPacket + count) * 188;
    if (end > stream.size()) end = stream.size();
    return Bytes(stream.begin() + long(begin), stream.begin() + long(end));
}

// Two sections in one packet behind a pointer_field that skips the tail of an
// earlier section, and a PAT whose packet carries an adaptation field.
Bytes packedSections() {
    Bytes payload = {0x03, 0xAA, 0xBB, 0xCC};
    tsb::append(payload, samplePAT());
    tsb::append(payload, sampleCAT());
    tsb::Stream188 s;
    s.add(tsb::packet({.pid = 0, .pusi = true, .payload = payload}));
    Bytes pat = {0x00};
    tsb::append(pat, samplePAT(1));
    s.add(tsb::packet({.pid = 0, .pusi = true, .cc = 1, .hasAdaptation = true,
                       .adaptation = {0x00, 0xFF, 0xFF, 0xFF}, .payload = pat}));
    uint8_t cc = 0;
    s.add(tsb::packetize(samplePrograms()[1].pmtPID, samplePMT(samplePrograms()[1]), cc));
    return s.bytes;
}

std::vector<Seed> packetSeeds() {
    Bytes stream = multiProgramStream(1);
    std::vector<Seed> seeds;
    for (size_t i = 0; i * 188 < stream.size(); ++i) seeds.push_back({"stream_" + std::to_string(i), slice(stream, i, 1)});
    for (uint8_t length : {0, 1, 7, 182, 183}) {
        tsb::Packet p{.pid = 0x0101, .hasAdaptation = true, .hasPayload = length < 183};
        p.adaptation.assign(length, 0xFF);
        if (length > 0) p.adaptation[0] = 0x00;
        seeds.push_back({"af_" + std::to_string(length), tsb::packet(p)});
    }
    seeds.push_back({"af_full", tsb::packet({.pid = 0x0101, .hasAdaptation = true,
                                             .adaptation = fullAdaptation()})});
    // A video PES of each codec, its last start code cut by the packet boundary.
    const Bytes pesHeader = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00};
    const std::pair<const char*, Bytes> codecs[] = {
        {"h264", {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x06, 0x06, 0x01, 0x80, 0x80, 0, 0, 1, 0x41}},
        {"hevc", {0, 0, 1, 0x40, 1, 0, 0, 1, 0x42, 1, 0, 0, 1, 0x44, 1, 0, 0, 1, 0x26, 1}},
        {"mpeg2", {0, 0, 1, 0xB8, 0, 0, 0, 0, 1, 0xB3, 0x2D}},
    };
    for (const auto& [name, stream] : codecs) {
        Bytes first(stream.begin(), stream.end() - 2), second(stream.end() - 2, stream.end());
        seeds.push_back({std::string("pes_") + name,
                         tsb::concat({tsb::packetEndingWith({.pid = 0x0101, .pusi = true,
                                                             .payload = tsb::concat({pesHeader, first})}),
                                      tsb::packetEndingWith({.pid = 0x0101, .cc = 1, .payload = second})})});
    }
    return seeds;
}

// Two programs cut at events: H.264 pictures (an access point every sixth,
// each picture's first packet with a PCR), audio that starts a PES every
// other picture, a sparse stream every 25 pictures, and program 1's present
// event changing every 20 pictures, announced between access points.
Bytes eventStream() {
    constexpr int kPictures = 120;
    tsb::Stream188 s;
    for (int picture = 0; picture < kPictures; ++picture) {
        if (picture % 10 == 0) {
            s.pat({{1, 0x100}, {2, 0x200}});
            for (uint16_t p : {1, 2}) {
                const uint16_t base = uint16_t(p << 8);
                s.section(base, tsb::pmtSection(p, base | 1, {}, {{0x1B, uint16_t(base | 1), {}}, {0x0F, uint16_t(base | 2), {}},
                                                                  {0x06, uint16_t(base | 3), {}}}));
            }
        }
        if (picture % 20 == 3) s.section(0x12, tsb::presentEventSection(1, uint8_t(picture / 20), picture / 20 + 1));
        for (uint16_t p : {1, 2}) {
            const uint16_t video = uint16_t(p << 8 | 1);
            Bytes adaptation = tsb::pcrAdaptation(uint64_t(picture) * 3600, 0);
            if (picture % 6 == 0) adaptation[0] |= 0x40;  // random_access_indicator
            s.add(tsb::packet({.pid = video, .pusi = true, .cc = s.cc[video]++, .hasAdaptation = true, .adaptation = adaptation,
                               .payload = {0, 0, 1, 0xE0, 0, 0, 0x80, 0, 0, 0, 0, 1, 0x65}}));
            s.cc[video] &= 15;
            s.es(video);
            for (uint16_t pid : {uint16_t(p << 8 | 2), uint16_t(p << 8 | 3)}) {
                const bool starts = pid % 2 == 0 ? picture % 2 == 0 : picture % 25 == 0;
                if (starts) s.add(tsb::packet({.pid = pid, .pusi = true, .cc = s.cc[pid]++, .payload = {0, 0, 1, 0xC0, 0, 0}}));
                if (!starts) s.es(pid);
                s.cc[pid] &= 15;
            }
        }
    }
    return s.bytes;
}

// What a guide reads: a DVB EIT schedule event with a short, two extended
// and a content descriptor; ATSC's MGT (EIT-0 on 0x1D00, ETT-0 on 0x1E00),
// a VCT that makes source 5 program 1, an STT, an EIT-0 event and its ETT.
Bytes guideStream() {
    const Bytes title = {'e', 'n', 'g', 4, 'N', 'e', 'w', 's', 2, 'O', 'k'};
    const Bytes extended = {0x01, 'e', 'n', 'g', 6, 1, 'A', 3, 'B', 'o', 'b', 0};
    Bytes descriptors = tsb::concat({tsb::descriptor(0x4D, title), tsb::descriptor(0x4E, extended),
                                     tsb::descriptor(0x4E, {0x11, 'e', 'n', 'g', 0, 2, 'E', 'd'}),
                                     tsb::descriptor(0x54, {0x23, 0x00, 0xF1, 0x00})});
    const Bytes event = tsb::concat({{0x00, 0x01, 0xEB, 0xE0, 0x21, 0x00, 0x00, 0x00, 0x30, 0x00,
                                      uint8_t(0x80 | descriptors.size() >> 8), uint8_t(descriptors.size())},
                                     descriptors});
    const Bytes mss = {1, 'e', 'n', 'g', 1, 0, 0, 4, 'N', 'e', 'w', 's'};
    const Bytes table = {0xE0, 0, 0, 0, 0, 0xF0, 0x00};
    tsb::Stream188 s;
    s.pat({{1, 0x100}});
    s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}));
    s.section(0x12, tsb::section(0x50, 1, 0, tsb::concat({{0, 1, 0, 1, 0, 0x50}, event})));
    s.section(0x1FFB, tsb::section(0xC7, 0, 0, tsb::concat({{0, 0, 2, 0x01, 0x00, 0xFD, 0x00}, table,
                                                             {0x02, 0x00, 0xFE, 0x00}, table, {0xF0, 0x00}})));
    s.section(0x1FFB, tsb::section(0xC8, 1, 0, {0, 1, 0, 'K', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x1C, 0x01,
                                                0x04, 0, 0, 0, 0, 0, 1, 0, 1, 0x0D, 0xC2, 0, 5, 0xFC, 0x00, 0xFC, 0x00}));
    s.section(0x1FFB, tsb::section(0xCD, 0, 0, {0, 0x53, 0x1F, 0x6B, 0x52, 18, 0x60, 0x00}));
    s.section(0x1D00, tsb::section(0xCB, 5, 0, tsb::concat({{0, 1, 0xC0, 0x01, 0x53, 0x1F, 0x6B, 0x52, 0xD0, 0x07,
                                                             0x08, uint8_t(mss.size())}, mss, {0xF0, 0x00}})));
    s.section(0x1E00, tsb::section(0xCC, 0, 0, tsb::concat({{0, 0x00, 0x05, 0x00, 0x06}, mss})));
    return s.bytes;
}

std::vector<Seed> streamSeeds() {
    Bytes two = multiProgramStream(2);
    return {
        {"multi_program", multiProgramStream(1)},
        {"multi_program_twice", two},
        {"pmt_changes", pmtChangeStream()},
        {"packed_sections", packedSections()},
        {"psi_only", slice(two, 0, 8)},
        {"cut_mid_packet", Bytes(two.begin(), two.begin() + 5 * 188 + 100)},
        {"event_cuts", eventStream()},
        {"guide", guideStream()},
    };
}

bool makeDir(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

bool writeSeeds(const std::string& dir, const std::vector<Seed>& seeds) {
    if (!makeDir(dir)) return false;
    for (const Seed& seed : seeds) tsb::writeFile(dir + "/" + seed.name, seed.bytes);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: make_seeds DIR\n", stderr);
        return 2;
    }
    std::string dir = argv[1];
    std::vector<Seed> streams = streamSeeds();
    if (!makeDir(dir) || !writeSeeds(dir + "/packet", packetSeeds()) || !writeSeeds(dir + "/sections", streams) ||
        !writeSeeds(dir + "/drivers", streams)) {
        std::fprintf(stderr, "make_seeds: cannot create the corpus folders under %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
