// rivulet-sample: writes a multi-program transport stream to try the tools on.
//
//   rivulet-sample OUT.ts [MEBIBYTES] [PROGRAMS]
//
// The stream has a PAT with a network entry and PROGRAMS programs (3 by
// default), a CAT, and per program a PMT, a video and an audio stream. The
// first program is scrambled (a CA descriptor naming an ECM PID) and carries
// its PCR on a PID of its own; the others carry the PCR in their video. The
// first program's PMT is long enough to span two packets. PSI repeats every
// 40 packets. MEBIBYTES (default 2) sets the approximate size.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "rivulet/ts.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kNetworkPID = 0x0010;
constexpr uint16_t kECMPID = 0x0600;
constexpr uint16_t kEMMPID = 0x0700;
constexpr int kPSIInterval = 40;

uint16_t pmtPID(int p) { return uint16_t(0x0100 + 0x10 * p); }
uint16_t videoPID(int p) { return uint16_t(0x0200 + 0x10 * p); }
uint16_t audioPID(int p) { return uint16_t(0x0201 + 0x10 * p); }
uint16_t ownPCRPID = 0x01F0;

void put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

Bytes section(uint8_t tableId, uint16_t extension, const Bytes& body) {
    Bytes s = {tableId, 0, 0};
    uint16_t length = uint16_t(5 + body.size() + 4);
    s[1] = uint8_t(0xB0 | (length >> 8));
    s[2] = uint8_t(length);
    put16(s, extension);
    s.push_back(0xC1);  // version 0, current
    s.push_back(0);
    s.push_back(0);
    s.insert(s.end(), body.begin(), body.end());
    uint32_t crc = GetCRC32(0xFFFFFFFF, s.data(), s.size());
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(uint8_t(crc >> shift));
    return s;
}

Bytes caDescriptor(uint16_t system, uint16_t pid) {
    return {0x09, 4, uint8_t(system >> 8), uint8_t(system), uint8_t(0xE0 | (pid >> 8)), uint8_t(pid)};
}

Bytes pmt(int p) {
    Bytes body;
    uint16_t pcr = p == 0 ? ownPCRPID : videoPID(p);
    put16(body, uint16_t(0xE000 | pcr));
    Bytes info = p == 0 ? caDescriptor(0x0B00, kECMPID) : Bytes{};
    put16(body, uint16_t(0xF000 | info.size()));
    body.insert(body.end(), info.begin(), info.end());
    Bytes videoInfo, audioInfo = {0x0A, 4, 'e', 'n', 'g', 0};
    if (p == 0) {
        // A registration descriptor with a long tail pushes this PMT past one packet.
        videoInfo = {0x05, 200, 'R', 'V', 'L', 'T'};
        videoInfo.resize(202, 0x00);
    }
    body.push_back(0x1B);
    put16(body, uint16_t(0xE000 | videoPID(p)));
    put16(body, uint16_t(0xF000 | videoInfo.size()));
    body.insert(body.end(), videoInfo.begin(), videoInfo.end());
    body.push_back(0x0F);
    put16(body, uint16_t(0xE000 | audioPID(p)));
    put16(body, uint16_t(0xF000 | audioInfo.size()));
    body.insert(body.end(), audioInfo.begin(), audioInfo.end());
    return section(0x02, uint16_t(p + 1), body);
}

class Writer {
public:
    explicit Writer(FILE* out) : out_(out) {}

    void sectionPackets(uint16_t pid, const Bytes& s) {
        size_t pos = 0;
        bool first = true;
        while (first || pos < s.size()) {
            uint8_t packet[TS_PACKET_SIZE];
            size_t at = header(packet, pid, first, false);
            if (first) packet[at++] = 0;  // pointer_field
            while (at < TS_PACKET_SIZE) packet[at++] = pos < s.size() ? s[pos++] : 0xFF;
            emit(packet);
            first = false;
        }
    }

    void esPacket(uint16_t pid, bool withPCR, uint64_t pcrBase, bool payload = true) {
        uint8_t packet[TS_PACKET_SIZE];
        size_t at = header(packet, pid, false, withPCR, payload);
        if (withPCR) {
            uint8_t af[] = {uint8_t(payload ? 7 : 183), 0x10, uint8_t(pcrBase >> 25), uint8_t(pcrBase >> 17),
                            uint8_t(pcrBase >> 9), uint8_t(pcrBase >> 1), uint8_t((pcrBase & 1) << 7 | 0x7E), 0};
            for (uint8_t b : af) packet[at++] = b;
        }
        uint8_t fill = uint8_t(pid);
        while (at < TS_PACKET_SIZE) packet[at++] = payload ? fill : 0xFF;
        emit(packet);
    }

    uint64_t written = 0;

private:
    size_t header(uint8_t* packet, uint16_t pid, bool start, bool adaptation, bool payload = true) {
        packet[0] = TS_SYNC_BYTE;
        packet[1] = uint8_t((start ? 0x40 : 0) | (pid >> 8));
        packet[2] = uint8_t(pid);
        uint8_t afc = uint8_t((adaptation ? 2 : 0) | (payload ? 1 : 0));
        packet[3] = uint8_t(afc << 4 | (payload ? counters_[pid]++ & 0x0F : counters_[pid] & 0x0F));
        return 4;
    }

    void emit(const uint8_t* packet) {
        std::fwrite(packet, 1, TS_PACKET_SIZE, out_);
        written += TS_PACKET_SIZE;
    }

    FILE* out_;
    uint8_t counters_[TS_PID_COUNT] = {};
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: rivulet-sample OUT.ts [MEBIBYTES] [PROGRAMS]\n");
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

    Bytes patBody = {0, 0, uint8_t(0xE0 | (kNetworkPID >> 8)), uint8_t(kNetworkPID)};
    for (int p = 0; p < programs; ++p) {
        put16(patBody, uint16_t(p + 1));
        put16(patBody, uint16_t(0xE000 | pmtPID(p)));
    }
    Bytes pat = section(0x00, 1, patBody);
    Bytes cat = section(0x01, 0xFFFF, caDescriptor(0x0B00, kEMMPID));
    std::vector<Bytes> pmts;
    for (int p = 0; p < programs; ++p) pmts.push_back(pmt(p));

    Writer w(out);
    const uint64_t target = uint64_t(mebibytes * 1048576.0);
    uint64_t tick = 0;
    while (w.written < target) {
        if (tick % kPSIInterval == 0) {
            w.sectionPackets(TS_PID_PAT, pat);
            w.sectionPackets(TS_PID_CAT, cat);
            for (int p = 0; p < programs; ++p) w.sectionPackets(pmtPID(p), pmts[p]);
            w.esPacket(kECMPID, false, 0);
            w.esPacket(kEMMPID, false, 0);
            w.esPacket(ownPCRPID, true, tick * 300, false);
        }
        for (int p = 0; p < programs; ++p) {
            w.esPacket(videoPID(p), p != 0 && tick % 10 == 0, tick * 300);
            w.esPacket(videoPID(p), false, 0);
            w.esPacket(audioPID(p), false, 0);
        }
        w.esPacket(TS_PID_NULL, false, 0);
        ++tick;
    }
    bool ok = std::fclose(out) == 0;
    if (!ok) std::fprintf(stderr, "rivulet-sample: write to %s failed\n", argv[1]);
    return ok ? 0 : 1;
}
