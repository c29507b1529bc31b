// The services of a Selection Information Table section (table 0x7F on PID
// 0x1F): what a partial transport stream (a recording of some services of a
// multiplex, as recorders and ISDB receivers write it) carries in place of
// an SDT. Behind the long header, a loop of transmission information
// descriptors, then per service its service_id, running_status and
// descriptors, among them the service descriptor (EN 300 468 7.1.2, ARIB
// STD-B10 Part 2, 5.1.2).
#ifndef RIVULET_SIT_H
#define RIVULET_SIT_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/section/section_reader.h"

namespace rivulet {

constexpr uint16_t kPIDSIT = 0x001F;
constexpr uint8_t kTableSIT = 0x7F;

// Whether the transmission information of the SIT section in `slot` names
// an ARIB network (its network identification descriptor, tag 0xC2, is
// ARIB's own): its texts are then ARIB STD-B24.
inline bool sitIsARIB(const TS_PreSection& slot) {
    constexpr uint8_t kNetworkIdentificationTag = 0xC2;
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    ByteReader info = loops.take(loops.u16() & 0x0FFF);
    while (info.canRead(2)) {
        uint8_t tag = info.u8();
        info.skip(info.u8());
        if (tag == kNetworkIdentificationTag) return true;
    }
    return false;
}

// Calls fn(service_id, descriptors) for each service of the SIT section in `slot`.
template <class Fn>
void forEachSITService(const TS_PreSection& slot, Fn&& fn) {
    constexpr uint32_t kServiceEntryHeader = 4;
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    loops.skip(loops.u16() & 0x0FFF);  // transmission information
    while (loops.canRead(kServiceEntryHeader)) {
        uint16_t serviceId = loops.u16();
        ByteReader descriptors = loops.take(loops.u16() & 0x0FFF);  // behind running_status
        fn(serviceId, descriptors);
    }
}

}  // namespace rivulet

#endif
