#include "ts/split/si_carrier.h"

#include <cstring>

#include "ts/core/bounded_count.h"
#include "ts/core/byte_writer.h"
#include "ts/section/section_reader.h"
#include "ts/programs/pat_table.h"
#include "ts/section/sdt.h"
#include "ts/stream/packet_format.h"

namespace rivulet {
namespace {

constexpr uint8_t kTableEITActualScheduleFirst = 0x50;
constexpr uint8_t kTableEITActualScheduleLast = 0x5F;

uint32_t slotOf(uint16_t pid) {
    switch (pid) {
    case kPIDSDT: return 0;
    case kPIDEIT: return 1;
    case kPIDISDBEIT1: return 2;
    default: return 3;
    }
}

bool isEITActual(uint8_t tableId) {
    return tableId == kTableEITPresentFollowing ||
           (tableId >= kTableEITActualScheduleFirst && tableId <= kTableEITActualScheduleLast);
}

struct Emission {
    SICarrier* carrier;
    const SITargets* targets;
    const uint8_t* prefix;  // the completing packet's TP_extra_header, if any
    uint16_t pid;
    int32_t status;
};

// Writes `section` to file `index` as packets of its own on the PID.
void emitSection(Emission& e, uint32_t index, const uint8_t* section, uint32_t size) {
    uint8_t unit[kMaxOutputUnitSize];
    uint32_t prefix = e.targets->u32Prefix;
    std::memcpy(unit, e.prefix, prefix);
    uint8_t& counter = e.carrier->counters[index].lu8Next[slotOf(e.pid)];
    for (uint32_t done = 0, first = 1; done < size; first = 0) {
        uint8_t* packet = unit + prefix;
        packet[0] = TS_SYNC_BYTE;
        packet[1] = uint8_t((first ? 0x40 : 0) | (e.pid >> 8));
        packet[2] = uint8_t(e.pid);
        packet[3] = uint8_t(0x10 | (counter & 0x0F));
        counter = uint8_t((counter + 1) & 0x0F);
        uint32_t at = 4;
        if (first) packet[at++] = 0;  // pointer_field
        uint32_t take = boundedCount(size - done, TS_PACKET_SIZE - at);
        std::memcpy(packet + at, section + done, take);
        std::memset(packet + at + take, 0xFF, TS_PACKET_SIZE - at - take);
        done += take;
        int32_t status = e.targets->write(e.targets->pUser, index, unit);
        if (status != 0 && e.status == 0) e.status = status;
    }
}

uint16_t read16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// One SDT of the service of `entry` (its loop entry with its descriptors),
// behind the header of `section`: section_length recomputed, section_number
// and last_section_number 0, a fresh CRC_32. Returns its size.
uint32_t buildServiceSDT(uint8_t* out, const uint8_t* section, const uint8_t* entry, uint32_t entrySize) {
    ByteWriter w(out, TS_SECTION_BODY_SIZE);
    w.u8(section[0]);
    w.u16(uint16_t((read16(section + 1) & 0xF000) | (kSDTHeaderSize - 3 + entrySize + kCRCSize)));
    w.bytes(section + 3, 3);  // transport_stream_id, version and current_next_indicator
    w.u8(0);                  // section_number
    w.u8(0);                  // last_section_number
    w.bytes(section + 8, kSDTHeaderSize - 8);
    w.bytes(entry, entrySize);
    w.putCRC32(0);
    return w.written();
}

// Writes `section` to file `index`, unless the targets keep it for later.
void deliverSection(Emission& e, uint32_t index, const uint8_t* section, uint32_t size) {
    const SITargets& t = *e.targets;
    if (!t.keep || !t.keep(t.pUser, index, e.pid, section, size)) emitSection(e, index, section, size);
}

void onSDT(Emission& e, const TS_PreSection& slot) {
    if (slot.section_total_length < kSDTHeaderSize + kCRCSize) return;
    uint8_t rebuilt[TS_SECTION_BODY_SIZE];
    forEachSDTService(slot, [&](uint16_t serviceId, const uint8_t* entry, uint32_t entrySize, ByteReader) {
        for (uint32_t i = 0; i < e.targets->u32Count; ++i) {
            if (e.targets->programOf(e.targets->pUser, i) != serviceId) continue;
            deliverSection(e, i, rebuilt, buildServiceSDT(rebuilt, slot.body, entry, entrySize));
        }
    });
}

void onEIT(Emission& e, const uint8_t* section, uint32_t size) {
    uint16_t serviceId = read16(section + 3);
    for (uint32_t i = 0; i < e.targets->u32Count; ++i) {
        if (e.targets->programOf(e.targets->pUser, i) == serviceId) deliverSection(e, i, section, size);
    }
}

// A verified section in force of one of the PIDs siIsSectionPID names.
void takeSection(Emission& e, const TS_PreSection& slot) {
    uint8_t tableId = slot.body[0];
    if (tableId == kTableSDTActual && e.pid == kPIDSDT) {
        onSDT(e, slot);
    } else if (isEITActual(tableId) && e.pid != kPIDSDT) {
        onEIT(e, slot.body, slot.section_total_length);
    }
}

}  // namespace

void siFree(SICarrier* carrier) { release(carrier->counters); }

void siFileOpened(SICarrier* carrier, uint32_t index) { carrier->counters[index] = SICounters{}; }

uint16_t siNetworkPID(const TS_PAT& pat) {
    const TS_PAT_Program* network = patNetworkEntry(pat);
    return network ? network->program_map_PID : kNoNetworkPID;
}

int32_t siTakeSection(SICarrier* carrier, const TableSection& section, const SITargets& targets) {
    Emission e{carrier, &targets, section.pPacket - targets.u32Prefix, section.u16PID, 0};
    takeSection(e, *section.pSlot);
    return e.status;
}

int32_t siWriteSection(SICarrier* carrier, const SITargets& targets, uint32_t index, uint16_t pid,
                       const uint8_t* prefix, const uint8_t* section, uint32_t size) {
    Emission e{carrier, &targets, prefix, pid, 0};
    emitSection(e, index, section, size);
    return e.status;
}

}  // namespace rivulet
