#include "ts/stream/packet_format.h"

#include "ts/stream/packet_phase.h"

namespace rivulet {
namespace {

constexpr uint32_t kCandidateSizes[] = {TS_PACKET_SIZE, kM2TSPacketSize, kParityPacketSize};

uint32_t prefixOf(uint32_t size) { return size == kM2TSPacketSize ? kM2TSHeaderSize : 0; }

// Whether the sync byte at `sync` recurs at `size` bytes distance at the next
// positions that still hold a whole packet: all of the first seven, at least one.
bool recurs(const uint8_t* data, uint64_t end, uint64_t sync, uint32_t size) {
    uint32_t tail = size - prefixOf(size);  // packet bytes from the sync byte on
    uint32_t seen = 0;
    for (uint32_t k = 1; k <= kFormatConfirmations; ++k) {
        uint64_t next = sync + uint64_t(k) * size;
        if (next + tail > end) break;
        if (data[next] != TS_SYNC_BYTE) return false;
        ++seen;
    }
    return seen > 0;
}

bool possibleHeader(const uint8_t* packet) { return (packet[1] & 0x80) == 0 && (packet[3] & 0x30) != 0; }

// The stream may begin before the sync byte that recurs seven times: steps
// back from the phase found there over the packets in front of it, in phase,
// and behind a little junk (less than a packet) a packet whose header is
// possible, as far as the first sync byte.
uint64_t firstPacketOf(const uint8_t* data, uint64_t firstSync, uint64_t phase, uint32_t size) {
    uint64_t first = phase;
    for (;;) {
        if (first >= firstSync + size && data[first - size] == TS_SYNC_BYTE) {
            first -= size;
            continue;
        }
        uint64_t hop = first;
        for (uint64_t junk = 1; junk < size && first >= firstSync + size + junk; ++junk) {
            uint64_t sync = first - size - junk;
            if (data[sync] == TS_SYNC_BYTE && possibleHeader(data + sync)) {
                hop = sync;
                break;
            }
        }
        if (hop == first) return first;
        first = hop;
    }
}

PacketFormat formatAt(uint32_t size, uint64_t sync, uint64_t anchor) {
    uint32_t prefix = prefixOf(size);
    // An M2TS packet needs its header in front: a sync byte too close to the
    // start begins no packet, the next one does.
    uint64_t first = sync >= prefix ? sync - prefix : sync + size - prefix;
    return PacketFormat{size, prefix, uint32_t(first), 1, uint32_t(anchor)};
}

}  // namespace

PacketFormat detectPacketFormat(const uint8_t* data, uint64_t size) {
    uint64_t searchEnd = size < kFormatSearchSize ? size : kFormatSearchSize;
    uint64_t firstSync = size;
    for (uint64_t sync = 0; sync < searchEnd; ++sync) {
        if (data[sync] != TS_SYNC_BYTE) continue;
        if (firstSync == size) firstSync = sync;
        for (uint32_t candidate : kCandidateSizes) {
            if (!recurs(data, size, sync, candidate)) continue;
            uint32_t tail = candidate - prefixOf(candidate);
            uint64_t phase = bestPhase(data, size, sync, candidate, candidate, tail, nullptr, true);
            return formatAt(candidate, firstPacketOf(data, firstSync, phase, candidate), sync);
        }
    }
    // No sync byte in the search range: the walk looks on from its end.
    return PacketFormat{TS_PACKET_SIZE, 0, uint32_t(firstSync < size ? firstSync : searchEnd), 0, 0};
}

}  // namespace rivulet
