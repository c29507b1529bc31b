// rivulet-sample: writes a multi-program transport stream to try the tools on.
//
//   rivulet-sample OUT.ts [MEBIBYTES] [PROGRAMS]
//   rivulet-sample --playable OUT.ts [PROGRAMS]
//
// The stream has a PAT with a network entry and PROGRAMS programs (3 by
// default), a CAT, and per program a PMT, a video and an audio stream. The
// first program is scrambled (a CA descriptor naming an ECM PID) and carries
// its PCR on a PID of its own; the others carry the PCR in their video. The
// first program's PMT is long enough to span two packets. PSI repeats every
// 40 packets. MEBIBYTES (default 2) sets the approximate size. Its payloads
// are filler bytes that no player decodes.
//
// --playable writes instead a stream that plays: PROGRAMS programs (3 by
// default, 16 at most), each 4 s of an MPEG-2 test pattern of its own and a tone of its
// own, named by an SDT and given an EIT present event (playable_sample.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rivulet/ts.h"
#include "tools/playable_sample.h"
#include "tools/stream_builder.h"

namespace {

using tsb::Bytes;

constexpr uint16_t kNetworkPID = 0x0010;
constexpr uint16_t kECMPID = 0x0600;
constexpr uint16_t kEMMPID = 0x0700;
constexpr uint16_t kOwnPCRPID = 0x01F0;
constexpr uint16_t kCASystem = 0x0B00;
constexpr int kPSIInterval = 40;

uint16_t pmtPID(int p) { return uint16_t(0x0100 + 0x10 * p); }
uint16_t videoPID(int p) { return uint16_t(0x0200 + 0x10 * p); }
uint16_t audioPID(int p) { return uint16_t(0x0201 + 0x10 * p); }

Bytes pmt(int p) {
    Bytes videoInfo;
    if (p == 0) {
        // A registration descriptor with a long tail pushes this PMT past one packet.
        Bytes body = {'R', 'V', 'L', 'T'};
        body.resize(200, 0x00);
        videoInfo = tsb::descriptor(0x05, body);
    }
    return tsb::pmtSection(uint16_t(p + 1), p == 0 ? kOwnPCRPID : videoPID(p),
                           p == 0 ? tsb::caDescriptor(kCASystem, kECMPID) : Bytes{},
                           {{0x1B, videoPID(p), videoInfo}, {0x0F, audioPID(p), tsb::descriptor(0x0A, {'e', 'n', 'g', 0})}});
}

// Writes packets with a continuity counter per PID that advances on every
// packet with payload.
class Writer {
public:
    explicit Writer(FILE* out) : out_(out) {}

    void section(uint16_t pid, const Bytes& s) {
        for (const Bytes& packet : tsb::packetize(pid, s, counters_[pid])) emit(packet);
    }

    // A packet of `pid` filled with the PID's low byte; a PCR, when asked
    // for, in an adaptation field that fills the packet when there is no payload.
    void es(uint16_t pid, bool withPCR = false, uint64_t pcrBase = 0, bool payload = true) {
        tsb::Packet p{.pid = pid, .cc = counters_[pid], .hasAdaptation = withPCR, .hasPayload = payload};
        if (withPCR) p.adaptation = tsb::pcrAdaptation(pcrBase, 0, payload ? 0 : 176);
        if (payload) {
            p.payload.assign(184 - (withPCR ? 8 : 0), uint8_t(pid));
            counters_[pid] = (counters_[pid] + 1) & 0x0F;
        }
        emit(tsb::packet(p));
    }

    uint64_t written = 0;

private:
    void emit(const Bytes& packet) {
        std::fwrite(packet.data(), 1, packet.size(), out_);
        written += packet.size();
    }

    FILE* out_;
    uint8_t counters_[TS_PID_COUNT] = {};
};

constexpr const char* kUsage =
    "Usage: rivulet-sample OUT.ts [MEBIBYTES] [PROGRAMS]\n"
    "       rivulet-sample --playable OUT.ts [PROGRAMS]\n"
    "The first form writes filler payloads (default 2 MiB, 3 programs); --playable\n"
    "writes 4 s of a test pattern and a tone per program (default 3, at most 16)\n"
    "that players play.\n";

int writePlayable(const char* path, int programs) {
    if (programs < 1 || programs > tsb::kPlayableMaxPrograms) {
        std::fprintf(stderr, "rivulet-sample: --playable PROGRAMS must be 1 to %d\n", tsb::kPlayableMaxPrograms);
        return 2;
    }
    FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::fprintf(stderr, "rivulet-sample: cannot write %s\n", path);
        return 1;
    }
    bool ok = tsb::writePlayableSample(out, programs);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) std::fprintf(stderr, "rivulet-sample: write to %s failed\n", path);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--playable") == 0)
        return writePlayable(argv[2], argc > 3 ? std::atoi(argv[3]) : 3);
    if (argc < 2 || std::strcmp(argv[1], "--playable") == 0) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    double mebibytes = argc > 2 ? std::atof(argv[2]) : 2.0;
    int programs = argc > 3 ? std::atoi(argv[3]) : 3;
    if (programs < 1 || programs > 40 || mebibytes <= 0) {
        std::fprintf(stderr, "rivulet-sample: PROGRAMS must be 1 to 40, MEBIBYTES above 0\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "rivulet-sample: cannot write %s\n", argv[1]);
        return 1;
    }
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);

    std::vector<tsb::Program> entries = {{0, kNetworkPID}};
    for (int p = 0; p < programs; ++p) entries.push_back({uint16_t(p + 1), pmtPID(p)});
    const Bytes pat = tsb::patSection(1, 0, entries);
    const Bytes cat = tsb::catSection(tsb::caDescriptor(kCASystem, kEMMPID));
    std::vector<Bytes> pmts;
    for (int p = 0; p < programs; ++p) pmts.push_back(pmt(p));

    Writer w(out);
    const uint64_t target = uint64_t(mebibytes * 1048576.0);
    for (uint64_t tick = 0; w.written < target; ++tick) {
        if (tick % kPSIInterval == 0) {
            w.section(TS_PID_PAT, pat);
            w.section(TS_PID_CAT, cat);
            for (int p = 0; p < programs; ++p) w.section(pmtPID(p), pmts[p]);
            w.es(kECMPID);
            w.es(kEMMPID);
            w.es(kOwnPCRPID, true, tick * 300, false);
        }
        for (int p = 0; p < programs; ++p) {
            w.es(videoPID(p), p != 0 && tick % 10 == 0, tick * 300);
            w.es(videoPID(p));
            w.es(audioPID(p));
        }
        w.es(TS_PID_NULL);
    }
    bool ok = std::fclose(out) == 0;
    if (!ok) std::fprintf(stderr, "rivulet-sample: write to %s failed\n", argv[1]);
    return ok ? 0 : 1;
}
