// Section reassembly: gathers the sections of one PID into a slot, packet by
// packet, checking continuity while a section is pending.
#include <cstring>

#include "rivulet/tables.h"

namespace {

constexpr uint8_t kStageContinuation = 0;
constexpr uint8_t kStageNewSections = 1;
constexpr uint8_t kStageDone = 2;
constexpr uint16_t kSectionHeaderSize = 3;  // table_id and the 12-bit section_length
constexpr uint16_t kExtensionEnd = 5;       // table_id_extension ends at byte 5
constexpr uint8_t kStuffing = 0xFF;         // a table_id of 0xFF marks the rest of a payload as stuffing

void reset(TS_PreSection* slot) { TS_PreSection_Initialise(slot); }

void startSection(TS_PreSection* slot, uint8_t cc) {
    slot->complete = TS_PRESECTION_GATHERING;
    slot->section_total_length = 0;
    slot->received_length = 0;
    slot->last_continuity_counter = int8_t(cc);
}

// 0 when `cc` follows the slot's last counter (15 is followed by 0).
int32_t checkContinuity(const TS_PreSection* slot, uint8_t cc) {
    if (slot->last_continuity_counter == 15) return cc == 0 ? 0 : TS_ERR_CONTINUITY_WRAP;
    return cc == slot->last_continuity_counter + 1 ? 0 : TS_ERR_CONTINUITY;
}

// The section_length an import accepts: from u16MinLength up to sections of
// u32MaxTotal bytes in all.
struct SectionLimits {
    uint16_t u16MinLength;
    uint32_t u32MaxTotal;
};

// Appends bytes of the pending section from payload->u16Pos up to `end`,
// as many as the section still needs. Learns the section's length once its
// 3-byte header is in and refuses lengths outside the import's limits.
int32_t gather(TS_PreSection* slot, TS_Payload* payload, uint16_t end, const SectionLimits& limits) {
    const uint8_t* data = payload->lu8Packet;
    while (payload->u16Pos < end) {
        if (slot->section_total_length == 0) {
            slot->body[slot->received_length++] = data[payload->u16Pos++];
            if (slot->received_length < kSectionHeaderSize) continue;
            uint16_t length = uint16_t((slot->body[1] & 0x0F) << 8 | slot->body[2]);
            if (length < limits.u16MinLength) {
                reset(slot);
                return TS_ERR_SECTION_SHORT;
            }
            if (uint32_t(length) + kSectionHeaderSize > limits.u32MaxTotal) {
                reset(slot);
                return TS_ERR_SECTION_LONG;
            }
            slot->section_total_length = uint16_t(length + kSectionHeaderSize);
            continue;
        }
        uint16_t missing = uint16_t(slot->section_total_length - slot->received_length);
        uint16_t available = uint16_t(end - payload->u16Pos);
        uint16_t count = missing < available ? missing : available;
        std::memcpy(slot->body + slot->received_length, data + payload->u16Pos, count);
        slot->received_length = uint16_t(slot->received_length + count);
        payload->u16Pos = uint16_t(payload->u16Pos + count);
        if (slot->received_length == slot->section_total_length) {
            slot->complete = TS_PRESECTION_IDLE;
            return TS_SECTION_COMPLETE;
        }
    }
    return 0;
}

// The bytes in front of the pointer_field's target (or the whole payload of a
// packet that starts nothing) continue the pending section, if there is one.
int32_t continuePending(TS_PreSection* slot, TS_Payload* payload, const SectionLimits& limits) {
    payload->u8Stage = payload->payload_unit_start_indicator ? kStageNewSections : kStageDone;
    uint16_t end = payload->u16ContinuationEnd;
    if (slot->complete) {  // idle: these bytes belong to a section we never saw begin
        payload->u16Pos = end;
        return 0;
    }
    int32_t status = checkContinuity(slot, payload->continuity_counter);
    if (status != 0) {
        reset(slot);
        payload->u16Pos = end;
        return status;
    }
    slot->last_continuity_counter = int8_t(payload->continuity_counter);
    status = gather(slot, payload, end, limits);
    if (status == 0 && payload->payload_unit_start_indicator) {
        // A new section starts while this one still misses bytes: it is lost.
        reset(slot);
        status = TS_ERR_SECTION_TRUNCATED;
    }
    payload->u16Pos = end;
    return status;
}

int32_t beginNext(TS_PreSection* slot, TS_Payload* payload, const SectionLimits& limits) {
    if (payload->u16Pos >= TS_PACKET_SIZE || payload->lu8Packet[payload->u16Pos] == kStuffing) {
        payload->u8Stage = kStageDone;
        return 0;
    }
    startSection(slot, payload->continuity_counter);
    int32_t status = gather(slot, payload, TS_PACKET_SIZE, limits);
    if (status != TS_SECTION_COMPLETE) payload->u8Stage = kStageDone;
    return status;
}

int32_t import(TS_PreSection* slot, TS_Payload* payload, const SectionLimits& limits) {
    if (!payload) return -1;
    if (!slot || !payload->lu8Packet || payload->continuity_counter > 15) {
        payload->u8Stage = kStageDone;
        return -1;
    }
    if (payload->u8Stage == kStageContinuation) {
        int32_t status = continuePending(slot, payload, limits);
        if (status != 0) return status;
    }
    if (payload->u8Stage == kStageNewSections) return beginNext(slot, payload, limits);
    return 0;
}

constexpr SectionLimits kPSILimits = {9, TS_PSI_SECTION_MAX};  // 5 header bytes and the CRC
constexpr SectionLimits kPrivateLimits = {13, TS_PSI_SECTION_MAX};
constexpr SectionLimits kSILimits = {5, TS_SECTION_BODY_SIZE};  // the TDT's section_length: its UTC_time alone

}  // namespace

