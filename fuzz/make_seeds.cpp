// make_seeds: writes the seed corpora of the fuzz targets, built by the
// project's own stream builder, into DIR/packet, DIR/sections and DIR/drivers.
//
//   make_seeds DIR
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/hostile/sample_streams.h"
#include "tests/support/stream_builder.h"

namespace {

using tsb::Bytes;

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
    tsb::append(payload, hostile::samplePAT());
    tsb::append(payload, hostile::sampleCAT());
    tsb::Stream188 s;
    s.add(tsb::packet({.pid = 0, .pusi = true, .payload = payload}));
    Bytes pat = {0x00};
    tsb::append(pat, hostile::samplePAT(1));
    s.add(tsb::packet({.pid = 0, .pusi = true, .cc = 1, .hasAdaptation = true,
                       .adaptation = {0x00, 0xFF, 0xFF, 0xFF}, .payload = pat}));
    uint8_t cc = 0;
    s.add(tsb::packetize(hostile::samplePrograms()[1].pmtPID, hostile::samplePMT(hostile::samplePrograms()[1]), cc));
    return s.bytes;
}

std::vector<Seed> packetSeeds() {
    Bytes stream = hostile::multiProgramStream(1);
    std::vector<Seed> seeds;
    for (size_t i = 0; i * 188 < stream.size(); ++i) seeds.push_back({"stream_" + std::to_string(i), slice(stream, i, 1)});
    for (uint8_t length : {0, 1, 7, 182, 183}) {
        tsb::Packet p{.pid = 0x0101, .hasAdaptation = true, .hasPayload = length < 183};
        p.adaptation.assign(length, 0xFF);
        if (length > 0) p.adaptation[0] = 0x00;
        seeds.push_back({"af_" + std::to_string(length), tsb::packet(p)});
    }
    seeds.push_back({"af_full", tsb::packet({.pid = 0x0101, .hasAdaptation = true,
                                             .adaptation = hostile::fullAdaptation()})});
    return seeds;
}

std::vector<Seed> streamSeeds() {
    Bytes two = hostile::multiProgramStream(2);
    return {
        {"multi_program", hostile::multiProgramStream(1)},
        {"multi_program_twice", two},
        {"pmt_changes", hostile::pmtChangeStream()},
        {"packed_sections", packedSections()},
        {"psi_only", slice(two, 0, 8)},
        {"cut_mid_packet", Bytes(two.begin(), two.begin() + 5 * 188 + 100)},
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
