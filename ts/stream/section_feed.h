// The one step by which every driver takes sections from packets: a packet's
// payload goes to a reassembly slot, and each section it completes is handed
// to the driver once its table_id and CRC_32 verify. Dumps, which show
// damaged tables too, ask for every completed section instead.
//
// The step also says which sections the packet carried bytes of, so that a
// driver that copies the packets of a table knows whom they belong to
// without reading the slot or re-deriving the continuity rule.
#ifndef RIVULET_SECTION_FEED_H
#define RIVULET_SECTION_FEED_H

#include <cstdint>

#include "rivulet/packets_sections.h"

namespace rivulet {

constexpr int16_t kAnyTableId = -1;
// Sections one packet can touch: the end of a pending one, as many as fit in
// 183 bytes at 12 bytes at least each, and one left pending.
constexpr uint32_t kMaxSectionsPerPacket = 2 + (TS_PACKET_SIZE - 5) / 12;

using SectionImport = int32_t (*)(TS_PreSection*, TS_Payload*);

// What one packet gave a slot.
struct SectionFeed {
    bool hadPayload;         // the packet offered section bytes
    uint32_t u32Completed;   // sections completed in it, verified or not
    bool pendingAfter;       // a section is still being gathered behind it
    // table_id_extension of each section the packet carried bytes of, where
    // that section's header has arrived: the one it continued, the ones it
    // completed, the one left pending.
    uint32_t u32Extensions;
    uint16_t lu16Extensions[kMaxSectionsPerPacket];
    // The section left pending began so late in the packet that its
    // table_id_extension has not arrived: whose it is, is not known yet.
    uint8_t u8UnknownPending;
};

// False when the section's table_id_extension has not arrived.
inline bool noteExtension(SectionFeed& feed, const TS_PreSection& slot) {
    uint16_t extension;
    if (TS_PreSection_TableIdExtension(&slot, &extension) != 0) return false;
    if (feed.u32Extensions < kMaxSectionsPerPacket) feed.lu16Extensions[feed.u32Extensions++] = extension;
    return true;
}

// A verified section in force: one with current_next_indicator 0 announces a
// table to come, not the one that applies.
inline bool isCurrent(const TS_PreSection& slot) {
    constexpr uint8_t kSyntaxBit = 0x80;
    return !(slot.body[1] & kSyntaxBit) || (slot.body[5] & 1);
}

// Feeds `packet` (header parsed in `header`) to `slot` through `import`, and
// calls onSection(const TS_PreSection& slot, bool begunEarlier) for every
// completed section of table `tableId` whose CRC_32 verifies and that is in
// force, or for every completed section with kAnyTableId. begunEarlier: the
// section started in an earlier packet.
template <class OnSection>
SectionFeed feedSections(TS_PreSection& slot, SectionImport import, const uint8_t* packet, const TS_Packet& header,
                         int16_t tableId, OnSection&& onSection) {
    SectionFeed feed{};
    TS_Payload payload;
    TS_Payload_Begin(&payload, &header, packet);
    feed.hadPayload = TS_Payload_HasData(&payload) != 0;
    bool pendingBefore = !slot.complete;
    if (TS_PreSection_Continues(&slot, &payload)) noteExtension(feed, slot);
    for (bool firstImport = true; TS_Payload_HasData(&payload); firstImport = false) {
        if (import(&slot, &payload) != TS_SECTION_COMPLETE) continue;
        ++feed.u32Completed;
        noteExtension(feed, slot);
        if (tableId == kAnyTableId || (TS_PreSection_Verify(&slot, uint8_t(tableId)) == 0 && isCurrent(slot))) {
            onSection(static_cast<const TS_PreSection&>(slot), firstImport && pendingBefore);
        }
    }
    feed.pendingAfter = !slot.complete;
    if (feed.pendingAfter && !noteExtension(feed, slot)) feed.u8UnknownPending = 1;
    return feed;
}

}  // namespace rivulet

#endif