int32_t TS_PreSection_Initialise(TS_PreSection* slot) {
    if (!slot) return -1;
    slot->complete = TS_PRESECTION_IDLE;
    slot->section_total_length = 0;
    slot->received_length = 0;
    slot->last_continuity_counter = -1;
    std::memset(slot->body, 0, sizeof slot->body);
    return 0;
}

int32_t TS_PAT_ImportPreSection(TS_PreSection* slot, TS_Payload* payload) {
    return import(slot, payload, kPSILimits);
}
int32_t TS_CAT_ImportPreSection(TS_PreSection* slot, TS_Payload* payload) {
    return import(slot, payload, kPSILimits);
}
int32_t TS_PMT_ImportPreSection(TS_PreSection* slot, TS_Payload* payload) {
    return import(slot, payload, kPSILimits);
}
int32_t TS_Section_ImportPreSection(TS_PreSection* slot, TS_Payload* payload) {
    return import(slot, payload, kPrivateLimits);
}

int32_t TS_PreSection_Continues(const TS_PreSection* slot, const TS_Payload* payload) {
    if (!slot || !payload || slot->complete || !TS_Payload_HasData(payload)) return 0;
    bool continuationBytes = payload->u8Stage == kStageContinuation && payload->u16Pos < payload->u16ContinuationEnd;
    return continuationBytes && checkContinuity(slot, payload->continuity_counter) == 0 ? 1 : 0;
}

int32_t TS_PreSection_TableIdExtension(const TS_PreSection* slot, uint16_t* extension) {
    if (!slot || !extension) return -1;
    if (slot->received_length < kExtensionEnd) return TS_ERR_NOT_COMPLETE;
    *extension = uint16_t(slot->body[3] << 8 | slot->body[4]);
    return 0;
}

int32_t TS_SI_ImportPreSection(TS_PreSection* slot, TS_Payload* payload) {
    return import(slot, payload, kSILimits);
}

int32_t TS_PreSection_Verify(const TS_PreSection* slot, uint8_t table_id) {
    if (!slot) return -1;
    if (!slot->complete || slot->section_total_length == 0 ||
        slot->received_length != slot->section_total_length) {
        return TS_ERR_NOT_COMPLETE;
    }
    if (slot->body[0] != table_id) return TS_ERR_TABLE_ID;
    if (GetCRC32(0xFFFFFFFF, slot->body, slot->section_total_length) != 0) return TS_ERR_CRC;
    return 0;
}
