// rivulet-chart-sample: writes the 4-program stream of the README's chart:
// services with names, video whose bitrate varies over 10 s, a PCR every
// 40 ms per program, and packets dropped at five places.
//
//   rivulet-chart-sample OUT.ts
#include <cstdio>
#include <string>

#include "tools/stream_builder.h"

namespace {

using tsb::Bytes;

constexpr int kPrograms = 4;
constexpr int kTicks = 250;  // of 40 ms
constexpr const char* kNames[kPrograms] = {"News 24", "Sport", "Movies", "Radio Plus"};

struct Drop {
    int program;
    int tick;
    uint8_t lost;
};
constexpr Drop kDrops[] = {{0, 75, 3}, {1, 120, 1}, {1, 125, 2}, {3, 150, 5}, {2, 200, 1}};

uint16_t pmtPID(int p) { return uint16_t(0x100 * (p + 1)); }
uint16_t videoPID(int p) { return uint16_t(pmtPID(p) + 0x11); }

// Video packets per 40 ms: a level of its own per program, and a shape over time.
int videoPackets(int p, int tick) {
    constexpr int kLevels[kPrograms] = {110, 70, 45, 8};
    int second = tick / 25;
    int shapes[kPrograms] = {second * 4, (second / 2) % 2 * 30, (tick % 50) / 5, second % 3};
    return kLevels[p] + shapes[p];
}

Bytes sdt() {
    Bytes body = {0x00, 0x01, 0xFF};
    for (int p = 0; p < kPrograms; ++p) {
        std::string name = kNames[p];
        Bytes d = tsb::descriptor(0x48, tsb::concat({{0x01, 0x00, uint8_t(name.size())}, Bytes(name.begin(), name.end())}));
        tsb::append(body, {0x00, uint8_t(p + 1), 0xFC, 0xF0, uint8_t(d.size())});
        tsb::append(body, d);
    }
    return tsb::section(0x42, 1, 0, body);
}

void addTick(tsb::Stream188& s, int tick) {
    if (tick % 10 == 0) {
        std::vector<tsb::Program> programs;
        for (int p = 0; p < kPrograms; ++p) programs.push_back({uint16_t(p + 1), pmtPID(p)});
        s.pat(programs);
        for (int p = 0; p < kPrograms; ++p) {
            s.section(pmtPID(p), tsb::pmtSection(uint16_t(p + 1), videoPID(p), {}, {{0x1B, videoPID(p), {}}}));
        }
        s.section(0x11, sdt());
    }
    for (const Drop& d : kDrops) {
        if (d.tick == tick) s.cc[videoPID(d.program)] = uint8_t((s.cc[videoPID(d.program)] + d.lost) & 15);
    }
    for (int p = 0; p < kPrograms; ++p) {
        s.add(tsb::packet({.pid = videoPID(p), .hasAdaptation = true, .hasPayload = false,
                           .adaptation = tsb::pcrAdaptation(uint64_t(tick) * 3600, 0, 176)}));
        for (int i = 0; i < videoPackets(p, tick); ++i) s.es(videoPID(p));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: rivulet-chart-sample OUT.ts\n");
        return 2;
    }
    tsb::Stream188 s;
    for (int tick = 0; tick < kTicks; ++tick) addTick(s, tick);
    tsb::writeFile(argv[1], s.bytes);
    return 0;
}
