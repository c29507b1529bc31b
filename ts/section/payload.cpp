// Where a packet's section bytes lie. The payload begins behind the 4-byte
// header and, when adaptation_field_control has bit 1 set, behind the
// adaptation field (its length byte plus that many bytes). In a packet that
// starts a payload unit, the first payload byte is the pointer_field: the bytes
// before the point it names finish the pending section, new sections begin
// there. In any other packet the whole payload continues the pending section.
#include "rivulet/packets_sections.h"

namespace {

constexpr uint8_t kStageContinuation = 0;
constexpr uint8_t kStageDone = 2;

uint16_t clampToPacket(uint32_t offset) {
    return uint16_t(offset < TS_PACKET_SIZE ? offset : TS_PACKET_SIZE);
}

}  // namespace

int32_t TS_Payload_Begin(TS_Payload* payload, const TS_Packet* packet, const uint8_t* data) {
    if (!payload) return -1;
    payload->lu8Packet = data;
    payload->u8Stage = kStageDone;
    payload->u16Pos = TS_PACKET_SIZE;
    payload->u16ContinuationEnd = TS_PACKET_SIZE;
    if (!packet || !data) return -1;
    payload->continuity_counter = packet->continuity_counter;
    payload->payload_unit_start_indicator = packet->payload_unit_start_indicator;

    uint32_t start = 4;
    if (packet->adaptation_field_control & 2) start += 1u + data[4];
    bool hasPayload = (packet->adaptation_field_control & 1) && start < TS_PACKET_SIZE;
    if (!hasPayload) return 0;

    payload->u8Stage = kStageContinuation;
    if (packet->payload_unit_start_indicator) {
        uint32_t pointer = data[start];
        payload->u16Pos = uint16_t(start + 1);
        payload->u16ContinuationEnd = clampToPacket(start + 1 + pointer);
    } else {
        payload->u16Pos = uint16_t(start);
        payload->u16ContinuationEnd = TS_PACKET_SIZE;
    }
    return 0;
}

int32_t TS_Payload_HasData(const TS_Payload* payload) {
    return payload && payload->u8Stage != kStageDone ? 1 : 0;
}
