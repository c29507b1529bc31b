#include "tools/stream_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tsb {

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) append(out, p);
    return out;
}

void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

Bytes packet(const Packet& p) {
    Bytes out(188, 0xFF);
    out[0] = 0x47;
    out[1] = uint8_t((p.tei ? 0x80 : 0) | (p.pusi ? 0x40 : 0) | (p.priority ? 0x20 : 0) |
                     ((p.pid >> 8) & 0x1F));
    out[2] = uint8_t(p.pid & 0xFF);
    uint8_t afc = uint8_t((p.hasAdaptation ? 2 : 0) | (p.hasPayload ? 1 : 0));
    out[3] = uint8_t((p.scrambling & 3) << 6 | afc << 4 | (p.cc & 0x0F));
    size_t pos = 4;
    if (p.hasAdaptation) {
        if (p.adaptation.size() > 183) throw std::runtime_error("adaptation field too long");
        out[pos++] = uint8_t(p.adaptation.size());
        std::copy(p.adaptation.begin(), p.adaptation.end(), out.begin() + pos);
        pos += p.adaptation.size();
    }
    if (pos + p.payload.size() > 188) throw std::runtime_error("payload too long");
    std::copy(p.payload.begin(), p.payload.end(), out.begin() + pos);
    return out;
}

Bytes packetEndingWith(Packet p, uint8_t flags) {
    p.hasAdaptation = p.payload.size() < 184;
    if (p.payload.size() < 183) {
        p.adaptation = Bytes(182 - p.payload.size(), 0xFF);
        p.adaptation.insert(p.adaptation.begin(), flags);
    }
    return packet(p);
}

Bytes pcrAdaptation(uint64_t base, uint16_t extension, size_t stuffing) {
    Bytes af = {0x10,
                uint8_t(base >> 25),
                uint8_t(base >> 17),
                uint8_t(base >> 9),
                uint8_t(base >> 1),
                uint8_t((base & 1) << 7 | 0x7E | ((extension >> 8) & 1)),
                uint8_t(extension & 0xFF)};
    af.insert(af.end(), stuffing, 0xFF);
    return af;
}

Bytes section(uint8_t tableId, uint16_t extension, uint8_t version, const Bytes& body) {
    return numberedSection(tableId, extension, version, 0, 0, body);
}

Bytes numberedSection(uint8_t tableId, uint16_t extension, uint8_t version, uint8_t number, uint8_t last,
                      const Bytes& body) {
    size_t length = 5 + body.size() + 4;
    Bytes out = {tableId,
                 uint8_t(0xB0 | ((length >> 8) & 0x0F)),
                 uint8_t(length & 0xFF),
                 uint8_t(extension >> 8),
                 uint8_t(extension & 0xFF),
                 uint8_t(0xC0 | (version & 0x1F) << 1 | 1),
                 number,
                 last};
    append(out, body);
    uint32_t crc = crc32(out.data(), out.size());
    out.push_back(uint8_t(crc >> 24));
    out.push_back(uint8_t(crc >> 16));
    out.push_back(uint8_t(crc >> 8));
    out.push_back(uint8_t(crc));
    return out;
}

Bytes numbered(Bytes section, uint8_t number, uint8_t last, bool current) {
    section[5] = uint8_t((section[5] & 0xFE) | current), section[6] = number, section[7] = last;
    uint32_t crc = crc32(section.data(), section.size() - 4);
    for (int i = 0; i < 4; ++i) section[section.size() - 4 + i] = uint8_t(crc >> (24 - 8 * i));
    return section;
}

Bytes patSection(uint16_t tsid, uint8_t version, const std::vector<Program>& programs) {
    Bytes body;
    for (const Program& p : programs) {
        append(body, {uint8_t(p.number >> 8), uint8_t(p.number & 0xFF),
                      uint8_t(0xE0 | (p.pid >> 8)), uint8_t(p.pid & 0xFF)});
    }
    return section(0x00, tsid, version, body);
}

Bytes descriptor(uint8_t tag, const Bytes& body) {
    Bytes out = {tag, uint8_t(body.size())};
    append(out, body);
    return out;
}

