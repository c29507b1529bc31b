// Stream pieces and views several tests share.
#ifndef RIVULET_TESTS_STREAMS_H
#define RIVULET_TESTS_STREAMS_H

#include <string>
#include <utility>
#include <vector>

#include "rivulet/packets_sections.h"
#include "tools/stream_builder.h"

// The PID of the packet at byte `at`.
uint16_t pidAt(const tsb::Bytes& bytes, size_t at);

// The 188-byte packets of `bytes` on `pid`, in order.
std::vector<tsb::Bytes> packetsOf(const tsb::Bytes& bytes, uint16_t pid);

// Every 188-byte packet of `stream` with `prefix` in front and `suffix`
// behind; `junk` first and after every seventh.
tsb::Bytes framed(const tsb::Bytes& stream, const tsb::Bytes& prefix, const tsb::Bytes& suffix = {}, const tsb::Bytes& junk = {});

// A section's CRC_32, the last four bytes, as eight upper-case hex digits.
std::string crcHex(const tsb::Bytes& section);

// A packet of adaptation field alone: a PCR and 176 bytes of stuffing.
tsb::Bytes pcrPacket(uint16_t pid, uint64_t base, uint16_t extension = 0, uint8_t cc = 0);

// An SDT actual of network 1 naming each service (type 1, no provider).
tsb::Bytes sdtSection(const std::vector<std::pair<uint16_t, std::string>>& services, uint16_t stream = 1);

// A reassembly slot holding the whole of `section`.
TS_PreSection sectionSlot(const tsb::Bytes& section);

// A piece of a made stream: a section on `pid`, in as many packets as it
// takes; without bytes, a packet of the PID's elementary stream; on kWhole,
// whole packets, taken as they are.
struct Piece {
    uint16_t pid;
    tsb::Bytes bytes = {};
};
constexpr uint16_t kWhole = 0xFFFF;

// The stream of `pieces` in order, every PID's counter from 0.
tsb::Stream188 streamOf(const std::vector<Piece>& pieces);

#endif
