// Transport packet header (4 bytes) and adaptation field parsing.
#include "rivulet/packets_sections.h"
#include "ts/core/byte_reader.h"

using rivulet::ByteReader;

namespace {

// The adaptation field starts at byte 4 with its length; its body never runs
// past the packet whatever that length says (183 bytes at most).
constexpr uint32_t kAdaptationBodyStart = 5;
constexpr uint32_t kMaxAdaptationBody = TS_PACKET_SIZE - kAdaptationBodyStart;

// PCR and OPCR share one layout: 33-bit base, 6 reserved bits, 9-bit extension.
void readClock(ByteReader& r, uint64_t& base, uint8_t& reserved, uint16_t& extension) {
    uint64_t bits = uint64_t(r.u32()) << 16 | r.u16();
    base = bits >> 15;
    reserved = uint8_t((bits >> 9) & 0x3F);
    extension = uint16_t(bits & 0x1FF);
}

void readExtension(TS_AdaptationField& f, ByteReader& body) {
    f.adaptation_field_extension_length = body.u8();
    ByteReader ext = body.take(f.adaptation_field_extension_length);
    uint8_t flags = ext.u8();
    f.ltw_flag = flags >> 7;
    f.piecewise_rate_flag = (flags >> 6) & 1;
    f.seamless_splice_flag = (flags >> 5) & 1;
    f.extension_flags_reserved = flags & 0x1F;
    if (f.ltw_flag) {
        uint16_t v = ext.u16();
        f.ltw_valid_flag = uint8_t(v >> 15);
        f.ltw_offset = v & 0x7FFF;
    }
    if (f.piecewise_rate_flag) {
        uint32_t v = ext.u24();
        f.piecewise_rate_reserved = uint8_t(v >> 22);
        f.piecewise_rate = v & 0x3FFFFF;
    }
    if (f.seamless_splice_flag) {
        uint8_t b0 = ext.u8();
        uint16_t b12 = ext.u16();
        uint16_t b34 = ext.u16();
        f.splice_type = b0 >> 4;
        f.DTS_next_AU = uint64_t((b0 >> 1) & 0x07) << 30 | uint64_t(b12 >> 1) << 15 | (b34 >> 1);
        f.marker_bit_1 = b0 & 1;
        f.marker_bit_2 = b12 & 1;
        f.marker_bit_3 = b34 & 1;
    }
    f.extension_reserved_length =
        uint8_t(ext.copy(f.extension_reserved_byte, ext.remaining(), sizeof f.extension_reserved_byte));
}

}  // namespace

int32_t TS_Packet_GetHeader(TS_Packet* packet, const uint8_t* data) {
    if (!packet || !data) return -1;
    if (data[0] != TS_SYNC_BYTE) return TS_ERR_NO_SYNC;
    packet->sync_byte = data[0];
    packet->transport_error_indicator = data[1] >> 7;
    packet->payload_unit_start_indicator = (data[1] >> 6) & 1;
    packet->transport_priority = (data[1] >> 5) & 1;
    packet->PID = uint16_t((data[1] & 0x1F) << 8 | data[2]);
    packet->transport_scrambling_control = data[3] >> 6;
    packet->adaptation_field_control = (data[3] >> 4) & 3;
    packet->continuity_counter = data[3] & 0x0F;
    return 0;
}

int32_t TS_Packet_Get(TS_Packet* packet, const uint8_t* data) {
    int32_t status = TS_Packet_GetHeader(packet, data);
    if (status == 0 && (packet->adaptation_field_control & 2)) {
        TS_Packet_GetAdaptationField(&packet->adaptation_field, packet, data);
    }
    return status;
}

int32_t TS_Packet_GetAdaptationField(TS_AdaptationField* field, const TS_Packet* packet,
                                     const uint8_t* data) {
    if (!field || !packet || !data) return -1;
    if (!(packet->adaptation_field_control & 2)) return TS_ERR_NO_ADAPTATION_FIELD;

    TS_AdaptationField& f = *field;
    f.adaptation_field_length = data[4];
    uint32_t length = f.adaptation_field_length < kMaxAdaptationBody ? f.adaptation_field_length
                                                                     : kMaxAdaptationBody;
    ByteReader body(data + kAdaptationBodyStart, length);
    // A zero-length field is a single stuffing byte: it has no flags byte.
    uint8_t flags = body.u8();
    f.discontinuity_indicator = flags >> 7;
    f.random_access_indicator = (flags >> 6) & 1;
    f.elementary_stream_priority_indicator = (flags >> 5) & 1;
    f.PCR_flag = (flags >> 4) & 1;
    f.OPCR_flag = (flags >> 3) & 1;
    f.splicing_point_flag = (flags >> 2) & 1;
    f.transport_private_data_flag = (flags >> 1) & 1;
    f.adaptation_field_extension_flag = flags & 1;

    if (f.PCR_flag) {
        readClock(body, f.program_clock_reference_base, f.PCR_reserved,
                  f.program_clock_reference_extension);
    }
    if (f.OPCR_flag) {
        readClock(body, f.original_program_clock_reference_base, f.OPCR_reserved,
                  f.original_program_clock_reference_extension);
    }
    if (f.splicing_point_flag) f.splice_countdown = body.u8();
    if (f.transport_private_data_flag) {
        f.transport_private_data_length = body.u8();
        body.copy(f.private_data_byte, f.transport_private_data_length, sizeof f.private_data_byte);
    }
    if (f.adaptation_field_extension_flag) readExtension(f, body);
    f.stuffing_length = uint8_t(body.copy(f.stuffing_byte, body.remaining(), sizeof f.stuffing_byte));
    return 0;
}
