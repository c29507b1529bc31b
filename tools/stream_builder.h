// Builds transport stream bytes byte by byte, for the tests, the sample
// generator and the fuzz seeds: packets with adaptation fields and PCRs, PSI
// sections with their CRC, descriptor loops, and sections spread over
// several packets behind a pointer_field.
#ifndef RIVULET_TOOLS_STREAM_BUILDER_H
#define RIVULET_TOOLS_STREAM_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

namespace tsb {

using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts);
void append(Bytes& to, const Bytes& from);

// CRC-32/MPEG-2, computed bit by bit (independently of the toolkit's table).
uint32_t crc32(const uint8_t* data, size_t size);

struct Packet {
    uint16_t pid = 0;
    bool pusi = false;
    uint8_t cc = 0;
    bool tei = false;
    bool priority = false;
    uint8_t scrambling = 0;
    bool hasAdaptation = false;  // adaptation_field_control bit 1
    bool hasPayload = true;      // adaptation_field_control bit 0
    Bytes adaptation;            // adaptation field bytes behind its length byte
    Bytes payload;               // padded with 0xFF to the packet's end
};
// 188 bytes; adaptation_field_length is adaptation.size().
Bytes packet(const Packet& p);

// Adaptation field body (flags byte first) carrying a PCR, padded with
// `stuffing` 0xFF bytes.
Bytes pcrAdaptation(uint64_t base, uint16_t extension, size_t stuffing = 0);

// A long-syntax section: table_id, section_syntax_indicator 1, '0' bit,
// reserved bits 11, section_length, table_id_extension, reserved 11, version,
// current_next 1, section numbers 0, body, CRC_32.
Bytes section(uint8_t tableId, uint16_t extension, uint8_t version, const Bytes& body);
// The same, section `number` of sections 0 to `last`.
Bytes numberedSection(uint8_t tableId, uint16_t extension, uint8_t version, uint8_t number, uint8_t last,
                      const Bytes& body);
// `section` with other section numbers, or not yet in force, its CRC fresh.
Bytes numbered(Bytes section, uint8_t number, uint8_t last, bool current = true);

struct Program {
    uint16_t number;
    uint16_t pid;
};
Bytes patSection(uint16_t tsid, uint8_t version, const std::vector<Program>& programs);

Bytes descriptor(uint8_t tag, const Bytes& body);
Bytes caDescriptor(uint16_t system, uint16_t pid, const Bytes& priv = {});

struct Stream {
    uint8_t type;
    uint16_t pid;
    Bytes descriptors;
};
Bytes pmtSection(uint16_t program, uint16_t pcrPid, const Bytes& programDescriptors,
                 const std::vector<Stream>& streams, uint8_t version = 0);
Bytes catSection(const Bytes& descriptors, uint8_t version = 0);
// EIT present/following actual, section 0, of `service`: a present event
// `eventId` starting 2026-12-08 20:00 for 1 h 30 min (no descriptors), or no
// event at all (eventId -1).
Bytes presentEventSection(uint16_t service, uint8_t version, int eventId);

// Spreads `sectionBytes` over packets of `pid`: the first with pusi and a
// pointer_field of 0, the rest continuing at byte 4; counters from `cc` on
// (advanced). The last packet is stuffed with 0xFF.
std::vector<Bytes> packetize(uint16_t pid, const Bytes& sectionBytes, uint8_t& cc);

// `p` with its payload moved to the packet's end: the room before it goes to
// an adaptation field of `flags` (0x40: random_access_indicator) and stuffing.
Bytes packetEndingWith(Packet p, uint8_t flags = 0);

// A packet of `pid` whose payload is `fill` bytes (an elementary stream packet).
Bytes esPacket(uint16_t pid, uint8_t& cc, uint8_t fill = 0xAA);

// A stream under construction, with a continuity counter per PID. The add
// functions return the index of the first packet they added, so that
// expected outputs read as lists of input packets.
class Stream188 {
public:
    size_t add(const Bytes& packet188) {
        size_t first = count();
        append(bytes, packet188);
        return first;
    }
    size_t add(const std::vector<Bytes>& packets) {
        size_t first = count();
        for (const Bytes& p : packets) append(bytes, p);
        return first;
    }
    size_t section(uint16_t pid, const Bytes& s) { return add(packetize(pid, s, cc[pid & 0x1FFF])); }
    size_t pat(const std::vector<Program>& programs, uint8_t version = 0) {
        return section(0, patSection(1, version, programs));
    }
    size_t es(uint16_t pid) { return add(esPacket(pid, cc[pid & 0x1FFF])); }
    size_t count() const { return bytes.size() / 188; }
    Bytes packets(const std::vector<size_t>& indices) const;

    Bytes bytes;
    uint8_t cc[8192] = {};
};

// One packet of `pid` carrying `sectionBytes` behind a pointer_field of 0.
Bytes psiPacket(uint16_t pid, uint8_t cc, const Bytes& sectionBytes);

void writeFile(const std::string& path, const Bytes& data);
Bytes readFile(const std::string& path);  // empty when it cannot be read

// Slices of a stream: the packets at the given indices, concatenated.
Bytes packetsAt(const Bytes& stream, const std::vector<size_t>& indices);

std::string hex(const Bytes& data);

}  // namespace tsb

#endif
