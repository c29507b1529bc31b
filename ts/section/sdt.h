// The service loop of a Service Description Table section (ETSI EN 300
// 468): behind the long header, original_network_id and a reserved byte,
// then one entry per service: service_id, the EIT flags,
// descriptors_loop_length and the descriptors. Read in one place for the
// program list's names and for the service information carried with a split.
#ifndef RIVULET_SDT_H
#define RIVULET_SDT_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/section/section_reader.h"

namespace rivulet {

constexpr uint16_t kPIDSDT = 0x0011;
constexpr uint8_t kTableSDTActual = 0x42;
// Bytes of the header that a rebuilt SDT keeps: through original_network_id
// and its reserved byte.
constexpr uint32_t kSDTHeaderSize = 11;

inline uint16_t sdtOriginalNetwork(const TS_PreSection& slot) { return sectionLoops(sectionBytes(&slot)).u16(); }

// Calls fn(service_id, entry, entrySize, descriptors) for each entry of the
// service loop of the SDT section in `slot`: the entry's bytes as they stand
// (cut at the section's CRC_32) and a reader over its descriptors.
template <class Fn>
void forEachSDTService(const TS_PreSection& slot, Fn&& fn) {
    constexpr uint32_t kServiceEntryHeader = 5;
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    loops.skip(3);  // original_network_id, reserved_future_use
    while (loops.canRead(kServiceEntryHeader)) {
        const uint8_t* entry = loops.current();
        uint32_t before = loops.remaining();
        uint16_t serviceId = loops.u16();
        loops.u8();  // EIT flags
        ByteReader descriptors = loops.take(loops.u16() & 0x0FFF);
        fn(serviceId, entry, before - loops.remaining(), descriptors);
    }
}

}  // namespace rivulet

#endif
