#include "tests/support/streams.h"

#include <algorithm>
#include <cstdio>

uint16_t pidAt(const tsb::Bytes& bytes, size_t at) { return uint16_t((bytes[at + 1] & 0x1F) << 8 | bytes[at + 2]); }

std::vector<tsb::Bytes> packetsOf(const tsb::Bytes& bytes, uint16_t pid) {
    std::vector<tsb::Bytes> packets;
    for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        if (pidAt(bytes, at) == pid) packets.emplace_back(bytes.begin() + long(at), bytes.begin() + long(at + 188));
    }
    return packets;
}

tsb::Bytes framed(const tsb::Bytes& stream, const tsb::Bytes& prefix, const tsb::Bytes& suffix, const tsb::Bytes& junk) {
    tsb::Bytes out = junk;
    for (size_t at = 0; at < stream.size(); at += 188) {
        tsb::append(out, tsb::concat({prefix, tsb::packetsAt(stream, {at / 188}), suffix}));
        if (at / 188 % 7 == 6) tsb::append(out, junk);
    }
    return out;
}

std::string crcHex(const tsb::Bytes& s) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X", s[s.size() - 4], s[s.size() - 3], s[s.size() - 2], s.back());
    return text;
}

tsb::Bytes pcrPacket(uint16_t pid, uint64_t base, uint16_t extension, uint8_t cc) {
    return tsb::packet({.pid = pid, .cc = cc, .hasAdaptation = true, .hasPayload = false,
                        .adaptation = tsb::pcrAdaptation(base, extension, 176)});
}

tsb::Bytes sdtSection(const std::vector<std::pair<uint16_t, std::string>>& services, uint16_t stream) {
    tsb::Bytes body = {0x00, 0x01, 0xFF};
    for (const auto& [id, name] : services) {
        tsb::Bytes d = tsb::descriptor(0x48, tsb::concat({{0x01, 0x00, uint8_t(name.size())}, tsb::Bytes(name.begin(), name.end())}));
        tsb::append(body, tsb::concat({{uint8_t(id >> 8), uint8_t(id), 0xFC, 0xF0, uint8_t(d.size())}, d}));
    }
    return tsb::section(0x42, stream, 0, body);
}

TS_PreSection sectionSlot(const tsb::Bytes& section) {
    TS_PreSection slot{};
    std::copy(section.begin(), section.end(), slot.body);
    slot.complete = 1;
    slot.received_length = slot.section_total_length = uint16_t(section.size());
    return slot;
}

tsb::Stream188 streamOf(const std::vector<Piece>& pieces) {
    tsb::Stream188 s;
    for (const Piece& p : pieces) {
        if (p.pid == kWhole) s.add(p.bytes);
        else if (p.bytes.empty()) s.es(p.pid);
        else s.section(p.pid, p.bytes);
    }
    return s;
}
