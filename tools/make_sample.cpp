// rivulet-sample: writes a multi-program transport stream to try the tools on.
//
//   rivulet-sample [--packet-size N] OUT.ts [MEBIBYTES] [PROGRAMS]
//   rivulet-sample [--packet-size N] --playable [--changes] OUT.ts [PROGRAMS]
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
// own, named by an SDT and given an EIT present event (playable_sample.h);
// --changes has each program's present event, and every other program's PMT,
// change along the way.
//
// --packet-size 192 writes each packet behind a 4-byte TP_extra_header (M2TS),
// 204 with 16 bytes after it where a broadcast carries parity.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    "Usage: rivulet-sample [--packet-size N] OUT.ts [MEBIBYTES] [PROGRAMS]\n"
    "       rivulet-sample [--packet-size N] --playable [--changes] OUT.ts [PROGRAMS]\n"
    "The first form writes filler payloads (default 2 MiB, 3 programs); --playable\n"
    "writes 4 s of a test pattern and a tone per program (default 3, at most 16)\n"
    "that players play, --changes with present events and PMTs that change.\n"
    "--packet-size 192 writes M2TS packets, 204 packets with room for parity.\n";

constexpr int kMaxFillerPrograms = 40;
constexpr int kM2TSPacketSize = 192;
constexpr int kParityPacketSize = 204;
constexpr int kParityBytes = kParityPacketSize - int(TS_PACKET_SIZE);
// 27 MHz ticks between arrival time stamps: a packet's time at about 20 Mbit/s.
constexpr uint32_t kArrivalStep = 2030;
constexpr uint32_t kArrivalMask = 0x3FFFFFFF;

struct Options {
    bool playable = false;
    bool changes = false;
    int packetSize = int(TS_PACKET_SIZE);
    const char* path = nullptr;
    double mebibytes = 2.0;
    int programs = 3;
};

// Flags anywhere, then OUT.ts and the numbers in their order; an unknown
// flag is no file name.
bool parse(int argc, char** argv, Options& o) {
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--playable") == 0) o.playable = true;
        else if (std::strcmp(argv[i], "--changes") == 0) o.changes = true;
        else if (std::strcmp(argv[i], "--packet-size") == 0 && i + 1 < argc) o.packetSize = std::atoi(argv[++i]);
        else if (argv[i][0] == '-' && argv[i][1] != '\0') return false;
        else positional.push_back(argv[i]);
    }
    const size_t numbers = o.playable ? 1 : 2;
    if (positional.empty() || positional.size() > 1 + numbers || (o.changes && !o.playable)) return false;
    o.path = positional[0];
    if (o.playable && positional.size() > 1) o.programs = std::atoi(positional[1]);
    if (!o.playable && positional.size() > 1) o.mebibytes = std::atof(positional[1]);
    if (!o.playable && positional.size() > 2) o.programs = std::atoi(positional[2]);
    return true;
}

// Says on standard error what is out of range, if anything.
bool valid(const Options& o) {
    if (o.packetSize != int(TS_PACKET_SIZE) && o.packetSize != kM2TSPacketSize && o.packetSize != kParityPacketSize) {
        std::fprintf(stderr, "rivulet-sample: --packet-size must be 188, 192 or 204\n");
        return false;
    }
    if (o.playable && (o.programs < 1 || o.programs > tsb::kPlayableMaxPrograms)) {
        std::fprintf(stderr, "rivulet-sample: --playable PROGRAMS must be 1 to %d\n", tsb::kPlayableMaxPrograms);
        return false;
    }
    if (!o.playable && (o.programs < 1 || o.programs > kMaxFillerPrograms || o.mebibytes <= 0)) {
        std::fprintf(stderr, "rivulet-sample: PROGRAMS must be 1 to %d, MEBIBYTES above 0\n", kMaxFillerPrograms);
        return false;
    }
    return true;
}

void writeFiller(FILE* out, double mebibytes, int programs) {
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
}

// Copies the 188-byte packets of `in` to `out` in `size`-byte form: 192 with
// a TP_extra_header before each (copy permission 0, an arrival time stamp that
// advances), 204 with 16 bytes where parity would be after each.
bool repack(FILE* in, FILE* out, int size) {
    uint8_t packet[TS_PACKET_SIZE];
    const uint8_t parity[kParityBytes] = {};
    uint32_t arrival = 0;
    bool ok = true;
    while (std::fread(packet, 1, sizeof packet, in) == sizeof packet) {
        if (size == kM2TSPacketSize) {
            const uint8_t header[] = {uint8_t(arrival >> 24), uint8_t(arrival >> 16), uint8_t(arrival >> 8),
                                      uint8_t(arrival)};
            ok = std::fwrite(header, 1, sizeof header, out) == sizeof header && ok;
            arrival = (arrival + kArrivalStep) & kArrivalMask;
        }
        ok = std::fwrite(packet, 1, sizeof packet, out) == sizeof packet && ok;
        if (size == kParityPacketSize) ok = std::fwrite(parity, 1, sizeof parity, out) == sizeof parity && ok;
    }
    return ok && !std::ferror(in);
}

// The stream in 188-byte packets into `out`, or through a temporary file
// repacked to the packet size asked for.
bool writeStream(FILE* out, const Options& o) {
    FILE* packets = o.packetSize == int(TS_PACKET_SIZE) ? out : std::tmpfile();
    if (!packets) return false;
    bool ok = true;
    if (o.playable) ok = tsb::writePlayableSample(packets, o.programs, o.changes);
    else writeFiller(packets, o.mebibytes, o.programs);
    if (packets == out) return ok;
    std::rewind(packets);
    ok = repack(packets, out, o.packetSize) && ok;
    std::fclose(packets);
    return ok;
}

// The output, a regular file of its own: never through a link, never a
// FIFO or a device.
FILE* openOutput(const char* path) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* out = ::fdopen(fd, "wb");
    if (!out) ::close(fd);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    if (!valid(o)) return 2;
    FILE* out = openOutput(o.path);
    if (!out) {
        std::fprintf(stderr, "rivulet-sample: cannot write %s\n", o.path);
        return 1;
    }
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    bool ok = writeStream(out, o);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) std::fprintf(stderr, "rivulet-sample: write to %s failed\n", o.path);
    return ok ? 0 : 1;
}