Bytes caDescriptor(uint16_t system, uint16_t pid, const Bytes& priv) {
    Bytes body = {uint8_t(system >> 8), uint8_t(system & 0xFF), uint8_t(0xE0 | (pid >> 8)),
                  uint8_t(pid & 0xFF)};
    append(body, priv);
    return descriptor(0x09, body);
}

Bytes pmtSection(uint16_t program, uint16_t pcrPid, const Bytes& programDescriptors,
                 const std::vector<Stream>& streams, uint8_t version) {
    Bytes body = {uint8_t(0xE0 | (pcrPid >> 8)), uint8_t(pcrPid & 0xFF),
                  uint8_t(0xF0 | (programDescriptors.size() >> 8)),
                  uint8_t(programDescriptors.size() & 0xFF)};
    append(body, programDescriptors);
    for (const Stream& s : streams) {
        append(body, {s.type, uint8_t(0xE0 | (s.pid >> 8)), uint8_t(s.pid & 0xFF),
                      uint8_t(0xF0 | (s.descriptors.size() >> 8)),
                      uint8_t(s.descriptors.size() & 0xFF)});
        append(body, s.descriptors);
    }
    return section(0x02, program, version, body);
}

Bytes catSection(const Bytes& descriptors, uint8_t version) {
    return section(0x01, 0xFFFF, version, descriptors);
}

Bytes presentEventSection(uint16_t service, uint8_t version, int eventId) {
    Bytes body = {0x00, 0x01, 0x20, 0xFA, 0x00, 0x4E};  // transport stream, network, last section and table
    if (eventId >= 0) {
        // MJD 61382, 20:00:00, 01:30:00 (BCD), running, no descriptors.
        append(body, {uint8_t(eventId >> 8), uint8_t(eventId), 0xEF, 0xC6, 0x20, 0, 0, 0x01, 0x30, 0, 0x80, 0});
    }
    return numberedSection(0x4E, service, version & 0x1F, 0, 1, body);  // section 0 of the present and following
}

std::vector<Bytes> packetize(uint16_t pid, const Bytes& sectionBytes, uint8_t& cc) {
    std::vector<Bytes> out;
    size_t pos = 0;
    bool first = true;
    while (first || pos < sectionBytes.size()) {
        Packet p;
        p.pid = pid;
        p.pusi = first;
        p.cc = cc;
        cc = (cc + 1) & 0x0F;
        size_t room = first ? 183 : 184;
        if (first) p.payload.push_back(0x00);
        size_t n = std::min(room, sectionBytes.size() - pos);
        p.payload.insert(p.payload.end(), sectionBytes.begin() + pos, sectionBytes.begin() + pos + n);
        pos += n;
        out.push_back(packet(p));
        first = false;
    }
    return out;
}

Bytes esPacket(uint16_t pid, uint8_t& cc, uint8_t fill) {
    Packet p;
    p.pid = pid;
    p.cc = cc;
    cc = (cc + 1) & 0x0F;
    p.payload.assign(184, fill);
    return packet(p);
}

Bytes psiPacket(uint16_t pid, uint8_t cc, const Bytes& sectionBytes) {
    return packet({.pid = pid, .pusi = true, .cc = cc, .payload = concat({{0x00}, sectionBytes})});
}

void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path) {
    Bytes data;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        uint8_t block[65536];
        for (size_t n; (n = std::fread(block, 1, sizeof block, in)) > 0;) data.insert(data.end(), block, block + n);
        std::fclose(in);
    }
    return data;
}

Bytes packetsAt(const Bytes& stream, const std::vector<size_t>& indices) {
    Bytes out;
    for (size_t i : indices) out.insert(out.end(), stream.begin() + i * 188, stream.begin() + (i + 1) * 188);
    return out;
}

Bytes Stream188::packets(const std::vector<size_t>& indices) const { return packetsAt(bytes, indices); }

std::string hex(const Bytes& data) {
    std::string s;
    char b[4];
    for (uint8_t v : data) {
        std::snprintf(b, sizeof b, "%02X ", v);
        s += b;
    }
    return s;
}

}  // namespace tsb
