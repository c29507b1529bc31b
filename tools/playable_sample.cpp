#include "tools/playable_sample.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pattern_video.h"
#include "tools/stream_builder.h"
#include "tools/tone_audio.h"

namespace tsb {
namespace {

constexpr uint16_t kTransportStreamId = 1;
constexpr uint16_t kOriginalNetworkId = 0x20FA;  // as presentEventSection writes it
constexpr uint16_t kSDTPID = 0x0011;
constexpr uint16_t kEITPID = 0x0012;
constexpr uint8_t kSDTActual = 0x42;
constexpr uint8_t kServiceDescriptor = 0x48;
constexpr uint8_t kLanguageDescriptor = 0x0A;
constexpr uint8_t kDigitalTelevision = 0x01;
constexpr uint8_t kMPEG2Video = 0x02;
constexpr uint8_t kMPEG1Audio = 0x03;
constexpr uint8_t kVideoStreamId = 0xE0;
constexpr uint8_t kAudioStreamId = 0xC0;

constexpr int64_t kClock = 90000;  // PTS and PCR base ticks a second
constexpr int64_t kFrameTicks = kClock / 25;
constexpr int64_t kAudioFrameTicks = kClock * kToneSamplesPerFrame / kToneSampleRate;
constexpr int64_t kFirstPTS = kClock;
// Each unit is sent this long before it is presented: room for the decoder's
// buffer, far less than it holds.
constexpr int64_t kSendAhead = kClock * 3 / 10;
// DVB's limits are 100 ms for PAT and PMT and 2 s for SDT and EIT p/f.
constexpr int64_t kPSIInterval = kClock / 10;
constexpr int64_t kSIInterval = kClock;

uint16_t pmtPID(int p) { return uint16_t(0x0100 + 0x10 * p); }
uint16_t videoPID(int p) { return uint16_t(0x0200 + 0x10 * p); }
uint16_t audioPID(int p) { return uint16_t(0x0201 + 0x10 * p); }
uint16_t programNumber(int p) { return uint16_t(p + 1); }
int eventId(int p) { return 0x0100 + p; }

std::string serviceName(int p) {
    static const char* const kNames[] = {"Rivulet Bars", "Rivulet Blue", "Rivulet Red", "Rivulet Green"};
    return p < 4 ? kNames[p] : "Rivulet " + std::to_string(p + 1);
}

// A, C sharp, E, then lower notes, so that each program sounds apart.
double toneHertz(int p) {
    static const double kNotes[] = {440.0, 554.37, 659.25, 329.63, 392.0, 493.88};
    return kNotes[p % 6];
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes serviceDescriptor(const std::string& provider, const std::string& name) {
    Bytes body = {kDigitalTelevision, uint8_t(provider.size())};
    append(body, text(provider));
    body.push_back(uint8_t(name.size()));
    append(body, text(name));
    return descriptor(kServiceDescriptor, body);
}

Bytes sdtSection(int programs) {
    Bytes body = {uint8_t(kOriginalNetworkId >> 8), uint8_t(kOriginalNetworkId), 0xFF};
    for (int p = 0; p < programs; ++p) {
        Bytes descriptors = serviceDescriptor("Rivulet", serviceName(p));
        constexpr uint8_t kPresentFollowing = 0xFD;  // reserved bits, no schedule, EIT p/f
        constexpr uint8_t kRunning = 4 << 5;           // running, not scrambled
        append(body, {uint8_t(programNumber(p) >> 8), uint8_t(programNumber(p)), kPresentFollowing,
                      uint8_t(kRunning | descriptors.size() >> 8), uint8_t(descriptors.size())});
        append(body, descriptors);
    }
    return section(kSDTActual, kTransportStreamId, 0, body);
}

// Version 1 names another audio language: a PMT change.
Bytes pmt(int p, uint8_t version) {
    const Bytes language = version == 0 ? Bytes{'e', 'n', 'g', 0} : Bytes{'f', 'r', 'a', 0};
    return pmtSection(programNumber(p), videoPID(p), {},
                      {{kMPEG2Video, videoPID(p), {}},
                       {kMPEG1Audio, audioPID(p), descriptor(kLanguageDescriptor, language)}},
                      version);
}

// A PES packet with a PTS (no DTS: pictures are presented as decoded).
Bytes pes(uint8_t streamId, int64_t pts, const Bytes& payload) {
    constexpr size_t kHeaderTail = 3 + 5;  // flags, header length, PTS
    size_t length = kHeaderTail + payload.size();
    Bytes out = {0x00, 0x00, 0x01, streamId, uint8_t(length >> 8), uint8_t(length),
                 0x84,  // '10', not scrambled, data_alignment_indicator: a unit starts here
                 0x80,  // PTS only
                 0x05,
                 uint8_t(0x21 | (pts >> 29 & 0x0E)),
                 uint8_t(pts >> 22),
                 uint8_t(pts >> 14 | 1),
                 uint8_t(pts >> 7),
                 uint8_t(pts << 1 | 1)};
    append(out, payload);
    return out;
}

// Writes packets with a continuity counter per PID.
class Writer {
public:
    explicit Writer(std::FILE* out) : out_(out) {}

    void section(uint16_t pid, const Bytes& s) {
        for (const Bytes& packet : packetize(pid, s, counters_[pid])) emit(packet);
    }

    // `pesBytes` over packets of `pid`, a PCR in the first when `pcrBase` is
    // not negative, the last one's room filled by adaptation stuffing.
    void pesPackets(uint16_t pid, const Bytes& pesBytes, int64_t pcrBase) {
        size_t pos = 0;
        for (bool first = true; pos < pesBytes.size(); first = false) {
            Packet p{.pid = pid, .pusi = first, .cc = counters_[pid]};
            counters_[pid] = (counters_[pid] + 1) & 0x0F;
            bool withPCR = first && pcrBase >= 0;
            if (withPCR) p.adaptation = pcrAdaptation(uint64_t(pcrBase), 0);
            p.hasAdaptation = withPCR;
            size_t room = 184 - (withPCR ? 1 + p.adaptation.size() : 0);
            size_t n = std::min(room, pesBytes.size() - pos);
            if (n < room) stuff(p, room - n);
            p.payload.assign(pesBytes.begin() + long(pos), pesBytes.begin() + long(pos + n));
            pos += n;
            emit(packet(p));
        }
    }

    bool failed = false;

private:
    // Grows the adaptation field by `bytes`; a new field's length byte is one of them.
    static void stuff(Packet& p, size_t bytes) {
        if (!p.hasAdaptation) {
            p.hasAdaptation = true;
            if (--bytes == 0) return;
            p.adaptation.push_back(0x00);  // no flags
            --bytes;
        }
        p.adaptation.insert(p.adaptation.end(), bytes, 0xFF);
    }

    void emit(const Bytes& packet) {
        if (std::fwrite(packet.data(), 1, packet.size(), out_) != packet.size()) failed = true;
    }

    std::FILE* out_;
    uint8_t counters_[0x2000] = {};
};

// One access unit to send: a picture or an audio frame of a program.
struct Unit {
    int64_t pts;
    int program;
    bool video;
    int index;
};

std::vector<Unit> schedule(int programs) {
    std::vector<Unit> units;
    const int pictures = kPlayableSeconds * int(kClock / kFrameTicks);
    const int audioFrames = int((kPlayableSeconds * kClock + kAudioFrameTicks - 1) / kAudioFrameTicks);
    for (int p = 0; p < programs; ++p) {
        for (int i = 0; i < pictures; ++i) units.push_back({kFirstPTS + i * kFrameTicks, p, true, i});
        for (int i = 0; i < audioFrames; ++i) units.push_back({kFirstPTS + i * kAudioFrameTicks, p, false, i});
    }
    // In time order; at equal times pictures first, as their PCR leads.
    std::stable_sort(units.begin(), units.end(), [](const Unit& a, const Unit& b) {
        return a.pts != b.pts ? a.pts < b.pts : a.video > b.video;
    });
    return units;
}

// With changes, program p's present event gives way to the next at second
// 1 + p % 3, and every even program's PMT changes at second 2.
constexpr int64_t kPMTChange = 2 * kClock;
constexpr int kNextEvent = 0x1000;

int64_t eventChange(int p) { return (1 + p % 3) * kClock; }

// The tables, each sent again when its interval has passed.
class Tables {
public:
    Tables(int programs, bool changes) : programs_(programs), changes_(changes), sdt_(sdtSection(programs)) {
        std::vector<Program> entries;
        for (int p = 0; p < programs; ++p) entries.push_back({programNumber(p), pmtPID(p)});
        pat_ = patSection(kTransportStreamId, 0, entries);
    }

    void sendDue(Writer& w, int64_t now) {
        if (now >= nextPSI_) {
            w.section(0, pat_);
            for (int p = 0; p < programs_; ++p) {
                bool changed = changes_ && p % 2 == 0 && now >= kPMTChange;
                w.section(pmtPID(p), pmt(p, changed ? 1 : 0));
            }
            nextPSI_ = now + kPSIInterval;
        }
        if (now >= nextSI_) {
            w.section(kSDTPID, sdt_);
            for (int p = 0; p < programs_; ++p) {
                bool changed = changes_ && now >= eventChange(p);
                w.section(kEITPID, presentEventSection(programNumber(p), changed ? 1 : 0,
                                                       eventId(p) + (changed ? kNextEvent : 0)));
            }
            nextSI_ = now + kSIInterval;
        }
    }

private:
    int programs_;
    bool changes_;
    Bytes pat_, sdt_;
    int64_t nextPSI_ = 0, nextSI_ = 0;
};

}  // namespace

bool writePlayableSample(std::FILE* out, int programs, bool changes) {
    Writer w(out);
    Tables tables(programs, changes);
    for (const Unit& u : schedule(programs)) {
        int64_t sendTime = u.pts - kSendAhead;
        tables.sendDue(w, sendTime);
        if (u.video) {
            w.pesPackets(videoPID(u.program), pes(kVideoStreamId, u.pts, patternPicture(u.program, u.index)),
                         sendTime);
        } else {
            w.pesPackets(audioPID(u.program), pes(kAudioStreamId, u.pts, toneFrame(toneHertz(u.program), u.index)),
                         -1);
        }
    }
    return !w.failed;
}

}  // namespace tsb
